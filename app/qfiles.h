// The search results procedure (QFiles, module dtrek005): its windows WINDOW (the result
// list), WIN_WAIT ("getting data...") and WIN_INFO (one file's details), showing what the
// read of a search (app/search.h, shared with the command-line search) put into QFILES;
// and the file actions the list offers: OpenWithShell, FileInfo, and ListWidths, which keeps list column
// widths in the settings file.
#pragma once

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
constexpr int STALE = 13;  // how old the computer's index is, when it is stale
}  // namespace InfoCtl

// The seven columns of the result list: name (coloured), extension, directory, date, time,
// size (right-aligned) and computer; widths in dialog units.
inline constexpr const char* kQFilesListFormat =
    "120L(2)|M*~Name~@s127@50L(2)|M~Extension~@s10@172L(2)|M~Dir~@s255@40L(2)|M~Date~@d17@"
    "35L(2)|M~Time~@t7@52R(2)|M~Size~@n13@124L(2)|M~Computer~@s31@";

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
// (shown disabled), "info" as entry 8, then "Open containing folder" (9, disabled when
// `local` is false: the rows lie on another computer), "Copy full path" (10) and "Copy
// name" (11). A name that would read as menu syntax ("|", braces, a leading "~", "+", "-"
// or "[", or nothing visible) is shown harmlessly, so the numbers never move.
std::string RowMenuText(std::string_view name, bool local = true);

// Entry numbers of the row menu's own actions.
namespace RowMenu {
constexpr int INFO = 8;
constexpr int OPENFOLDER = 9;
constexpr int COPYPATH = 10;
constexpr int COPYNAME = 11;
}  // namespace RowMenu

// The result list's sortable columns, as numbered in the list.
enum class ResultColumn : int { Name = 1, Extension, Dir, Date, Time, Size, Computer };

// Restores (mode 1) or saves (mode 2) a list's order in section "List" under the list's
// name followed by "_Sort" (for the results list qFILES_List1_Sort): the column number
// and "A" or "D" ("6D"); 0 for the order the rows came in. Restoring leaves `column` and
// `descending` alone when the text is not such a value.
void ListSortOrder(int mode, std::string_view list_name, int& column, bool& descending);

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
    CSTRING<81> STALETEXT;     // "index of ... last refreshed on ..." ("" when fresh)
    ProcedureToolbar TOOLBARMGR;
    std::unique_ptr<ui::Window> WINDOW;
    std::unique_ptr<ui::Window> WIN_WAIT;
    std::unique_ptr<ui::Window> WIN_INFO;
    // The search's outcome (error text when the server refused it) and its statement.
    SearchOutcome OUTCOME;
    std::string STATEMENT;

    // Row numbers in the order the read produced the rows (entry i of QFILES came i-th as
    // ROWNO[i - 1]); the last tie-break of every order.
    std::vector<std::uint32_t> ROWNO;
    // The list's order: column (0: as read) and direction.
    int SORTCOLUMN = 0;
    bool SORTDESCENDING = false;
    // True while rows are being read: a header click waits until the read ends.
    bool READING = false;
    bool SORTPENDING = false;

    // Test hooks: once the result window is open and its loop runs; once the information
    // window is open (before its loop takes the first event).
    std::function<void(QFilesWindow&)> on_opened;
    std::function<void(QFilesWindow&, ui::Window& info)> on_info;

    int Startup() override;
    int Shutdown() override;
    void OnWindowOpened() override;
    int HandleEvent() override;
    int OnFieldEvent() override;

    // The information window over the current QFILES entry.
    void FileInfo();
    // Opens the entry at the list's current row (another computer's file is refused with
    // a message naming that computer).
    void OpenCurrent();

    // Puts the rows in the list's order (SORTCOLUMN, SORTDESCENDING): a stable sort in
    // memory; dates and times both by the whole time stamp; ties by name, then by row
    // number. The current row stays the same entry.
    void SortRows();
    // A click on header `column`: that column ascending, or the other direction when it is
    // the column of the order already. Applied now, or when the read ends.
    void HeaderClicked(int column);
    // The selected entries (ascending), or the current one.
    std::vector<std::size_t> SelectedEntries() const;
    // The whole directories and names of the selected entries, one a line.
    std::string SelectedPaths() const;
    std::string SelectedNames() const;
    // True when every selected entry lies on this computer.
    bool SelectionIsLocal() const;
    // Shows the selected files in the file manager; without one, opens their folders.
    void OpenContainingFolders();
    // The popup menu's actions on the selection.
    void RowMenuAction(int entry);
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
