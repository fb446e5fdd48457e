// ErrorManager: the built-in table and its binary form, raising every message, placeholder
// substitution, severities and their handlers, SILENT, categories, procedure names per
// thread, the history, and the error log.
#include "framework/error_history.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include "runtime/errors.h"
#include "runtime/regional.h"
#include "runtime/stddate.h"
#include "ui/list_format.h"
#include "ui/testing.h"
#include "tests/support/temp_dir.h"

namespace dt {
namespace {

// A manager whose boxes and dialogs are recorded instead of shown, answered from a queue
// of answers (the default button when none is queued), and whose halt is recorded.
class RecordingErrors : public ErrorManager {
  public:
    struct Shown {
        std::string text, title;
        IconRef icon = ICON_NONE;
        int buttons = 0, default_button = 0;
        bool history_dialog = false;
    };
    std::vector<Shown> shown;
    std::deque<int> answers;
    std::vector<HaltRequest> halts;
    std::vector<std::string> calls;  // handlers run, in order

    RecordingErrors() {
        SetHaltHandler([this](const HaltRequest& r) { halts.push_back(r); });
    }

    int ShowBox(std::string_view text, std::string_view title, IconRef icon, int buttons, int def,
                LONG) override {
        shown.push_back({std::string(text), std::string(title), icon, buttons, def, false});
        return Answer(def);
    }
    int ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon, int buttons, int def,
                          LONG) override {
        shown.push_back({std::string(text), std::string(title), icon, buttons, def, true});
        return Answer(def);
    }
    Severity OnQuiet() override { return Note("OnQuiet", ErrorManager::OnQuiet()); }
    Severity OnFatal() override { return Note("OnFatal", ErrorManager::OnFatal()); }
    int OnNotify() override { return Note("OnNotify", ErrorManager::OnNotify()); }
    Severity OnOtherSeverity() override { return Note("OnOtherSeverity", ErrorManager::OnOtherSeverity()); }
    Severity OnProgramError() override { return Note("OnProgramError", ErrorManager::OnProgramError()); }
    Severity OnAskUser() override { return Note("OnAskUser", ErrorManager::OnAskUser()); }

  private:
    int Answer(int def) {
        if (answers.empty()) return def;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    template <class Result>
    Result Note(const char* name, Result result) {
        calls.insert(calls.begin(), name);  // outermost handler returns last: keep call order
        return result;
    }
};

using test::TempDir;

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A table built from definitions; the block is kept alive by the test's own vector.
std::vector<std::uint8_t> Table(std::initializer_list<MessageDef> defs) {
    std::vector<MessageDef> v(defs);
    std::vector<std::uint8_t> block;
    EXPECT_TRUE(BuildMessageTable(v, block));
    return block;
}

class ErrorManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NoteError(ErrNone);
        errors.Startup(dir.path() + "/APFError.Log");
    }
    void TearDown() override {
        errors.Shutdown();
        NoteError(ErrNone);
    }
    TempDir dir;
    RecordingErrors errors;
};

// ---------------------------------------------------------------- the table itself

struct Expected {
    USHORT id;
    BYTE severity;
    const char* title;
    const char* text;  // after substitution with the values of RaisesEveryMessageExactly
};

