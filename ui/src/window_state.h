// The owner-side state of an open window: the definition, every control's state (the
// truth for a window that has no widgets), the current event and the loop's bookkeeping.
// Touched only on the owning thread, except `gui`, which only the GUI thread dereferences
// (inside a blocking hand-over or from its own signals).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ui/definition.h"
#include "ui/list_format.h"
#include "ui/src/core.h"
#include "ui/window.h"

namespace dt::ui::detail {

class GuiWindow;

struct CtlState {
    int index = -1;  // into def.controls
    ControlType type = ControlType::None;
    std::string text;
    Rect at;
    bool hidden = false;
    bool disabled = false;
    bool imm = false;
    bool nowidth = false;
    bool touched = false;
    bool checked = false;
    int choice = 0;
    int drop = 0;
    std::set<int> alerts;
    std::string icon;
    ListFormat format;    // lists
    int sort_column = 0;  // lists: column of the sort indicator (0: none)
    bool sort_descending = false;
    std::vector<int> selected;  // lists without widgets: the selected rows
};

class WindowState {
  public:
    WindowState(WindowDef d, Window* w);

    const std::uint64_t id;
    WindowDef def;
    Window* owner;
    std::vector<CtlState> ctls;  // ctls[field - 1]

    std::shared_ptr<ThreadContext> ctx;  // set while open; written under post_m
    mutable std::mutex post_m;           // lets Post read ctx from other threads
    bool open = false;
    std::string title;
    std::vector<std::string> status;  // zone texts
    bool hidden = false;              // the window itself
    Rect at;                          // placement in dialog units (model while no widgets)
    bool maximized = false, iconized = false;
    Rect min_size, max_size;
    std::set<int> alerts;  // window-wide
    int defer = 0;
    std::vector<std::pair<int, Rect>> deferred;
    bool imm = false;

    GuiWindow* gui = nullptr;  // created on first show, destroyed by Close
    bool blocked = false;

    // Event loop.
    EventRecord cur;
    bool have_cur = false;
    bool cycled = false;
    bool ended = false;
    int keycode = 0;
    int thumb = 0;
    int header_column = 0;  // column of the last HeaderPressed
    bool validating = false;
    int validate_next = 0;  // next field of a validate-all pass (0: none)
    std::chrono::steady_clock::time_point next_tick;
    std::chrono::steady_clock::time_point last_sync;

    CtlState* Ctl(int field) {
        return field >= 1 && field <= static_cast<int>(ctls.size()) ? &ctls[field - 1] : nullptr;
    }
    const CtlState* Ctl(int field) const {
        return field >= 1 && field <= static_cast<int>(ctls.size()) ? &ctls[field - 1] : nullptr;
    }
    const ControlDef& Def(const CtlState& c) const { return def.controls[c.index]; }
    // Field of the tab or sheet that holds the field (0: none).
    int TabOf(int field) const;
};

}  // namespace dt::ui::detail
