// The search results procedure (QFiles, module dtrek005): its windows WINDOW (the result
// list), WIN_WAIT ("getting data...") and WIN_INFO (one file's details), showing what the
// read of a search (app/search.h, shared with the command-line search) put into QFILES;
// and the file actions the list offers: OpenWithShell, FileInfo, and ListWidths, which keeps list column
// widths in the settings file.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "app/query.h"
#include "app/search.h"
#include "app/schema.h"
#include "framework/window_manager.h"
#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt {

namespace ui {
class Window;
}

// Field numbers of the result window and of the information window.
namespace QFilesCtl {
constexpr int BROWSE1 = 1;  // ?BROWSE:1, the list over QFILES
}
namespace InfoCtl {
constexpr int NAME = 2;           // QFILES:NAME
constexpr int DIR = 4;            // QFILES:DIR
constexpr int SIZE = 6;           // L:SIZE
constexpr int DATE = 8;           // QFILES:DATE
constexpr int TIME = 9;           // QFILES:TIME
constexpr int COMPUTERNAME = 11;  // L:COMPUTERNAME
constexpr int CLOSEBUTTON = 12;
}  // namespace InfoCtl

// The seven columns of the result list: name (coloured), extension, directory, date, time,
// size (right-aligned) and computer; widths in dialog units.
inline constexpr const char* kQFilesListFormat =
    "120L(2)|M*~Name~@s127@19L(2)|M~Extension~@s10@172L(2)|M~Dir~@s255@40L(2)|M~Date~@d17@"
    "24L(2)|M~Time~@t7@52R(2)|M~Size~@n13@124L(2)|M~Computer~@s31@";

// Opens `file_name` (trailing blanks dropped, at most 255 characters) with the program the
// desktop associates with it; an empty `operation` means "open", the only operation the
// desktop offers here. No shell is involved and the process's directory is left alone, so
// the name should be absolute. Returns the result as decimal text: above 32 the program
// was started; 2 the file does not exist; 31 no program could be started for it or the
// operation is not "open".
std::string OpenWithShell(std::string_view operation, std::string_view file_name);

// Restores (mode 1) or saves (mode 2) the column widths of every list of `window` that is
// not a drop-down list, in section "List" of GLO::INIFILE under procedure_name + "_List" +
// k (k counting the lists from 1): four digits per column ("P####P"). Restoring ignores a
// width outside 10 .. 500 or not made of digits, and leaves columns beyond the saved text
// as designed.
void ListWidths(ui::Window& window, int mode, std::string_view procedure_name);

// The popup menu of a result row: the name, the six entries the program does not offer
// (shown disabled) and "info" as entry 8. A name that would read as menu syntax ("|",
// braces, a leading "~", "+", "-" or "[", or nothing visible) is shown harmlessly, so
// "info" always stays entry 8.
std::string RowMenuText(std::string_view name);

class QFilesWindow final : public WindowManager {
  public:
    QFilesWindow();
    ~QFilesWindow() override;

    // ---- the procedure's locals ----
    Queue<QFILES_RECORD> QFILES;
    FoundFiles FOUND;  // entry i of QFILES is FOUND.at(i - 1)
    STRING<1024> SearchCondition;
    STRING<30> SIZE;           // L:SIZE
    CSTRING<32> COMPUTERNAME;  // L:COMPUTERNAME
    ProcedureToolbar TOOLBARMGR;
    std::unique_ptr<ui::Window> WINDOW;
    std::unique_ptr<ui::Window> WIN_WAIT;
    std::unique_ptr<ui::Window> WIN_INFO;
    // The search's outcome (error text when the server refused it) and its statement.
    SearchOutcome OUTCOME;
    std::string STATEMENT;

    // Test hooks: once the result window is open, its loop runs and the read has ended
    // (the list and caption are final); once the first rows are in the list while more
    // may follow; once the information window is open (before its loop takes the first
    // event).
    std::function<void(QFilesWindow&)> on_opened;
    std::function<void(QFilesWindow&)> on_first_rows;
    std::function<void(QFilesWindow&, ui::Window& info)> on_info;

    // The read in steps: rows arrive in the list while the window's loop goes on taking
    // clicks, scrolling and resizing between the steps. A step reads at most this many
    // rows or for this long.
    std::size_t READ_ROWS = 2000;
    std::chrono::milliseconds READ_BUDGET{40};
    bool READING = false;         // more rows may follow
    long EVENTS_DURING_READ = 0;  // events handled between two steps of the read

    int Startup() override;
    int Shutdown() override;
    void OnWindowOpened() override;
    int HandleEvent() override;
    int OnFieldEvent() override;

    // Reads the next step of rows into the list; at the end of the read sets the caption
    // (count and time) and reports a failure.
    void ReadStep();

    // The information window over the current QFILES entry.
    void FileInfo();
    // Opens the entry at the list's current row (another computer's file is refused with
    // a message naming that computer).
    void OpenCurrent();

  private:
    SearchRead read_;
    std::unique_ptr<ComputerNames> names_;
    std::chrono::steady_clock::time_point started_;
    bool window_opened_ = false;  // the OpenWindow event was taken
    bool opened_told_ = false;    // on_opened was called
};

ui::WindowDef QFilesWindowDef(QFilesWindow& w);
ui::WindowDef QFilesWaitDef();
ui::WindowDef QFilesInfoDef(QFilesWindow& w);

// Runs one search from the global request (G::FILTER1 …), shows its result window and
// returns when the user closes it; the window manager's result goes to GlobalResponse.
void QFiles();
// The same with a hook called once the window is open (tests drive it from there).
void QFiles(const std::function<void(QFilesWindow&)>& on_opened,
            const std::function<void(QFilesWindow&, ui::Window&)>& on_info = {});

}  // namespace dt