// Every built-in message in stored order, filled with FILENAME "CUSTOMER", FIELDNAME
// "CUS:NAME", MESSAGETEXT "ABC" and runtime error 2 ("File Not Found").
const Expected kBuiltIn[] = {
    {27, 5, "Invalid Key", "CUSTOMER key file is invalid. Key must be rebuilt."},
    {26, 3, "Key was not built", "Error: (File Not Found (2)) repairing key for CUSTOMER."},
    {10, 3, "File Creation Error", "Error: (File Not Found (2)) creating CUSTOMER."},
    {24, 5, "Procedure not defined", "The Procedure ABC has not been defined."},
    {17, 5, "Range Error", "The value of CUS:NAME must be lower than ABC."},
    {18, 5, "Range Error", "The value of CUS:NAME must be higher than ABC."},
    {16, 5, "Range Error", "The value of CUS:NAME must be in range ABC."},
    {14, 5, "Field contents error", "The value of CUS:NAME must be found in the ABC file."},
    {31, 5, "Referential Integrity Update Error",
     "This record is referenced from the file CUSTOMER. Linking field(s) have been restricted from change "
     "and have been reset to original values."},
    {30, 5, "Referential Integrity Delete Error",
     "This record is referenced from the file CUSTOMER. This record cannot be deleted while these references "
     "exist."},
    {4, 5, "Record Insert Error",
     "An error was experienced during the creation of a record.|File: CUSTOMER|Error: File Not Found (2)."},
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
    {13, 5, "Duplicate Key Error", "Adding this record creates a duplicate entry for the key: ABC"},
    {32, 1, "Auto Increment Error",
     "Attempts to automatically number this record have failed.|File: CUSTOMER|Error: File Not Found "
     "(2).|Try Again?"},
    {19, 5, "File Load Error", "CUSTOMER File Load Error.  Error: File Not Found (2)."},
    {36, 1, "Beginning of File Error",
     "The beginning of the file CUSTOMER was encountered. Do you want to start again from the end of the "
     "file?"},
    {37, 1, "End of File Error",
     "The end of the file CUSTOMER was encountered. Do you want to start again from the beginning?"},
    {23, 3, "File Access Error", "File CUSTOMER could not be opened.  Error: File Not Found (2)."},
    {25, 5, "Record was not updated",
     "An error (File Not Found (2)) was experienced when making changes to the CUSTOMER file."},
    {11, 5, "Record was not deleted",
     "An error (File Not Found (2)) was experienced when deleting a record from the CUSTOMER file."},
    {9, 1, "Confirm Delete", "Are you sure you want to delete the highlighted record?"},
    {35, 1, "Save Record", "Do you want to save the changes to this record?"},
    {21, 5, "Transaction cancelled",
     "Error: (File Not Found (2)) attempting to frame the transaction on CUSTOMER."},
    {1, 5, "Record Retrieval Error",
     "Error: (File Not Found (2)) attempting to access a record from the CUSTOMER file.  Returning to "
     "previous window."},
    {40, 5, "View Open Error",
     "Error: (File Not Found (2)) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {3, 1, "Record Added", "This record has been added to the file. Do you want to add another record?"},
    {28, 5, "Record not read",
     "A record held by another station was encountered reading from the CUSTOMER file."},
    {5, 5, "Add New Record?", "Record match not found, do you wish to add a new one?"},
    {15, 5, "Value Error", "The value of CUS:NAME must be in the list : ABC."},
    {22, 5, "No Records", "There are no records available to process."},
    {2, 5, "Access Denied", "Could not get write access to CUSTOMER so trying read-only."},
    {39, 2, "File Usage Error", "Attempt to use file (CUSTOMER) before it was opened"},
    {41, 5, "Unsupported QBE Column",
     "The saved QBE column, CUS:NAME is not supported. It will be dropped from the query."},
    {42, 5, "SMTP Error", "The following SMTP Error occurred: ABC "},
    {43, 5, "NNTP Error", "ABC "},
    {44, 5, "Winsock Error", "ABC "},
};

TEST(MessageTable, BuiltInTableIsStoredInItsBinaryForm) {
    std::span<const std::uint8_t> t = DefaultErrors();
    ASSERT_GE(t.size(), 16u);
    // count 43 (little-endian), then id 27, severity 5, title "Invalid Key" with its length
    EXPECT_EQ(t[0], 43);
    EXPECT_EQ(t[1], 0);
    EXPECT_EQ(t[2], 27);
    EXPECT_EQ(t[3], 0);
    EXPECT_EQ(t[4], 5);
    EXPECT_EQ(t[5], 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&t[6]), 11), "Invalid Key");

    std::vector<MessageDef> defs;
    ASSERT_TRUE(ParseMessageTable(t, defs));
    ASSERT_EQ(defs.size(), std::size(kBuiltIn));
    for (std::size_t i = 0; i < defs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(defs[i].id, kBuiltIn[i].id);
        EXPECT_EQ(defs[i].severity, kBuiltIn[i].severity);
        EXPECT_EQ(defs[i].title, kBuiltIn[i].title);
    }
    // The spacing that belongs to the texts.
    auto text_of = [&](USHORT id) {
        for (const MessageDef& d : defs)
            if (d.id == id) return std::string(d.text);
        return std::string();
    };
    EXPECT_EQ(text_of(19), "%File File Load Error.  Error: %ErrorText.");
    EXPECT_EQ(text_of(23), "File %File could not be opened.  Error: %ErrorText.");
    EXPECT_EQ(text_of(42), "The following SMTP Error occurred: %Message ");
    EXPECT_EQ(text_of(43), "%Message ");
    EXPECT_EQ(text_of(44), "%Message ");
}

TEST(MessageTable, BuildAndParseRoundTrip) {
    std::string long_text(255, 'x');
    auto block = Table({{7, 1, "T", long_text}, {65534, 0, "", ""}});
    std::vector<MessageDef> back;
    ASSERT_TRUE(ParseMessageTable(block, back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].id, 7);
    EXPECT_EQ(back[0].text, long_text);
    EXPECT_EQ(back[1].id, 65534);
    EXPECT_TRUE(back[1].title.empty());
}

TEST(MessageTable, RefusesWhatDoesNotFitOrIsCut) {
    // A text of 256 bytes has no length byte.
    std::string too_long(256, 'x');
    std::vector<MessageDef> defs{{1, 5, "T", too_long}};
    std::vector<std::uint8_t> block{1, 2, 3};
    EXPECT_FALSE(BuildMessageTable(defs, block));
    EXPECT_TRUE(block.empty());

    // Every cut of a valid block is refused and appends nothing.
    std::span<const std::uint8_t> full = DefaultErrors();
    for (std::size_t n = 0; n < full.size(); n += 7) {
        std::vector<MessageDef> out;
        EXPECT_FALSE(ParseMessageTable(full.first(n), out)) << n;
        EXPECT_TRUE(out.empty());
    }
    std::vector<MessageDef> out;
    EXPECT_FALSE(ParseMessageTable(full.first(full.size() - 1), out));
}

// ---------------------------------------------------------------- raising

