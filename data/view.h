// The view engine: a VIEW over one table that projects fields, delivers its rows in an
// order given as field labels, narrows them by a filter (the view's own, in field labels,
// and the SQL filter property 7221h), and reads forwards and backwards from the start, the
// end or any row's position. Every read of a page is one SELECT with a row limit, ordered
// so that the server can answer it from an index and positioned by the values of the
// order columns (never by skipping rows), so a page costs the same anywhere in the table.
//
// Rows reach the table's own record buffer: the SELECT runs through the table's SQL
// pass-through, on the connection the table shares, and the view keeps copies of the rows
// of the pages it buffers (PAGESIZE rows a page, PAGESBEHIND pages kept behind, PAGESAHEAD
// pages read ahead, buffered pages forgotten after TIMEOUT seconds).
//
// A view is used by one thread; for a THREAD table that is the thread whose instance of
// the table it was made with. Failures are runtime error codes (the thread's error state
// is set as by every file statement), never exceptions.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "data/file.h"
#include "runtime/errors.h"
#include "data/sql_text.h"

namespace dt {

// Property numbers of a view (the SQL filter is PROP_SQLFilter, 7221h, of statements.h).
enum ViewProperty : long {
    PROP_ViewOrder = 0x7CE6,   // the order text
    PROP_ViewFilter = 0x7CE7,  // the view's own filter (field labels allowed)
};

// Error codes the view returns besides the driver's.
constexpr ErrCode kViewNotOpen = ErrFileNotOpen;
constexpr ErrCode kViewBadOrder = ErrInvalidIndexString;  // an order term names no column
constexpr ErrCode kViewBadPosition =
    ErrInvalidKeyFile;  // a position that does not belong to the current order

class View {
  public:
    // A view over `primary` (which must outlive the view) projecting the fields with the
    // given labels (all fields when empty). Nothing is read until the first Next/Previous.
    explicit View(File& primary, std::vector<std::string> projection = {});
    ~View() = default;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // OPEN(view): checks the order and, when a condition is set, that the server accepts
    // it (one statement that returns no row). The table must be open. 0 or an error code;
    // the view stays closed on failure.
    [[nodiscard]] ErrCode Open(int mode = 0x22);
    // CLOSE(view): forgets the buffered pages. 0.
    ErrCode Close();
    bool IsOpen() const { return open_; }

    // The order: field labels (with or without their prefix, any case) joined by ",", each
    // optionally preceded by "-" (descending) or "+", or written "UPPER(label)" to compare
    // a text without regard to case. The primary key's components are appended when the
    // order does not hold them already, so that every row has a position of its own.
    // 0, or 76 when a term names no column (the order is then left unchanged).
    [[nodiscard]] ErrCode SetOrder(std::string_view order);
    std::string Order() const { return order_text_; }
    // The view's own filter: a condition in which field labels stand for their columns.
    void SetFilter(std::string_view filter);
    // The SQL filter (7221h): without a leading "+" it replaces the filter's condition,
    // with "+" it is added to it. Trailing blanks are ignored.
    void SetSqlFilter(std::string_view sql);
    // Property access: PROP_ViewOrder, PROP_ViewFilter, PROP_SQLFilter. Others: 0 / "".
    [[nodiscard]] ErrCode SetProperty(long prop, std::string_view value);
    std::string GetProperty(long prop) const;

    // BUFFER(view, pagesize, behind, ahead, timeout seconds; 0: never). Values below 1 for
    // the page size keep the current one. 0.
    ErrCode Buffer(long page_size, long behind = 0, long ahead = 0, long timeout = 0);

    // SET(view): the next Next reads the first row, the next Previous the last. 0.
    ErrCode Set();
    // RESET(view, position): the next Next reads the first row at or after the position,
    // the next Previous the last row at or before it. A blank position is the start (as
    // Set). 0, or 38 when the position belongs to another order.
    [[nodiscard]] ErrCode Reset(std::string_view position);
    // NEXT(view) / PREVIOUS(view): the following row into the table's record buffer. 0;
    // 33 past the end; 37 when not open; the driver's code (90 with the file error pair)
    // when the server fails.
    [[nodiscard]] ErrCode Next();
    [[nodiscard]] ErrCode Previous();
    // POSITION(view): the position of the row last read ("" when none). Never blank: it
    // begins with a marker byte, then the order columns' values as they lie in the record.
    std::string Position() const;
    // The position the record buffer's current values would have (for locating a value:
    // put it in the record, take the position, Reset to it).
    std::string PositionOfRecord() const;
    // The position just before the first row whose field `label` is not below `text`, when
    // that field leads the order (compared as the order compares it); "" when it does not.
    std::string LocatePosition(std::string_view label, std::string_view text) const;
    // The field `label`'s value (laid out as in the record) as an SQL literal; "" when the
    // label names no column.
    std::string ValueLiteral(std::string_view label, const void* value) const;
    // Forgets every buffered page, so the next read asks the server again. Keeps where
    // reading goes on from.
    void Flush();

    // What the view sends (for traces and tests): the condition after the filters, the
    // ORDER BY list, the last statement, and the number of statements run so far.
    std::string Condition() const;
    std::string OrderBy(bool forward) const;
    const std::string& LastStatement() const { return last_sql_; }
    long Statements() const { return statements_; }
    long PageSize() const { return page_size_; }
    // Rows held in the buffer now.
    std::size_t BufferedRows() const { return rows_.size(); }
    File& Primary() const { return file_; }

  private:
    struct Term {
        int column = -1;  // index into cols_
        bool descending = false;
        bool upper = false;
    };
    enum class Anchor { None, Start, End, Position };

    int ColumnOfLabel(std::string_view label) const;
    std::string TermText(const Term& t) const;
    std::string ValueText(const Term& t, const char* record) const;
    std::string PositionCondition(const char* record, bool forward, bool inclusive) const;
    std::string BuildSelect(const char* from, bool forward, bool inclusive, long rows) const;
    [[nodiscard]] ErrCode FetchPage(const char* from, bool forward, bool inclusive,
                                    std::vector<std::string>& out);
    std::string PositionOf(const char* record) const;
    bool DecodePosition(std::string_view position, std::string& record) const;
    bool Expired() const;
    [[nodiscard]] ErrCode Serve(std::size_t index);
    [[nodiscard]] ErrCode Read(bool forward);

    File& file_;
    std::vector<Column> cols_;
    std::vector<int> projection_;  // field indexes (documentary: every column is read)
    std::vector<Term> order_;
    std::string order_text_, filter_, sql_filter_;
    bool open_ = false;
    int kind_ = 0;  // the server kind the table's connection was recognised as
    long page_size_ = 20, behind_ = 2, ahead_ = 0, timeout_ = 60;

    // The buffer: copies of whole records in view order; cur_ is the row last read.
    std::deque<std::string> rows_;
    long cur_ = -1;
    long pending_ = -1;  // a Reset found its row in the buffer: the next read serves it
    bool top_known_ = false, bottom_known_ = false;
    Anchor anchor_ = Anchor::Start;
    std::string anchor_record_;  // the position's values laid into a record
    std::chrono::steady_clock::time_point filled_at_{};

    std::string last_sql_;
    long statements_ = 0;
};

}  // namespace dt
