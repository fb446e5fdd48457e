// The file control block that every FILE declaration becomes (fields, keys, memos, the
// driver slot), the driver registration record and the argument block that the runtime
// hands to a driver's one entry routine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/codes.h"

namespace dt {

class File;
class Key;

// One field of a record layout. Builders name the field by label; OVER and GROUP
// membership are given by label too and resolved when the File is constructed.
struct Field {
    std::string label;  // e.g. "FILES:NAME"
    std::string name;   // external name, possibly with "|option" column options; "" for none
    FieldType type = FT_END;
    std::uint32_t offset = 0;             // bytes from the start of the record
    std::uint32_t size = 0;               // bytes
    std::uint8_t digits = 0;              // DECIMAL/PDECIMAL: digit count
    std::uint8_t places = 0;              // DECIMAL/PDECIMAL: places after the point
    std::string picture;                  // string fields: optional display picture
    std::array<std::uint16_t, 4> dims{};  // DIM sizes, 0 = no dimension
    std::string over_label;               // label of the field this one lies OVER
    std::string group_label;              // label of the GROUP this field belongs to
    int over = -1;                        // resolved index of over_label
    int group = -1;                       // resolved index of group_label

    static Field Make(std::string_view label, FieldType type, std::size_t offset, std::size_t size);
    static Field Byte(std::string_view l, std::size_t off) { return Make(l, FT_BYTE, off, 1); }
    static Field Short(std::string_view l, std::size_t off) { return Make(l, FT_SHORT, off, 2); }
    static Field Ushort(std::string_view l, std::size_t off) { return Make(l, FT_USHORT, off, 2); }
    static Field Long(std::string_view l, std::size_t off) { return Make(l, FT_LONG, off, 4); }
    static Field Ulong(std::string_view l, std::size_t off) { return Make(l, FT_ULONG, off, 4); }
    static Field Int64(std::string_view l, std::size_t off) { return Make(l, FT_INT64, off, 8); }
    static Field Sreal(std::string_view l, std::size_t off) { return Make(l, FT_SREAL, off, 4); }
    static Field Real(std::string_view l, std::size_t off) { return Make(l, FT_REAL, off, 8); }
    static Field Date(std::string_view l, std::size_t off) { return Make(l, FT_DATE, off, 4); }
    static Field Time(std::string_view l, std::size_t off) { return Make(l, FT_TIME, off, 4); }
    static Field String(std::string_view l, std::size_t off, std::size_t n) {
        return Make(l, FT_STRING, off, n);
    }
    static Field Cstring(std::string_view l, std::size_t off, std::size_t n) {
        return Make(l, FT_CSTRING, off, n);
    }
    static Field Group(std::string_view l, std::size_t off, std::size_t n) {
        return Make(l, FT_GROUP, off, n);
    }
    // DECIMAL(digits, places): packed decimal of digits/2+1 bytes.
    static Field Decimal(std::string_view l, std::size_t off, int digits, int places);
    static Field Pdecimal(std::string_view l, std::size_t off, int digits, int places);