TEST_F(ErrorManagerTest, RaisesEveryMessageExactly) {
    EXPECT_EQ(errors.Messages(), std::size(kBuiltIn));
    for (const Expected& e : kBuiltIn) {
        SCOPED_TRACE(e.id);
        errors.shown.clear();
        errors.halts.clear();
        errors.NoteFileName("CUSTOMER");
        errors.NoteFieldName("CUS:NAME");
        NoteError(ErrFileNotFound);
        errors.answers = {Button::Yes};
        int result = errors.RaiseWithText(e.id, "ABC");
        ASSERT_EQ(errors.shown.size(), 1u);
        const auto& box = errors.shown[0];
        EXPECT_EQ(box.title, e.title);
        switch (e.severity) {
            case SevNotify:
                EXPECT_EQ(box.text, e.text);
                EXPECT_EQ(box.icon, ICON_EXCLAMATION);
                EXPECT_EQ(box.buttons, Button::Ok);
                EXPECT_EQ(result, SevNotify);
                break;
            case SevAskUser:
                EXPECT_EQ(box.text, e.text);
                EXPECT_EQ(box.icon, ICON_QUESTION);
                EXPECT_EQ(box.buttons, Button::Yes | Button::No);
                EXPECT_EQ(box.default_button, Button::Yes);
                EXPECT_EQ(result, SevQuiet);
                break;
            default:  // 2 and 3 end the program
                EXPECT_EQ(box.text, std::string(e.text) + "  Press OK to end this application");
                EXPECT_EQ(box.buttons, Button::Ok);
                ASSERT_EQ(errors.halts.size(), 1u);
                EXPECT_EQ(errors.halts[0].exit_code, 0);
                EXPECT_EQ(errors.halts[0].halt_text, e.title);
                EXPECT_EQ(result, SevFatal);
        }
    }
}

TEST_F(ErrorManagerTest, RaiseKeepsTheCallersErrorState) {
    (void)SetFileError("42S02", "no such table");
    errors.NoteFileName("FILES");
    (void)errors.Raise(23);
    EXPECT_EQ(ErrorCode(), 90);
    EXPECT_EQ(FileErrorCode(), "42S02");
    EXPECT_EQ(FileError(), "no such table");
    // and the text named the failure captured at the raise
    ASSERT_FALSE(errors.shown.empty());
    EXPECT_EQ(
        errors.shown[0].text,
        "File FILES could not be opened.  Error: no such table (42S02).  Press OK to end this application");
}

TEST_F(ErrorManagerTest, UnknownIdTellsTheUserAndGoesOn) {
    EXPECT_EQ(errors.Raise(999), SevNotify);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].title, "Undefined Message");
    EXPECT_EQ(errors.shown[0].text, "Message 999 is not defined.");
    EXPECT_TRUE(errors.halts.empty());
}

TEST_F(ErrorManagerTest, LaterTablesOverrideEarlierIds) {
    auto table = Table({{22, 1, "Empty", "Nothing here for %File."}});
    ASSERT_TRUE(errors.LoadTable(table));
    errors.NoteFileName("FILES");
    errors.answers = {Button::No};
    EXPECT_EQ(errors.Raise(22), SevCancel);  // now a question, answered No
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].title, "Empty");
    EXPECT_EQ(errors.shown[0].text, "Nothing here for FILES.");
    // Other ids keep the built-in text.
    (void)errors.Raise(5);
    EXPECT_EQ(errors.shown.back().text, "Record match not found, do you wish to add a new one?");

    std::vector<std::uint8_t> broken(table.begin(), table.end() - 1);
    std::size_t before = errors.Messages();
    EXPECT_FALSE(errors.LoadTable(broken));
    EXPECT_EQ(errors.Messages(), before);
}

TEST_F(ErrorManagerTest, PreviousIsTheEarlierDefinitionFilledIn) {
    auto second = Table(
        {{23, 5, "File Access Error", "%Previous Call the help desk."}, {300, 5, "New", "[%Previous]"}});
    auto third = Table({{23, 5, "File Access Error", "%previous (%Procedure)"}});
    ASSERT_TRUE(errors.LoadTable(second));
    NoteError(ErrFileNotFound);
    errors.NoteFileName("FILES");
    (void)errors.Raise(23);
    EXPECT_EQ(errors.shown.back().text,
              "File FILES could not be opened.  Error: File Not Found (2). Call the help desk.");
    (void)errors.Raise(300);  // no earlier definition: the token disappears
    EXPECT_EQ(errors.shown.back().text, "[]");

    ASSERT_TRUE(errors.LoadTable(third));
    errors.EnterProcedure("Main");
    (void)errors.Raise(23);
    EXPECT_EQ(errors.shown.back().text,
              "File FILES could not be opened.  Error: File Not Found (2). Call the help desk. (Main)");
    errors.LeaveProcedure();
}

// ---------------------------------------------------------------- substitution

class SubstitutionTest : public ErrorManagerTest {
  protected:
    // The text shown for a one-message table holding `text` (id 500, a notification).
    std::string Shown(std::string_view text) {
        tables.push_back(std::make_unique<std::vector<std::uint8_t>>(Table({{500, 5, "T", text}})));
        EXPECT_TRUE(errors.LoadTable(*tables.back()));
        errors.shown.clear();
        (void)errors.Raise(500);
        return errors.shown.empty() ? std::string("<nothing shown>") : errors.shown.back().text;
    }
    std::vector<std::unique_ptr<std::vector<std::uint8_t>>> tables;
};

