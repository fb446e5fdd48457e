#include "framework/error_messages.h"

#include <array>

namespace dt {
namespace {

// The built-in messages, in stored order. Texts are the system's own: the double spaces
// of ids 19, 23 and 1 and the trailing blank of ids 42 to 44 belong to them.
constexpr MessageDef kDefaultDefs[] = {
    {27, 5, "Invalid Key", "%File key file is invalid. Key must be rebuilt."},
    {26, 3, "Key was not built", "Error: (%ErrorText) repairing key for %File."},
    {10, 3, "File Creation Error", "Error: (%ErrorText) creating %File."},
    {24, 5, "Procedure not defined", "The Procedure %Message has not been defined."},
    {17, 5, "Range Error", "The value of %Field must be lower than %Message."},
    {18, 5, "Range Error", "The value of %Field must be higher than %Message."},
    {16, 5, "Range Error", "The value of %Field must be in range %Message."},
    {14, 5, "Field contents error", "The value of %Field must be found in the %Message file."},
    {31, 5, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from change and "
     "have been reset to original values."},
    {30, 5, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these references "
     "exist."},
    {4, 5, "Record Insert Error",
     "An error was experienced during the creation of a record.|File: %File|Error: %ErrorText."},
    {6, 5, "Record Was Not Updated", "This record was changed by another station."},
    {7, 5, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button "
     "or Ctrl+' to recall your changes."},
    {34, 1, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {33, 1, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {20, 5, "Invalid Request", "This form cannot be used to insert a record"},
    {38, 5, "Invalid Request", "This form cannot be used to update a record"},
    {12, 5, "Invalid Request", "This form cannot be used to delete a record"},
    {8, 1, "Changes will be lost!", "Are you sure you want to cancel?"},
    {13, 5, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key: %Message"},
    {32, 1, "Auto Increment Error",
     "Attempts to automatically number this record have failed.|File: %File|Error: %ErrorText.|Try Again?"},
    {19, 5, "File Load Error", "%File File Load Error.  Error: %ErrorText."},
    {36, 1, "Beginning of File Error",
     "The beginning of the file %File was encountered. Do you want to start again from the end of the file?"},
    {37, 1, "End of File Error",
     "The end of the file %File was encountered. Do you want to start again from the beginning?"},
    {23, 3, "File Access Error", "File %File could not be opened.  Error: %ErrorText."},
    {25, 5, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {11, 5, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {9, 1, "Confirm Delete", "Are you sure you want to delete the highlighted record?"},
    {35, 1, "Save Record", "Do you want to save the changes to this record?"},
    {21, 5, "Transaction cancelled", "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {1, 5, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to previous window."},
    {40, 5, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {3, 1, "Record Added", "This record has been added to the file. Do you want to add another record?"},
    {28, 5, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {5, 5, "Add New Record?", "Record match not found, do you wish to add a new one?"},
    {15, 5, "Value Error", "The value of %Field must be in the list : %Message."},
    {22, 5, "No Records", "There are no records available to process."},
    {2, 5, "Access Denied", "Could not get write access to %File so trying read-only."},
    {39, 2, "File Usage Error", "Attempt to use file (%File) before it was opened"},
    {41, 5, "Unsupported QBE Column",
     "The saved QBE column, %Field is not supported. It will be dropped from the query."},
    {42, 5, "SMTP Error", "The following SMTP Error occurred: %Message "},
    {43, 5, "NNTP Error", "%Message "},
    {44, 5, "Winsock Error", "%Message "},
};

constexpr std::size_t kDefaultCount = sizeof kDefaultDefs / sizeof kDefaultDefs[0];

constexpr std::size_t DefaultTableSize() {
    std::size_t n = 2;
    for (const MessageDef& d : kDefaultDefs) n += 2 + 1 + 1 + d.title.size() + 1 + d.text.size();
    return n;
}

constexpr bool DefaultDefsFit() {
    for (const MessageDef& d : kDefaultDefs)
        if (d.title.size() > 255 || d.text.size() > 255) return false;
    return kDefaultCount <= 65535;
}
static_assert(DefaultDefsFit(), "a built-in title or text does not fit its length byte");

// Lays the definitions out in the binary form at compile time, so the program carries
// the table exactly as it is stored.
constexpr std::array<std::uint8_t, DefaultTableSize()> MakeDefaultTable() {
    std::array<std::uint8_t, DefaultTableSize()> t{};
    std::size_t at = 0;
    auto put_ushort = [&](std::size_t v) {
        t[at++] = static_cast<std::uint8_t>(v & 0xFF);
        t[at++] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put_text = [&](std::string_view s) {
        t[at++] = static_cast<std::uint8_t>(s.size());
        for (char c : s) t[at++] = static_cast<std::uint8_t>(c);
    };
    put_ushort(kDefaultCount);
    for (const MessageDef& d : kDefaultDefs) {
        put_ushort(d.id);
        t[at++] = d.severity;
        put_text(d.title);
        put_text(d.text);
    }
    return t;
}

constexpr std::array<std::uint8_t, DefaultTableSize()> kDefaultTable = MakeDefaultTable();

}  // namespace

std::span<const std::uint8_t> DefaultErrors() {
    return kDefaultTable;
}

bool ParseMessageTable(std::span<const std::uint8_t> table, std::vector<MessageDef>& out) {
    if (table.size() < 2) return false;
    std::size_t count = table[0] | std::size_t(table[1]) << 8;
    std::size_t at = 2;
    std::vector<MessageDef> read;
    read.reserve(count);
    auto take_text = [&](std::string_view& s) {
        if (at >= table.size()) return false;
        std::size_t len = table[at++];
        if (table.size() - at < len) return false;
        s = std::string_view(reinterpret_cast<const char*>(table.data() + at), len);
        at += len;
        return true;
    };
    for (std::size_t i = 0; i < count; ++i) {
        MessageDef d;
        if (table.size() - at < 3) return false;
        d.id = static_cast<USHORT>(table[at] | table[at + 1] << 8);
        d.severity = table[at + 2];
        at += 3;
        if (!take_text(d.title) || !take_text(d.text)) return false;
        read.push_back(d);
    }
    out.insert(out.end(), read.begin(), read.end());
    return true;
}

bool BuildMessageTable(std::span<const MessageDef> defs, std::vector<std::uint8_t>& out) {
    out.clear();
    if (defs.size() > 65535) return false;
    for (const MessageDef& d : defs)
        if (d.title.size() > 255 || d.text.size() > 255) return false;
    auto put_ushort = [&](std::size_t v) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto put_text = [&](std::string_view s) {
        out.push_back(static_cast<std::uint8_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    };
    put_ushort(defs.size());
    for (const MessageDef& d : defs) {
        put_ushort(d.id);
        out.push_back(d.severity);
        put_text(d.title);
        put_text(d.text);
    }
    return true;
}

}  // namespace dt
