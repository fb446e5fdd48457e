// PopupManager: the items of a context menu, the menu text the window layer's popup call
// understands, and the mapping of the chosen entry back to its item. Items may mirror a
// window control (text, enabled state, icon; choosing presses the control) or post an
// event to a control. Items marked for it can be shown as a floating toolbox window on a
// thread of its own.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "framework/window_component.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

class IniManager;

// One menu item.
struct PopupItem {
    SHORT CONTROLID;  // bound control, 0: none
    USHORT DEPTH;     // 1: top level, 2: first submenu level, ...
    USHORT EVENT;     // event posted when chosen (the layer's code), 0: none
    BYTE MIMICMODE;   // 1: mirrors CONTROLID; choosing posts EVENT:Accepted to it
    BYTE DISABLED;    // 0: follow the bound control, 1: disabled, 2: enabled
    BYTE CHECK;       // 0: no check item, 1: checked, 2: unchecked
    BYTE ONTOOLBOX;   // shown in the toolbox
    CSTRING<256> ICON;
    CSTRING<1025> NAME;  // unique key of every operation
    CSTRING<1025> TEXT;  // text shown; "-" is a separator
};

class PopupManager {
  public:
    PopupManager();
    virtual ~PopupManager();
    PopupManager(const PopupManager&) = delete;
    PopupManager& operator=(const PopupManager&) = delete;

    BYTE CLEARKEYCODE = 0;
    CSTRING<1024> LASTSELECTION;
    std::unique_ptr<Queue<PopupItem>> POPUPITEMS;
    TranslatorInterface* TRANSLATOR = nullptr;
    IniManager* INIMGR = nullptr;
    std::atomic<BYTE> INTOOLBOX{0};
    LONG MYTHREAD = 0;
    WindowPort* PARENTWINDOW = nullptr;
    WindowPort* THISWINDOW = nullptr;  // unused here: the toolbox window lives on its own thread

    // Creates the item list; `window` (which must outlive Shutdown) is the owning window,
    // whose thread receives the chosen items' events.
    void Startup(WindowPort& window);
    // Closes the toolbox (waiting for its thread) and disposes the items.
    void Shutdown();

    // Parses menu text into items. after 0 replaces every item; otherwise the new items go
    // after item number `after`, at that item's depth. Returns the number of items added.
    int AddMenu(std::string_view text, std::size_t after = 0);
    // One item inserted after `position` (0: at the end); depth 0: the depth of the item at
    // the insertion point (1 when there is none). Returns the item's name.
    std::string AddItem(std::string_view text, std::size_t position = 0, USHORT depth = 0);
    // AddMenu(text "{" submenu "}", after).
    int AddSubMenu(std::string_view text, std::string_view submenu, std::size_t after = 0);
    // The item of that name (or a new one made from the text) posts `event` to `control`
    // when chosen and is shown on the toolbox. Returns the item's name.
    std::string AddItemEvent(std::string_view name_or_text, USHORT event, SHORT control);
    // As AddItemEvent, mirroring `control` (choosing it presses the control).
    std::string AddItemMimic(std::string_view name_or_text, SHORT control);
    // DISABLED 2 when enabled, 1 when not; separators are left alone.
    void SetItemEnable(std::string_view name, bool enabled);
    void SetToolbox(std::string_view name, bool on);
    void DeleteItem(std::string_view name);
    // 1-based position of the item, 0 when there is none.
    std::size_t ItemExists(std::string_view name);
    std::size_t GetItems();
    std::string GetLastSelection();

    // A unique item name for a text: "-" gives "Separator"; otherwise the letters, digits
    // and "_" of the text; a number is appended until no item has the name.
    std::string MakeName(std::string_view text);
    // The menu text of the current items (after mirroring their controls).
    std::string MenuText();
    // The item of the n-th selectable entry (separators and submenu openers not counted):
    // its 1-based position, 0 when n maps to none.
    std::size_t ItemOfEntry(int n);
    // Shows the menu at (x, y) (0: the mouse position for that coordinate) and returns the
    // chosen item's name, empty when nothing was chosen. A chosen item that posts an event
    // or mirrors a control has its event posted to the owning window.
    std::string Ask(LONG x = 0, LONG y = 0);
    // Opens the toolbox window titled `title` on a thread of its own; returns false when the
    // window layer cannot start it.
    bool Toolbox(std::string_view title);

    // The window layer's thread number of the open toolbox, 0 when none is open.
    int ToolboxThread();
    // Chooses an item as a pressed toolbox button does (thread-safe); returns its name.
    std::string Choose(std::size_t position);

  protected:
    // The effective disabled state of an item (following its bound control when 0);
    // `live`: asked on the owning thread, which may read the window's controls.
    bool EffectiveDisabled(const PopupItem& item, bool live);

  private:
    void Mimic();
    std::string Chosen(std::size_t position, bool live);

    // The item list is read by the toolbox thread only through the queue's own locked
    // reads; the queue's record buffer belongs to the owning thread. This mutex guards
    // LASTSELECTION and the bound controls' states last seen on the owning thread.
    std::mutex mutex_;
    std::map<LONG, bool> control_disabled_;
    struct ToolboxState;
    std::unique_ptr<ToolboxState> toolbox_;
};

}  // namespace dt