TEST_F(SubstitutionTest, TextWithoutPlaceholdersIsUnchanged) {
    EXPECT_EQ(Shown("Plain text | with a bar and 100% sure."), "Plain text | with a bar and 100% sure.");
}

TEST_F(SubstitutionTest, ErrorTextNamesTheDriverForCode90AndTheRuntimeOtherwise) {
    (void)SetFileError("23000", "duplicate key value");
    EXPECT_EQ(Shown("[%ErrorText] [%ErrorCode] [%Error] [%FileErrorCode] [%FileError]"),
              "[duplicate key value (23000)] [90] [File System Error] [23000] [duplicate key value]");
    NoteError(ErrRecordNotFound);
    EXPECT_EQ(Shown("[%ErrorText] [%ErrorCode] [%Error] [%FileErrorCode] [%FileError]"),
              "[Record Not Found (35)] [35] [Record Not Found] [] []");
    NoteError(ErrNone);
    EXPECT_EQ(Shown("[%ErrorText]"), "[ (0)]");
}

TEST_F(SubstitutionTest, FileDoesNotEatTheLongerTokens) {
    errors.NoteFileName("F");
    (void)SetFileError("S1000", "disk full");
    EXPECT_EQ(Shown("%File/%FileError/%FileErrorCode/%FILEERRORCODE/%Filename"),
              "F/disk full/S1000/S1000/Fname");
    EXPECT_EQ(Shown("%Error|%ErrorCode|%Errors"), "File System Error|90|File System Errors");
}

TEST_F(SubstitutionTest, TokensMatchWithoutRegardToCase) {
    errors.NoteFileName("FILES");
    errors.NoteFieldName("NAME");
    errors.State().MESSAGETEXT = "m";
    EXPECT_EQ(Shown("%file %FILE %fIlE %field %MESSAGE"), "FILES FILES FILES NAME m");
}

TEST_F(SubstitutionTest, ValuesAreSearchedByTheTokensThatComeLater) {
    // %File comes first, so a file name holding "%Field" gets the field name; %Message
    // comes after %File, so a message text holding "%File" stays as it is.
    errors.NoteFileName("a%Fieldb");
    errors.NoteFieldName("X");
    errors.State().MESSAGETEXT = "%File";
    EXPECT_EQ(Shown("%File %Message"), "aXb %File");
}

TEST_F(SubstitutionTest, AValueHoldingItsOwnTokenIsInsertedOnce) {
    errors.NoteFileName("%File");
    EXPECT_EQ(Shown("<%File><%File>"), "<%File><%File>");
    errors.NoteFieldName("x%fieldx");
    EXPECT_EQ(Shown("%Field"), "x%fieldx");
    errors.State().MESSAGETEXT = "%Message%Message";
    EXPECT_EQ(Shown("%Message."), "%Message%Message.");
}

TEST_F(SubstitutionTest, ProcedureAndCategory) {
    errors.EnterProcedure("BrowseFILES");
    EXPECT_EQ(Shown("in %Procedure [%Category]"), "in BrowseFILES []");
    errors.AssignCategory(500, "SQL");
    errors.shown.clear();
    (void)errors.Raise(500);
    EXPECT_EQ(errors.shown.back().text, "in BrowseFILES [SQL]");
    errors.LeaveProcedure();
    (void)errors.Raise(500);
    EXPECT_EQ(errors.shown.back().text, "in  [SQL]");
}

TEST_F(SubstitutionTest, WorksOnAtMost2000Characters) {
    // Each of 255 "%File" tokens becomes 254 bytes: far more than the limit.
    errors.NoteFileName(std::string(254, 'n'));
    std::string text;
    for (int i = 0; i < 51; ++i) text += "%File";
    EXPECT_EQ(Shown(text), std::string(2000, 'n'));
}

TEST_F(ErrorManagerTest, NamesAreClippedAndCut) {
    errors.NoteFileName("FILES   ");
    EXPECT_EQ(errors.State().FILENAME.Str(), "FILES");
    errors.NoteFieldName(std::string(300, 'f'));
    EXPECT_EQ(errors.State().FIELDNAME.Str().size(), 254u);
    (void)errors.RaiseWithText(24, std::string(300, 'm'));
    EXPECT_EQ(errors.State().MESSAGETEXT.Str().size(), 254u);
}

// ---------------------------------------------------------------- severities

class SeverityTest : public ErrorManagerTest {
  protected:
    void SetUp() override {
        ErrorManagerTest::SetUp();
        ASSERT_TRUE(errors.LoadTable(table));
    }
    std::vector<std::uint8_t> table = Table({{600, 0, "Q", "quiet"},
                                             {601, 1, "A", "ask"},
                                             {602, 2, "P", "program"},
                                             {603, 3, "F", "fatal"},
                                             {604, 4, "C", "cancel"},
                                             {605, 5, "N", "notify"},
                                             {609, 9, "O", "other"}});
};

