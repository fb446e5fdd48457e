// The search results procedure (QFiles, module dtrek005): its windows WINDOW (the result
// list), WIN_WAIT ("getting data...") and WIN_INFO (one file's details), showing what the
// read of a search (app/search.h, shared with the command-line search) put into QFILES;
// and the file actions the list offers: OpenWithShell, FileInfo, and ListWidths, which keeps list column
// widths in the settings file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "app/query.h"
#include "app/search.h"
#include "app/schema.h"
#include "app/procedure_window.h"
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
    "35L(2)|M~Time~@t7@66R(2)|M~Size~@n17@124L(2)|M~Computer~@s31@";

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

// What the main window asks the results window that follows its typing to show.
struct LiveRequest {
    SearchRequest request;
    std::string computer_name;  // G:SEARCHCOMPUTER for the caption
    LONG startclock = 0;
};

class QFilesWindow;

// The hand-over between the main window and the results window that follows its typing
// (on a thread of its own): the newest request, when it is due, and its generation. A
// newer request makes every read of an older one stale: such a read writes nothing.
class LiveResults {
  public:
    // Main thread: `request` becomes the newest, due after `delay`. True when no results
    // window runs (the caller starts one, which takes the request).
    bool Ask(const LiveRequest& request, std::chrono::milliseconds delay);
    // Results thread: the newest request when it is due and not taken yet.
    bool Due(LiveRequest& out, std::uint64_t& generation);
    // True while `generation` is the newest request.
    bool Current(std::uint64_t generation) const { return generation_.load() == generation; }
    // The number of the newest request.
    std::uint64_t Generation() const { return generation_.load(); }
    // The running results window (nullptr when none); set and cleared by it.
    void SetWindow(QFilesWindow* w);
    QFilesWindow* Window() const { return window_.load(); }
    // Wakes the results window at once (a request due now).
    void Wake();
    // Main thread: where the main window is (screen position, client size, dialog units),
    // so that a new results window opens below it rather than over it.
    void SetAnchor(ui::Rect r);
    bool Anchor(ui::Rect& out) const;

    // What the windows did, for tests: refreshes shown (their captions, in order) and reads
    // that a newer request made stale (they wrote nothing).
    std::atomic<int> refreshes{0};
    std::atomic<int> abandoned{0};
    void NoteShown(const std::string& caption);
    std::vector<std::string> Shown() const;
    // Test hook: runs on the results thread after each read, before its rows are shown.
    void SetReadHook(std::function<void()> hook);
    void RunReadHook() const;

  private:
    mutable std::mutex m_;
    LiveRequest request_;
    bool pending_ = false;
    bool running_ = false;
    std::chrono::steady_clock::time_point due_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<QFilesWindow*> window_{nullptr};
    std::vector<std::string> shown_;
    std::function<void()> read_hook_;
    ui::Rect anchor_{};
    bool anchored_ = false;
};

// The one results window that follows the main window's typing.
inline LiveResults LIVE;

// True when a request of these entries is worth a search while typing: a word of three
// characters or more, an extension or a size bound (shorter words alone wait for Enter).
bool LiveWorthy(std::string_view filter, std::string_view extension, long kb_from, long kb_to);

// Runs the results window that follows the typing (started on a thread of its own by the
// main window): refreshes it in place with each due request until it is closed.
void QFilesLive();

class QFilesWindow final : public ProcedureWindow {
  public:
    // `live`: the window follows the main window's typing (LIVE) instead of running one
    // search at its start.
    explicit QFilesWindow(bool live = false);
    ~QFilesWindow() override;

    // Follows the main window's typing (declared first: the window definitions read it).
    const bool LIVEMODE;

    // ---- the procedure's locals ----
    Queue<QFILES_RECORD> QFILES;
    FoundFiles FOUND;  // entry i of QFILES is FOUND.at(i - 1)
    STRING<1024> SearchCondition;
    STRING<30> SIZE;           // L:SIZE
    CSTRING<32> COMPUTERNAME;  // L:COMPUTERNAME
    CSTRING<81> STALETEXT;     // "index of ... last refreshed on ..." ("" when fresh)
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
    // A header was clicked while rows were being read: the order applies when it ends.
    bool SORTPENDING = false;

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
    // Live mode: runs the newest request when it is due and shows its rows, count and
    // caption, unless a newer request came meanwhile.
    void RefreshLive();

  private:
    // The procedure window's steps of the results window: the list's widths and order
    // after the position is restored, then the search's first rows (or, following the
    // typing, the hand-over); the widths and order saved with the position.
    int FinishStartup() override;
    void SaveLayout() override;

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
