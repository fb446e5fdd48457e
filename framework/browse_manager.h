// BrowseManager: a view manager that feeds a list box. It keeps only the rows the list
// shows in the list queue (each with its position in the view), fetches further rows as
// the user scrolls by row, page, thumb or to the ends, keeps the current row on its line
// when the list is reset, positions the list by an entry locator as the user types, and
// connects the list to the insert, change, delete, view, select, print, query and toolbox
// buttons and a standard popup menu. It is a component of its window manager, so it sees
// every event of the window.
//
// Also ListQueueInterface (the list queue as the browse sees it, with ListQueue<T> over a
// Queue<T>) and EntryLocator.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/popup_manager.h"
#include "framework/view_manager.h"
#include "framework/window_component.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

namespace ui {
class Window;
}

// The list queue: its entry buffer and the operations the browse needs (1-based).
class ListQueueInterface {
  public:
    virtual ~ListQueueInterface() = default;
    virtual std::size_t Records() const = 0;
    // Copies entry pos into the buffer; false when out of range.
    virtual bool Get(std::size_t pos) = 0;
    // Inserts the buffer at pos (past the end: appends).
    virtual void Insert(std::size_t pos) = 0;
    virtual void Delete(std::size_t pos) = 0;
    virtual void Free() = 0;
    virtual void ClearBuffer() = 0;
    // The entry buffer (the browse copies fields into and out of it).
    virtual char* Buffer() = 0;
    virtual std::size_t EntrySize() const = 0;
};

template <class T>
class ListQueue final : public ListQueueInterface {
  public:
    // `q` must outlive the adapter.
    explicit ListQueue(Queue<T>& q) : q_(q) {}
    std::size_t Records() const override { return q_.Records(); }
    bool Get(std::size_t pos) override { return q_.Get(pos) == 0; }
    void Insert(std::size_t pos) override { q_.Add(pos); }
    void Delete(std::size_t pos) override {
        if (q_.Get(pos) == 0) q_.Delete();
    }
    void Free() override { q_.Free(); }
    void ClearBuffer() override { q_.ClearBuffer(); }
    char* Buffer() override { return reinterpret_cast<char*>(&q_.Buffer()); }
    std::size_t EntrySize() const override { return sizeof(T); }

  private:
    Queue<T>& q_;
};

// An entry locator: an entry control whose text positions the list at the first row
// whose field begins with it (compared without regard to case when NOCASE is set).
class EntryLocator {
  public:
    // `control`: the entry; `field_label`: the field of the primary table it locates by.
    void Init(LONG control, std::string_view field_label, BYTE nocase = 1) {
        CONTROL = control;
        FIELDLABEL = std::string(field_label);
        NOCASE = nocase;
    }
    LONG CONTROL = 0;
    std::string FIELDLABEL;
    BYTE NOCASE = 1;
    std::string TEXT;  // what is being located
};

class BrowseManager : public ViewManager, public WindowComponent {
  public:
    BrowseManager();
    ~BrowseManager() override;

    // ---- fields, in declaration order (those the program uses) ----
    BYTE ACTIVEINVISIBLE = 0;
    BYTE ALLOWUNFILLED = 0;  // 0: a list that is not full is filled upwards as well
    USHORT ASKPROCEDURE = 0;
    LONG CHANGECONTROL = 0;
    LONG CURRENTCHOICE = 0;  // current row of the list queue (1-based)
    LONG DELETECONTROL = 0;
    LONG ILC = 0;  // the list control
    LONG INSERTCONTROL = 0;
    LONG ITEMSTOFILL = 0;
    LONG LASTITEMS = 0;  // rows the list shows (from its height unless set)
    ListQueueInterface* LISTQUEUE = nullptr;
    BYTE LOADPENDING = 0;
    BYTE LOADED = 0;
    BYTE NEEDREFRESH = 0;
    std::unique_ptr<PopupManager> POPUP;
    LONG PRINTCONTROL = 0;
    LONG QUERYCONTROL = 0;
    BYTE QUICKSCAN = 0;
    BYTE RETAINROW = 1;
    LONG SELECTCONTROL = 0;
    BYTE SELECTING = 0;
    LONG TOOLCONTROL = 0;
    LONG VIEWCONTROL = 0;
    WindowManager* WINDOW = nullptr;

    // Binds the list control, the queue's position field (STRING(1024) in the queue's
    // buffer), the view, the list queue, the primary table's relation manager and the
    // window manager (all outlive the browse), creates its sort orders, field pairs and
    // popup menu, and registers with the window manager. 0 or the lazy open's result.
    int Init(LONG list_control, STRING<1024>& position, View& view, ListQueueInterface& queue,
             RelationManager& primary, WindowManager& window);
    // A locator for the current sort order (not owned; outlives the browse).
    void AddLocator(EntryLocator& locator);
    // A field pair: `size` bytes copied from the view's field to the queue's field.
    void AddField(const void* view_field, void* queue_field, std::size_t size);
    template <class F>
    void AddField(const F& view_field, F& queue_field) {
        AddField(&view_field, &queue_field, sizeof(F));
    }
    // Applies the sort order (and range) and refills the list when anything changed or
    // `force` is set: from the start after a change of order or filter, else keeping the
    // current row on its line.
    void ResetSort(BYTE force);
    // Runs the update procedure for a request (1 insert, 2 change, 3 delete, 6 view);
    // afterwards the list is brought up to date.
    void Ask(BYTE request);
    // Fills the list: keep = 1 keeps the current row (on its line with RETAINROW), 0 starts
    // from the top of the view.
    void ResetQueue(BYTE keep);
    // Fetches ITEMSTOFILL rows downwards (appended) or upwards (inserted at the top),
    // dropping rows at the far end beyond LASTITEMS. Returns the rows added.
    long Fetch(bool down);
    // Scrolling as the list's events ask for it.
    void ScrollOne(bool down);
    void ScrollPage(bool down);
    void ScrollEnd(bool bottom);
    // Positions the list at the first row whose locator field begins with `text` (in the
    // current order, when the field leads it). false when the order cannot locate by it.
    bool Locate(std::string_view text);
    // The current row into the list queue's buffer; false when the list is empty.
    bool GetCurrent();
    // The position of queue row `pos` ("" when there is none).
    std::string RowPosition(std::size_t pos);

    // ---- view manager overrides ----
    BYTE RangeChanged() override;
    void Kill() override;
    int TakeNext() override;
    int TakePrevious() override;

    // ---- window component ----
    void Discard() override;
    void Refresh(BYTE force) override;
    BYTE NeedsRefresh() override;
    void ArmAlerts() override;
    int HandleEvent(const WindowEvent& event) override;
    void SaveToRecord() override;
    void RepaintWindow() override;

  protected:
    // The list's current row and its visibility, through the window layer when the window
    // is one of its windows, else kept here.
    virtual LONG ListChoice();
    virtual void SetListChoice(LONG row);
    virtual bool ListVisible();
    // Rows the list can show, from its height.
    virtual LONG VisibleRows();

  private:
    struct FieldPair {
        const void* from;
        void* to;
        std::size_t size;
    };
    ui::Window* UiWindow();
    void CopyRow(const std::string& position);
    std::string Remembered(std::size_t pos);
    long FindRow(const std::string& position);
    void ShowChoice();
    void BuildPopup();

    char* position_ = nullptr;  // the queue's position field, in the queue's buffer
    std::vector<FieldPair> fields_;
    std::vector<SortOrder> sort_;
    std::string filled_order_, filled_condition_;  // what the list was filled with
    bool popup_built_ = false;
};

}  // namespace dt