TEST_F(SeverityTest, EachSeverityRunsItsHandler) {
    EXPECT_EQ(errors.Raise(600), SevQuiet);
    EXPECT_EQ(errors.calls, std::vector<std::string>{"OnQuiet"});
    EXPECT_TRUE(errors.shown.empty());

    errors.calls.clear();
    errors.answers = {Button::No};
    EXPECT_EQ(errors.Raise(601), SevCancel);
    EXPECT_EQ(errors.calls, std::vector<std::string>{"OnAskUser"});

    errors.calls.clear();
    errors.answers = {Button::Yes};
    EXPECT_EQ(errors.Raise(604), SevQuiet);  // handled as a question
    EXPECT_EQ(errors.calls, std::vector<std::string>{"OnAskUser"});

    errors.calls.clear();
    EXPECT_EQ(errors.Raise(602), SevFatal);
    EXPECT_EQ(errors.calls, (std::vector<std::string>{"OnProgramError", "OnFatal"}));

    errors.calls.clear();
    EXPECT_EQ(errors.Raise(603), SevFatal);
    EXPECT_EQ(errors.calls, std::vector<std::string>{"OnFatal"});

    errors.calls.clear();
    EXPECT_EQ(errors.Raise(609), SevFatal);
    EXPECT_EQ(errors.calls, (std::vector<std::string>{"OnOtherSeverity", "OnProgramError", "OnFatal"}));
    EXPECT_EQ(errors.halts.size(), 3u);

    errors.calls.clear();
    errors.answers = {Button::Cancel};  // whatever the box returns, a notification gives 5
    EXPECT_EQ(errors.Raise(605), SevNotify);
    EXPECT_EQ(errors.calls, std::vector<std::string>{"OnNotify"});
}

TEST_F(SeverityTest, PromptAsksWithTheGivenButtonsOnly) {
    errors.HISTORYTHRESHOLD = -1;
    errors.LOGERRORS = 1;
    errors.answers = {Button::No};
    EXPECT_EQ(errors.Prompt(35, Button::Yes | Button::No | Button::Cancel, Button::Cancel), Button::No);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].text, "Do you want to save the changes to this record?");
    EXPECT_EQ(errors.shown[0].title, "Save Record");
    EXPECT_EQ(errors.shown[0].icon, ICON_QUESTION);
    EXPECT_EQ(errors.shown[0].buttons, 70);
    EXPECT_EQ(errors.shown[0].default_button, 64);
    EXPECT_FALSE(errors.shown[0].history_dialog);
    // neither history nor log
    EXPECT_EQ(errors.History()->Records(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/APFError.Log"));
}

TEST_F(SeverityTest, SilentShowsNothingAndAnswersTheDefault) {
    errors.SILENT = 1;
    errors.HISTORYTHRESHOLD = -1;
    errors.answers = {Button::No, Button::No, Button::No};  // must not be consulted
    EXPECT_EQ(errors.Prompt(34, 70, Button::Cancel), Button::Cancel);
    EXPECT_EQ(errors.Raise(601), SevQuiet);  // Yes is the default of a question
    EXPECT_EQ(errors.Raise(605), SevNotify);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(errors.answers.size(), 3u);
    EXPECT_EQ(errors.History()->Records(), 2u);  // still recorded

    // A fatal message ends the program with a failure status and the text for stderr.
    EXPECT_EQ(errors.Raise(603), SevFatal);
    ASSERT_EQ(errors.halts.size(), 1u);
    EXPECT_TRUE(errors.halts[0].silent);
    EXPECT_NE(errors.halts[0].exit_code, 0);
    EXPECT_EQ(errors.halts[0].halt_text, "F");
    EXPECT_EQ(errors.halts[0].text, "fatal");
}

// The default halt really ends the program: status 0 after the user pressed OK, a failure
// status with the text on standard error when nobody could see it.
class BoxOnly : public ErrorManager {
  public:
    int ShowBox(std::string_view, std::string_view, IconRef, int, int def, LONG) override { return def; }
};

TEST(ErrorManagerDeathTest, FatalEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            BoxOnly e;
            e.Startup("/nonexistent-dir/APFError.Log");
            (void)e.Raise(23);
            std::fprintf(stderr, "still running\n");
            std::_Exit(7);
        },
        ::testing::ExitedWithCode(0), "File Access Error");
    EXPECT_EXIT(
        {
            BoxOnly e;
            e.Startup("/nonexistent-dir/APFError.Log");
            e.SILENT = 1;
            e.NoteFileName("FILES");
            NoteError(ErrFileNotFound);
            (void)e.Raise(23);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1),
        "File Access Error: File FILES could not be opened.  Error: File Not Found");
}

// ---------------------------------------------------------------- categories

TEST_F(ErrorManagerTest, Categories) {
    EXPECT_EQ(errors.DefaultCategory(), "APF");
    EXPECT_EQ(errors.CategoryOf(23), "APF");
    EXPECT_EQ(errors.CategoryOf(kAllMessages), "APF");
    EXPECT_EQ(errors.CategoryOf(999), "APF");  // not loaded

    errors.AssignCategory(23, "Files");
    errors.AssignCategory(999, "Ghost");  // not loaded: ignored
    EXPECT_EQ(errors.CategoryOf(23), "Files");
    EXPECT_EQ(errors.CategoryOf(999), "APF");
    errors.AssignCategory(kAllMessages, "DriveTrek");
    EXPECT_EQ(errors.CategoryOf(23), "Files");
    EXPECT_EQ(errors.CategoryOf(22), "DriveTrek");
    errors.AssignCategory(23, "");  // an empty category falls back to the default
    EXPECT_EQ(errors.CategoryOf(23), "DriveTrek");

    // A later definition of the id has its own (empty) category.
    errors.AssignCategory(22, "Old");
    auto table = Table({{22, 5, "No Records", "None."}});
    ASSERT_TRUE(errors.LoadTable(table));
    EXPECT_EQ(errors.CategoryOf(22), "DriveTrek");
}

