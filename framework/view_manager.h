// ViewManager: reads a table through a view (data/view.h). It keeps the sort orders that
// can be chosen, each with its key, order expression, range limit and named filters,
// turns the current one into the view's order and filter, opens the view with the
// runtime's read-ahead buffering, and reads forwards and backwards with one way of
// reporting failures (message 40 when the view cannot be opened, message 1 when a read
// fails). Results are the framework's severities.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/types.h"

namespace dt {

class Key;
class RelationManager;
class View;
class EntryLocator;

// Message ids the view manager raises.
namespace ViewMsg {
constexpr USHORT RetrievalError = 1;  // "Record Retrieval Error"
constexpr USHORT ViewOpenError = 40;  // "View Open Error": filter and range limits ignored
}  // namespace ViewMsg

// Range limit types of a sort order.
enum RangeLimit : BYTE {
    RangeNone = 0,
    RangeValue = 1,  // every range field equals its value
    RangePair = 2,   // as 1
    RangeRange = 3,  // all but the last equal their values; the last lies between low and high
    RangeFile = 4,   // as 1, the values being a related table's linking fields
};

// One range field: a key component (by field label) and the variables holding its value
// (and, for the last field of a type 3 range, its high value). The variables belong to
// the caller, are laid out as the field is, and outlive the sort order.
struct RangeField {
    std::string label;
    const void* value = nullptr;
    const void* high = nullptr;
};

// One named filter of a sort order.
struct NamedFilter {
    std::string id;  // at most 30 characters
    std::string text;
};

// One sort order.
struct SortOrder {
    std::vector<NamedFilter> FILTER;
    BYTE FREEELEMENT = 0;
    BYTE LIMITTYPE = RangeNone;
    Key* MAINKEY = nullptr;  // its components lead the order unless the order was replaced
    std::string ORDER;       // the order expression
    std::vector<RangeField> RANGELIST;
    // For a browse:
    EntryLocator* LOCATOR = nullptr;
    std::vector<std::pair<const void*, std::size_t>> RESETS;  // fields whose change forces a reset
    void* THUMB = nullptr;
    // SetOrder replaced the order: the key no longer takes part.
    bool replaced = false;
};

class ViewManager {
  public:
    ViewManager() = default;
    // Kills the manager if Kill has not run. Never throws.
    virtual ~ViewManager();
    ViewManager(const ViewManager&) = delete;
    ViewManager& operator=(const ViewManager&) = delete;

    // ---- fields, in declaration order ----
    BYTE DISPOSEORDER = 0;
    BYTE OPENED = 0;
    std::vector<SortOrder>* ORDER = nullptr;
    USHORT PAGESAHEAD = 0;
    USHORT PAGESBEHIND = 2;
    USHORT PAGESIZE = 20;
    RelationManager* PRIMARY = nullptr;
    USHORT TIMEOUT = 60;
    View* VIEW = nullptr;

    // ---- virtual operations, in slot order ----
    // 1: the current sort order's expression becomes `text` when it has none; "*text"
    // replaces it; otherwise "," and the text are appended. 0.
    virtual int AppendOrder(std::string_view text);
    // 2: the range terms and named filters of the current sort order become the view's
    // filter (at most 5000 characters). 0.
    virtual int ApplyRange();
    // 3: the current sort order (its key's components, unless replaced, then its
    // expression) becomes the view's order. 0, or the view's code for a bad order.
    virtual int ApplyOrder();
    // 4: 1 when a range field's value changed since the range was applied (the browse
    // resets then); the base: 0.
    virtual BYTE RangeChanged();
    // 5: closes the view when open.
    virtual void Close();
    // 6, 7: the number of sort orders and the current one (1-based).
    virtual std::size_t SortOrders();
    virtual std::size_t CurrentSort();
    // 8: closes the view and disposes what Init created. Idempotent.
    virtual void Kill();
    // 9: reads the next record (the browse reads through here). 0 read; 5 at the end; 3
    // after a failure, which message 1 has reported.
    virtual int TakeNext();
    // 10: opens the view (message 40 on failure: the view goes on without its filter),
    // sets its buffering, then ApplyOrder and ApplyRange. 0, or 5 when it cannot be opened
    // at all.
    virtual int Open();
    // 11: as TakeNext, backwards.
    virtual int TakePrevious();
    // 12: for an insert from the list: clears the primary record unless `keep_buffer`,
    // copies the range values into their fields, then the file manager's PrimeRecord.
    virtual int PrimeRecord(BYTE keep_buffer = 0);
    // 13: positions the view at its start for reading. 0.
    virtual int SetViewStart();
    // 14: SetViewStart after the order and range were applied again.
    virtual void ResetView();
    // 15: the current sort order's entry (nullptr when there is none).
    virtual SortOrder* CurrentOrder();
    // 16: an empty text removes the named filter `id`, any other adds or replaces it.
    virtual void SetFilter(std::string_view text, std::string_view id = "1");
    // 17: the current sort order's expression becomes `text`; its key no longer leads.
    virtual void SetOrder(std::string_view text);
    // 18: n (0 means 1) becomes the current sort order: 1 when it changed, else 0.
    virtual int SetSort(std::size_t n);
    // 19: 0 accepts the record just read, 1 skips it, anything else ends the read (5).
    virtual int ValidateRecord();

    // ---- non-virtual operations ----
    // Binds the view and the primary table's relation manager (both outlive the manager);
    // uses `orders` or creates a sort-order list of its own. Makes the table usable (the
    // lazy open); returns 0 or the file manager's result.
    int Init(View& view, RelationManager& primary, std::vector<SortOrder>* orders = nullptr);
    // Adds a sort order for `key` (nullptr: none) and makes it current; its number.
    std::size_t AddSortOrder(Key* key);
    // Adds a range field to the current sort order and sets its limit type.
    void AddRange(std::string_view label, const void* value, const void* high = nullptr,
                  BYTE limit = RangeValue);
    // The filter text ApplyRange sets, without setting it.
    std::string RangeText();
    // The order text ApplyOrder sets, without setting it.
    std::string OrderText();
    // Reads through TakeNext / TakePrevious (the view manager's own reads).
    int Next();
    int Previous();

  protected:
    // The file manager's error reporting (message with the table's name).
    int RaiseMessage(USHORT id);

    std::unique_ptr<std::vector<SortOrder>> own_orders_;
    std::size_t current_ = 0;  // 1-based, 0: none
};

}  // namespace dt