    Field& Over(std::string_view label) {
        over_label = label;
        return *this;
    }
    Field& In(std::string_view group) {
        group_label = group;
        return *this;
    }
    Field& Name(std::string_view external) {
        name = external;
        return *this;
    }
    Field& Picture(std::string_view pic) {
        picture = pic;
        return *this;
    }
    Field& Dim(std::uint16_t a, std::uint16_t b = 0, std::uint16_t c = 0, std::uint16_t d = 0) {
        dims = {a, b, c, d};
        return *this;
    }
};

// Key flag bits.
enum KeyFlag : std::uint32_t {
    KEY_DUP = 1u << 0,
    KEY_OPT = 1u << 1,
    KEY_NOCASE = 1u << 2,
    KEY_PRIMARY = 1u << 4,
    KEY_INDEX = 1u << 14,
};

struct KeyComponent {
    int field = -1;  // index into File::fields
    bool descending = false;
};

// A key (or index) of a file. It registers itself with its file on construction, so a
// table object declares its keys as members after its File. Not copyable: drivers and
// statements hold references.
class Key {
  public:
    // components: field labels, each optionally preceded by '-' (descending) or '+'.
    Key(File& file, std::string_view label, std::initializer_list<std::string_view> components,
        std::uint32_t flags, std::string_view name = {});
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    File& file;
    std::string label;
    std::string name;  // external name, "" for none
    std::uint32_t flags = 0;
    std::vector<KeyComponent> components;
    int number = 0;     // 1-based position among the file's keys
    bool valid = true;  // false when a component label named no field

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
    // The external name, else the label without its "PRE:" prefix.
    std::string IndexName() const;
};

// Memo or blob declaration.
struct Blob {
    std::string label;
    std::string name;
    std::uint8_t flags = 0;  // bit 1 BINARY, bit 2 BLOB (else MEMO)
    std::uint32_t size = 0;  // MEMO size
};

// File flag bits.
enum FileFlag : std::uint8_t {
    FILE_ENCRYPT = 1u << 0,
    FILE_CREATE = 1u << 1,
    FILE_RECLAIM = 1u << 2,
    FILE_THREAD = 1u << 3,
};

// Argument block of a driver call. Its meaning depends on the operation (see Op).
struct DriverArgs {
    Key* key = nullptr;           // operations that take a key
    Key* key2 = nullptr;          // SETkeykey: the key whose values give the start
    long value = 0;               // access mode, seconds, property id, skip count, state handle
    long index = 0;               // property index
    std::array<long, 4> words{};  // BUFFER
    std::string_view text;        // SEND text, property value, position buffer
    std::string* out = nullptr;   // result string (SEND, NAME, GET_PROPERTY, POSITION, GETNULLS)
    long result = 0;              // numeric result (RECORDS, NULL, GETSTATE)
    // Filled by the driver for error 90: five-character state and message.
    std::string file_error_code;
    std::string file_error;
};

using DriverEntry = int (*)(int op, File& file, DriverArgs& args);

// The state a driver hangs in a file's driver slot.
class DriverState {
  public:
    virtual ~DriverState() = default;
};

// Capability limits of a driver (informational).
struct DriverLimits {
    std::uint32_t max_key_components = 0;
    std::uint32_t max_fields = 0;
    std::uint32_t max_record_length = 0;
    std::uint32_t max_name_length = 0;
};

// One static record per driver.
struct DriverRegistration {
    char name[21];
    char library[13];
    char vendor[41];
    char description[31];
    DriverEntry entry;
    std::uint32_t capabilities;
    DriverLimits limits;
    std::uint32_t field_storage, key_storage, file_storage;
    const std::uint8_t* operations;  // count byte, then the codes
    const std::uint8_t* types;       // count byte, then the codes

    bool SupportsOperation(int op) const;
    bool SupportsType(int type) const;
};

// The file control block. The application declares one per table; a table declared
// THREAD makes its object thread_local, so record buffer, null flags and driver state
// are per thread. Not copyable (keys and drivers point into it).
class File {
  public:
    File(std::string_view label, const DriverRegistration& driver, std::string_view driver_string,
         std::string_view name, std::uint8_t flags, void* record, std::size_t record_length,
         std::vector<Field> fields, std::vector<Blob> blobs = {});
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // OWNER given as a fixed text.
    void SetOwner(std::string_view owner) {
        owner_text_ = owner;
        owner_var_ = nullptr;
    }
    // OWNER given as a variable (e.g. a STRING<256> global): read, clipped, at every OPEN.
    void SetOwnerVariable(const char* data, std::size_t size) {
        owner_var_ = data;
        owner_var_size_ = size;
    }
    template <class S>
    void SetOwnerVariable(const S& s) {
        SetOwnerVariable(s.data, sizeof(s.data));
    }
    std::string Owner() const;
    bool HasOwner() const { return owner_var_ != nullptr || !owner_text_.empty(); }

    // External table name: NAME when given, else the label.
    std::string ExternalName() const { return name.empty() ? label : name; }
    int FieldIndex(std::string_view label) const;  // -1 when unknown
    bool Has(std::uint8_t flag) const { return (flags & flag) != 0; }
    char* Record() const { return static_cast<char*>(record); }

    std::string label;
    const DriverRegistration* driver;
    std::string driver_string;
    std::string name;
    std::uint8_t flags;
    void* record;
    std::size_t record_length;
    std::vector<Field> fields;
    std::vector<Key*> keys;
    std::vector<Blob> blobs;
    std::unique_ptr<DriverState> driver_slot;  // empty until the driver's first call
    bool bad_declaration = false;              // an OVER/IN label or key component named no field

  private:
    friend class Key;
    std::string owner_text_;
    const char* owner_var_ = nullptr;
    std::size_t owner_var_size_ = 0;
};

// A table object: the record struct R as base (so FILES.NAME is a field), with its
// control block. The application derives from it and adds its keys as members.
template <class R>
struct Table : R {
    Table(std::string_view label, const DriverRegistration& driver, std::string_view driver_string,
          std::string_view name, std::uint8_t flags, std::vector<Field> fields)
        : R(),
          file(label, driver, driver_string, name, flags, static_cast<R*>(this), sizeof(R),
               std::move(fields)) {}
    operator File&() { return file; }
    R& Record() { return *this; }
    File file;
};

}  // namespace dt