// ---------------------------------------------------------------- procedure names

TEST_F(ErrorManagerTest, ProcedureNamesAreKeptPerThread) {
    EXPECT_EQ(errors.CurrentProcedureName(), "");
    errors.LeaveProcedure();  // nothing to leave: harmless
    errors.EnterProcedure("Main");

    std::latch entered(2), checked(2), left(2);
    std::string seen_a, seen_b, after_a, after_b;
    std::thread a([&] {
        errors.EnterProcedure("BrowseFILES");
        entered.arrive_and_wait();
        seen_a = errors.CurrentProcedureName();
        checked.arrive_and_wait();
        errors.LeaveProcedure();
        left.arrive_and_wait();
        after_a = errors.CurrentProcedureName();
    });
    std::thread b([&] {
        errors.EnterProcedure("QFiles");
        errors.EnterProcedure("Setup   ");
        entered.arrive_and_wait();
        seen_b = errors.CurrentProcedureName();
        checked.arrive_and_wait();
        errors.LeaveProcedure();
        left.arrive_and_wait();
        after_b = errors.CurrentProcedureName();
        errors.LeaveProcedure();
    });
    a.join();
    b.join();
    EXPECT_EQ(seen_a, "BrowseFILES");
    EXPECT_EQ(seen_b, "Setup");
    EXPECT_EQ(after_a, "");
    EXPECT_EQ(after_b, "QFiles");
    EXPECT_EQ(errors.CurrentProcedureName(), "Main");
    errors.LeaveProcedure();
    EXPECT_EQ(errors.CurrentProcedureName(), "");
}

TEST_F(ErrorManagerTest, TwoThreadsRaisingAtOnceKeepTheirOwnTexts) {
    constexpr int kRounds = 2000;
    std::mutex shown_mutex;
    // Only the box is recorded (under a lock): the handlers run on both threads at once.
    struct Concurrent : ErrorManager {
        std::mutex* m = nullptr;
        std::vector<std::string> texts;
        int ShowBox(std::string_view text, std::string_view, IconRef, int, int def, LONG) override {
            std::lock_guard lock(*m);
            texts.emplace_back(text);
            return def;
        }
    } e;
    e.Startup(dir.path() + "/x.log");
    e.m = &shown_mutex;
    std::latch start(2);
    auto run = [&](const char* file, int code) {
        start.arrive_and_wait();
        for (int i = 0; i < kRounds; ++i) {
            e.NoteFileName(file);
            std::this_thread::yield();  // invites the other thread in between
            NoteError(ToErrCode(code));
            e.Raise(25);
        }
    };
    std::thread a(run, "AAAA", 2);
    std::thread b(run, "BBBB", 35);
    a.join();
    b.join();
    const std::string text_a =
        "An error (File Not Found (2)) was experienced when making changes to the AAAA file.";
    const std::string text_b =
        "An error (Record Not Found (35)) was experienced when making changes to the BBBB file.";
    ASSERT_EQ(e.texts.size(), 2u * kRounds);
    int count_a = 0, count_b = 0;
    for (const std::string& t : e.texts) {
        if (t == text_a)
            ++count_a;
        else if (t == text_b)
            ++count_b;
        else
            ADD_FAILURE() << "torn text: " << t;
    }
    EXPECT_EQ(count_a, kRounds);
    EXPECT_EQ(count_b, kRounds);
    e.Shutdown();
}

// ---------------------------------------------------------------- history

std::vector<std::string> HistoryTexts(const ErrorManager& e) {
    std::vector<std::string> out;
    const auto* h = e.History();
    for (std::size_t i = 1; h && i <= h->Records(); ++i) {
        ErrorHistoryEntry entry;
        if (h->Peek(i, entry)) out.push_back(entry.TXT.Str());
    }
    return out;
}

TEST_F(ErrorManagerTest, HistoryKeepsAtMostTheThreshold) {
    (void)errors.Raise(22);
    EXPECT_TRUE(HistoryTexts(errors).empty());  // threshold 0: nothing kept

    errors.HISTORYTHRESHOLD = 3;
    (void)errors.RaiseWithText(24, "one");
    (void)errors.RaiseWithText(24, "two");
    (void)errors.RaiseWithText(24, "three");
    (void)errors.RaiseWithText(24, "four");
    EXPECT_EQ(HistoryTexts(errors), (std::vector<std::string>{"The Procedure two has not been defined.",
                                                              "The Procedure three has not been defined.",
                                                              "The Procedure four has not been defined."}));
    ErrorHistoryEntry last;
    ASSERT_TRUE(errors.History()->Peek(3, last));
    EXPECT_EQ(last.ID, 24);
    EXPECT_EQ(last.CATEGORY.Str(), "APF");

    errors.ClearHistory();
    errors.HISTORYTHRESHOLD = -1;
    for (int i = 0; i < 10; ++i) (void)errors.Raise(22);
    EXPECT_EQ(errors.History()->Records(), 10u);

    // A threshold lowered below the queue's size trims it to one less, then appends.
    errors.HISTORYTHRESHOLD = 2;
    (void)errors.Raise(22);
    EXPECT_EQ(errors.History()->Records(), 2u);
}

