// The file browse (module dtrek004): a window that pages through the whole FILES table in
// name order, with a filter entry that narrows it by words and switches to size ("/S") or
// date ("/D") order. Runs on a runtime thread of its own, started from "Browse Files".
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/dialect.h"
#include "app/program.h"
#include "data/view.h"
#include "framework/browse_manager.h"
#include "app/procedure_window.h"
#include "framework/window_resizer.h"
#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt {

namespace ui {
class Window;
}

// Runs the browse window until it is closed; stores its response in GlobalResponse.
// Started with ui::Start(BrowseFILES, 25000); several may run at once. Failures are shown
// in the window (message 40, message 1), never thrown.
void BrowseFILES();

// Field numbers of the browse window's controls.
namespace BrowseCtl {
constexpr int BROWSE = 1;   // ?BROWSE:1, the list
constexpr int FILTER1 = 2;  // ?L:FILTER1, the filter entry
}  // namespace BrowseCtl

#pragma pack(push, 1)
// One row of the list: the view's fields, the browse manager's mark and the row's position.
struct BROWSE_QUEUE_RECORD {
    CSTRING<257> NAME;
    CSTRING<261> DIR;
    dt::DATE DATE_DATE;
    dt::TIME DATE_TIME;
    INT64 SIZE;
    ULONG SYSFILES;
    ULONG SYSCOMPUTER;  // the computer the file lies on, as listed
    BYTE MARK;
    STRING<1024> VIEWPOSITION;
};
#pragma pack(pop)
// 1,559 bytes with a 32-bit size and without the computer's row number.
static_assert(sizeof(BROWSE_QUEUE_RECORD) == 1567);

// The order a filter's switch asks for.
enum class BrowseOrder { Unchanged, Size, Date };

// The filter text for the filter entry's `text` (at most 40 characters are used): "(SysFILES
// > 0)" and, per word, " and (name <like> '%w%' or dir <like> '%w%')". Every blank ends a
// word (two blanks make an empty word); a word holding "/S" or "/D" (any case) adds no term
// and sets the order (the last switch wins, in `order`). Typed text goes through
// Dialect::LikePattern; the text is never cut, however many words there are. With `fts`
// (the embedded database's full-text index is in place) the index's candidate term for
// the words follows (FtsCandidateTerm), which leaves the rows the filter selects as they are.
std::string BuildBrowseFilter(std::string_view text, const Dialect& dialect, bool fts, BrowseOrder* order);

class BrowseFilesWindow final : public ProcedureWindow {
  public:
    // Made on the browse's own thread: the view reads that thread's FILES.
    BrowseFilesWindow();
    ~BrowseFilesWindow() override;

    CSTRING<41> FILTER1;      // L:FILTER1, the filter entry's variable
    STRING<1024> FILTERTEXT;  // the filter text last applied (as the field holds it)
    std::string filter_sql;   // the same, whole
    Queue<BROWSE_QUEUE_RECORD> QUEUE;
    std::unique_ptr<ui::Window> WINDOW;
    std::unique_ptr<View> VIEW;
    std::unique_ptr<ListQueue<BROWSE_QUEUE_RECORD>> LIST;
    BrowseManager BRW1;
    EntryLocator BRW1_LOCATOR;
    WindowResizer RESIZER;
    // Runs once the window is open and its loop has started (tests drive it from here).
    std::function<void(BrowseFilesWindow&)> on_opened;
    // Opens a file of a row; tests replace it. Default: the associated program.
    std::function<bool(const std::string& path)> open_file;
    // The path last asked to be opened, and whether it was refused as another computer's.
    std::string last_open;
    std::atomic<bool> last_open_foreign{false};
    // Filter texts applied so far (the filter entry's accepted events handled to the end).
    std::atomic<int> filters_applied{0};
    // Rows asked to be opened so far (each decided, opened or refused).
    std::atomic<int> opens_decided{0};

    int Startup() override;
    void OnWindowOpened() override;
    int OnAccepted() override;
    int OnSelected() override;
    int HandleEvent() override;
    int OnFieldEvent() override;

    // Opens the file of the list's current row (double-click and Enter) when the row, as
    // listed, lies on this computer (G::THISSYSCOMPUTER); never another computer's file as
    // a local path, whatever became of its row since.
    void OpenCurrentRow();

  private:
    // The procedure window's steps of the browse: the browse manager bound to FILES before
    // the window opens, its orders, locator and fields and the resizer once it is open,
    // the status text last; the browse manager stops before FILES closes.
    int PrepareWindow() override;
    int SetUpWindow() override;
    int FinishStartup() override;
    void ReleaseTables() override;
};

ui::WindowDef BrowseFilesDef(BrowseFilesWindow& w);

// As BrowseFILES, calling `on_opened` once the window runs.
void RunBrowseFILES(const std::function<void(BrowseFilesWindow&)>& on_opened);

}  // namespace dt
