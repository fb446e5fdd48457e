// The setup window (module dtrek008): the four connection settings edited in place, saved
// to the settings file on OK, and the maintenance drop of the table `files` of the
// server's master database; and SQLValue, the program's one-value query. A second tab
// edits the scan's roots and exclusions, with a preview that walks the roots on a thread
// of its own (storing nothing) and says what the exclusions leave out.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/program.h"
#include "app/scan.h"
#include "app/procedure_window.h"
#include "runtime/errors.h"

namespace dt {

class File;
class FileManager;
class RelationManager;

namespace ui {
class Window;
}

// Field numbers of the setup window's controls.
namespace SetupCtl {
constexpr int SHEET1 = 1;
constexpr int TAB1 = 2;
constexpr int SERVERPROMPT = 3;
constexpr int SQLSERVER = 4;  // GLO:SQLSERVER
constexpr int DATABASEPROMPT = 5;
constexpr int SQLDATABASE = 6;  // GLO:SQLDATABASE
constexpr int USERPROMPT = 7;
constexpr int SQLUSER = 8;  // GLO:SQLUSER
constexpr int PASSWORDPROMPT = 9;
constexpr int SQLPASSWD = 10;  // GLO:SQLPASSWD, typed characters hidden
constexpr int KILLMASTERBUTTON = 11;
constexpr int OKBUTTON = 12;
constexpr int CANCELBUTTON = 13;
constexpr int LIVE = 14;  // results as you type ([options] live=)
constexpr int TAB2 = 15;  // "Scan"
constexpr int ROOTSPROMPT = 16;
constexpr int ROOTS = 17;  // [scan] roots= (blank: every fixed file system)
constexpr int EXCLUDEPROMPT = 18;
constexpr int EXCLUDE = 19;  // [scan] exclude=
constexpr int EXCLUDEHINT = 20;
constexpr int PREVIEWBUTTON = 21;  // "Preview", "Stop" while the preview runs
constexpr int PREVIEWTEXT = 22;    // what the preview found
constexpr int DBFILE = 23;         // the embedded database's file (hidden for a server)
}  // namespace SetupCtl

class SetupWindow final : public ProcedureWindow {
  public:
    SetupWindow();
    ~SetupWindow() override;

    BYTE LIVE = 1;  // the check box of results as you type
    // The scan's roots and exclusions as the entries show them. A value longer than its
    // entry is shown cut, cannot be edited and is never written back.
    STRING<1024> ROOTS;
    STRING<1024> EXCLUDE;
    // The preview ends after this many files (roots default to every fixed file system).
    ULONG preview_limit = 2000000;
    std::unique_ptr<ui::Window> WINDOW;
    // Runs once the window is open and its loop has started (tests drive it from here).
    std::function<void(SetupWindow&)> on_opened;
    // Runs once a preview has ended and its counts are shown (tests drive it from here).
    std::function<void(SetupWindow&)> on_preview;

    int Shutdown() override;
    void OnWindowOpened() override;
    int OnAccepted() override;
    int HandleEvent() override;

    // The preview: started (or, while it runs, stopped) by the Preview button.
    void StartPreview();
    ScanPreview& Preview() { return preview_; }

  private:
    // The procedure window's steps of the setup window: the live setting and the scan's
    // roots and exclusions read before the window opens; the database file's line and the
    // entries too long to edit once it is open.
    int PrepareWindow() override;
    int SetUpWindow() override;

    void ShowPreview();
    // The file the database entry names, when the database is the embedded one.
    void ShowDatabaseFile();
    void SaveScanSettings();

    bool roots_kept_ = false, exclude_kept_ = false;  // too long for the entry
    bool preview_told_ = true;                        // the last preview's end was shown
    // Declared after WINDOW: its walk ends before the window goes.
    ScanPreview preview_;
};

// The setup window's definition; with `w`, the check box of results as you type and the
// Scan tab bound to w's variables (without: the window as first defined, 13 controls).
ui::WindowDef SetupWindowDef(SetupWindow* w = nullptr);

// Runs the setup window and stores its response in GlobalResponse. `on_opened` and
// `on_preview` as above.
void Setup(const std::function<void(SetupWindow&)>& on_opened = {},
           const std::function<void(SetupWindow&)>& on_preview = {});

// Sends `statement` (at most 4,098 characters are used) through SQLF and returns the
// first column of the first result row, "" when the statement fails or has no rows.
std::string SQLValue(std::string_view statement);

// Sends `statement` through the pass-through table `file` (opened and closed through its
// managers). Returns the runtime error code (0 success); on failure `error` gets the
// error text (with the server's message when there is one).
[[nodiscard]] ErrCode SQLExecute(RelationManager& relate, FileManager& access, File& file,
                                 std::string_view statement, std::string& error);

// The kill button: asks Yes/No naming the table it drops (default No), drops the table
// `files` of the master database, and shows "ok!" when that worked, else the error text.
void KillMasterFiles();

}  // namespace dt