TEST_F(ErrorManagerTest, ViewLevelShowsTheHistoryDialog) {
    errors.HISTORYTHRESHOLD = 10;
    errors.HISTORYVIEWLEVEL = SevNotify;
    (void)errors.Raise(22);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_TRUE(errors.shown[0].history_dialog);
    EXPECT_EQ(errors.shown[0].text, "There are no records available to process.");
    errors.answers = {Button::Yes};
    EXPECT_EQ(errors.Raise(8), SevQuiet);  // a question is not at the view level
    EXPECT_FALSE(errors.shown.back().history_dialog);
    EXPECT_EQ(errors.History()->Records(), 2u);

    errors.HISTORYRESETONVIEW = 1;
    (void)errors.Raise(22);
    EXPECT_TRUE(errors.shown.back().history_dialog);
    EXPECT_EQ(errors.History()->Records(), 0u);

    // Without a history there is no dialog, whatever the level.
    errors.HISTORYTHRESHOLD = 0;
    (void)errors.Raise(22);
    EXPECT_FALSE(errors.shown.back().history_dialog);

    errors.ShowHistory();
    EXPECT_TRUE(errors.shown.back().history_dialog);
    EXPECT_EQ(errors.shown.back().title, "Errors History");
    EXPECT_EQ(errors.shown.back().buttons, Button::Ok);
}

// ---------------------------------------------------------------- the window layer's box

TEST(ErrorManagerBox, MessagesGoThroughTheWindowLayersBox) {
    ui::testing::ResetAnswers();
    WindowErrorManager e;
    e.Startup("/nonexistent-dir/APFError.Log");
    ui::testing::AnswerMessage(Button::No);
    EXPECT_EQ(e.Raise(8), SevCancel);
    ui::testing::AnswerMessage(Button::Ok);
    e.NoteFileName("FILES");
    EXPECT_EQ(e.Raise(28), SevNotify);
    // Nobody can answer here (no window layer running): the default is taken at once.
    EXPECT_EQ(e.Prompt(35, 70, Button::Cancel), Button::Cancel);
    auto shown = ui::testing::TakeShownMessages();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, "Changes will be lost!");
    EXPECT_EQ(shown[0].icon, ui::MessageIcon::Question);
    EXPECT_EQ(shown[0].buttons, Button::Yes | Button::No);
    EXPECT_EQ(shown[0].default_button, Button::Yes);
    EXPECT_EQ(shown[1].text, "A record held by another station was encountered reading from the FILES file.");
    EXPECT_EQ(shown[1].icon, ui::MessageIcon::Exclamation);
    EXPECT_EQ(shown[2].buttons, 70);
    EXPECT_EQ(shown[2].answer, Button::Cancel);
    e.Shutdown();
}

// ---------------------------------------------------------------- history dialog pieces

TEST(MessageButtons, VisitedFromHelpDownToOk) {
    MessageButtonLayout l = LayoutMessageButtons(Button::Yes | Button::No | Button::Cancel, Button::Cancel);
    ASSERT_EQ(l.MSGBUTTONS, 3);
    EXPECT_EQ(l.MSGBUTTONID[0], Button::Cancel);
    EXPECT_EQ(l.MSGBUTTONID[1], Button::No);
    EXPECT_EQ(l.MSGBUTTONID[2], Button::Yes);
    EXPECT_EQ(l.default_index, 0);

    l = LayoutMessageButtons(255, Button::Ok);
    ASSERT_EQ(l.MSGBUTTONS, 8);
    const char* texts[] = {"&Help", "&Cancel", "&Ignore", "&Retry", "&Abort", "&No", "&Yes", "O&k"};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(l.MSGBUTTONID[i], 128 >> i);
        EXPECT_EQ(ButtonText(l.MSGBUTTONID[i]), texts[i]);
    }
    EXPECT_EQ(l.default_index, 7);

    EXPECT_EQ(LayoutMessageButtons(Button::Ok, Button::Yes).default_index, -1);  // default not offered
    EXPECT_EQ(LayoutMessageButtons(0, 0).MSGBUTTONS, 0);
    EXPECT_EQ(ButtonText(3), "");
}

TEST_F(ErrorManagerTest, HistoryListAnswersFromTheQueue) {
    errors.HISTORYTHRESHOLD = -1;
    errors.AssignCategory(22, "Browse");
    (void)errors.Raise(22);
    errors.NoteFileName("FILES");
    (void)errors.Raise(2);
    HistoryList list(*errors.History());
    EXPECT_EQ(list.RowCount(), 2u);
    EXPECT_EQ(list.ColumnCount(), 2);
    EXPECT_EQ(list.CellText(1, 1), "There are no records available to process.");
    EXPECT_EQ(list.CellText(1, 2), "Browse");
    EXPECT_EQ(list.CellText(2, 2), "APF");
    EXPECT_EQ(list.CellText(3, 1), "");
    EXPECT_EQ(list.CellText(1, 3), "");

    ui::ListFormat format;
    ASSERT_TRUE(ui::ParseListFormat(HistoryList::kFormat, format));
    ASSERT_EQ(format.columns.size(), 2u);
    EXPECT_EQ(format.columns[0].width, 217);
    EXPECT_EQ(format.columns[0].header, "Message");
    EXPECT_EQ(format.columns[0].picture, "s255");
    EXPECT_EQ(format.columns[1].width, 42);
    EXPECT_EQ(format.columns[1].header, "Category");
}

// ---------------------------------------------------------------- the log

class ErrorLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegionalSettings r;
        r.sShortDate = "MM/dd/yy";
        r.iTime = 0;
        r.iTLzero = 1;
        SetRegionalSettings(r);
    }
    void TearDown() override { ResetRegionalSettings(); }
    TempDir dir;
};

TEST_F(ErrorLogTest, LineFormat) {
    LONG date = MakeDate(2024, 12, 7);
    LONG time = MakeTime(10, 15, 30, 0);
    EXPECT_EQ(FormatLogLine(date, time, "File FILES could not be opened."),
              "12/07/24@10:15:30 AM --> File FILES could not be opened.");
    RegionalSettings r;
    r.sShortDate = "dd.MM.yyyy";
    r.iTime = 1;
    SetRegionalSettings(r);
    EXPECT_EQ(FormatLogLine(date, MakeTime(22, 5, 9, 0), "x"), "07.12.2024@22:05:09 --> x");
}

TEST_F(ErrorLogTest, UsageCounter) {
    const std::string path = dir.path() + "/APFError.Log";
    ErrorLog log(path);
    EXPECT_EQ(log.USAGE(), 0);
    EXPECT_EQ(log.WriteLine("not open"), 5);
    EXPECT_EQ(log.Close(0), 0);  // nothing open: stays 0
    EXPECT_EQ(log.USAGE(), 0);

    EXPECT_EQ(log.Open(0), 0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(log.Open(0), 0);
    EXPECT_EQ(log.USAGE(), 2);
    EXPECT_EQ(log.WriteLine("first"), 0);
    EXPECT_EQ(log.Close(0), 0);
    EXPECT_EQ(log.USAGE(), 1);
    EXPECT_EQ(log.WriteLine("second   "), 0);  // stored without its trailing blanks
    EXPECT_EQ(log.Close(0), 0);
    EXPECT_EQ(log.USAGE(), 0);
    EXPECT_EQ(log.WriteLine("closed"), 5);

    EXPECT_EQ(log.Open(0), 0);
    EXPECT_EQ(log.Open(1), 0);  // forced: reopened, still counted
    EXPECT_EQ(log.USAGE(), 2);
    EXPECT_EQ(log.WriteLine(std::string(1100, 'z')), 0);
    EXPECT_EQ(log.Close(1), 0);
    EXPECT_EQ(log.USAGE(), 0);

    EXPECT_EQ(ReadLines(path), (std::vector<std::string>{"first", "second", std::string(1024, 'z')}));

    // Appends to what is there; a file that cannot be made fails without counting.
    ErrorLog again(path);
    EXPECT_EQ(again.Open(0), 0);
    EXPECT_EQ(again.WriteLine("third"), 0);
    EXPECT_EQ(again.Close(0), 0);
    EXPECT_EQ(ReadLines(path).size(), 4u);
    ErrorLog nowhere(dir.path() + "/missing/APFError.Log");
    EXPECT_EQ(nowhere.Open(0), 5);
    EXPECT_EQ(nowhere.USAGE(), 0);
}

TEST_F(ErrorLogTest, ShownMessagesAreLogged) {
    RecordingErrors e;
    e.Startup(dir.path() + "/APFError.Log");
    e.LOGERRORS = 1;
    e.NoteFileName("FILES");
    LONG before = Today();
    (void)e.Raise(2);
    e.SILENT = 1;
    (void)e.Raise(22);  // logged even when nothing is shown
    auto lines = ReadLines(dir.path() + "/APFError.Log");
    ASSERT_EQ(lines.size(), 2u);
    std::string prefix = FormatLogLine(before, 1, "").substr(0, 8);  // the date part
    EXPECT_EQ(lines[0].substr(0, 9), prefix + "@");
    EXPECT_NE(lines[0].find(" --> Could not get write access to FILES so trying read-only."),
              std::string::npos);
    EXPECT_TRUE(lines[1].ends_with(" --> There are no records available to process."));
    EXPECT_EQ(e.STDERRORLOG->USAGE(), 0);  // every Open was closed
    e.Shutdown();
}

TEST_F(ErrorLogTest, ALogThatCannotOpenNeverStopsTheMessage) {
    RecordingErrors e;
    e.Startup(dir.path() + "/missing/APFError.Log");
    e.LOGERRORS = 1;
    EXPECT_EQ(e.Raise(22), SevNotify);
    EXPECT_EQ(e.shown.size(), 1u);
    EXPECT_EQ(e.STDERRORLOG->USAGE(), 0);
    e.Shutdown();
}

}  // namespace
}  // namespace dt
