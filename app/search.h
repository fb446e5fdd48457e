// The read of a search: the statement of a search request for the server FILES is on,
// its rows read into the result queue QFILES with the whole directory and name of each
// row kept aside, and the size text the results show. Needs no window: the results window
// and the command-line search (dtfind) share it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/query.h"
#include "app/schema.h"
#include "framework/relation_manager.h"
#include "runtime/errors.h"
#include "runtime/queue.h"
#include "runtime/types.h"

namespace dt {

// Text colour of the names of files found on other computers (grey, 0x00BBGGRR).
constexpr LONG kOtherComputerColor = 8421504;

// Directory and name of a found file exactly as stored; the queue entry holds them cut to
// the list's widths, so opening a file goes by these.
struct FoundFile {
    std::string dir;
    std::string name;
    std::string Path() const { return dir + name; }
};

// The directories and names of a search's rows, in row order, kept in one buffer (a large
// result would otherwise cost two allocations a row).
class FoundFiles {
  public:
    void Add(std::string_view dir, std::string_view name);
    // Row i (0-based); throws std::out_of_range past the end, like vector::at.
    FoundFile at(std::size_t i) const;
    std::size_t size() const { return rows_.size(); }
    void clear();

  private:
    struct Span {
        std::size_t start;
        std::uint32_t dir, name;  // lengths
    };
    std::string text_;
    std::vector<Span> rows_;
};

// What reading a search produced: the runtime error code (ErrNone: the statement ran and
// every row was read) and, on failure, the error text with the server's message ("|"
// between).
struct SearchOutcome {
    ErrCode error = ErrNone;
    std::string message;
};

// Whether the search statement for FILES (in use on the calling thread, on a server of
// `kind`) joins the embedded database's substring index: true when it is in place. Checks
// the index once per program, warning once when it is missing.
bool SearchJoinsIndexForFiles(ServerKind kind);

// The statement of the request for the server FILES is connected to (the table must be
// in use on the calling thread): the one text the result window and dtfind both send.
std::string SearchStatementForFiles(const SearchRequest& request);

// Opens FILES through its relation manager, builds the statement of `request` once FILES
// is usable (SearchStatementForFiles), sends it as the SQL pass-through and hands every
// row, in the order the server sends them, to `row` (the calling thread's FILES record
// buffer holds it), then closes FILES. A failing open, a statement the server rejects and
// a read that fails part-way all give the error code and text, never an empty success.
// `sent` (when given) receives the statement as sent.
SearchOutcome ReadSearchRows(const SearchRequest& request,
                             const std::function<void(const FILES_RECORD&)>& row,
                             std::string* sent = nullptr);

// One search read in steps, for a window that shows rows while they arrive: Begin opens
// FILES and sends the statement, each Step hands on the rows that come within its bounds,
// End closes FILES (also done by the destructor). Everything on the calling thread.
class SearchRead {
  public:
    SearchRead() = default;
    ~SearchRead();
    SearchRead(const SearchRead&) = delete;
    SearchRead& operator=(const SearchRead&) = delete;

    // ErrNone when the statement was sent; else the error code, the text in Outcome()
    // (which also holds the code, so a caller may read either).
    ErrCode Begin(const SearchRequest& request, std::string* sent = nullptr);
    // Reads at most `max_rows` rows (0: no limit) or until `budget` has passed, whichever
    // comes first, handing each to `row`. True while more rows may follow; false at the
    // end of the result or on a failure (Outcome() says which).
    bool Step(const std::function<void(const FILES_RECORD&)>& row, std::size_t max_rows,
              std::chrono::milliseconds budget);
    void End();
    const SearchOutcome& Outcome() const { return outcome_; }
    bool Active() const { return active_; }

  private:
    SearchOutcome outcome_;
    std::optional<RelationOpen> files_;  // FILES, open through its relation manager
    bool active_ = false;                // a result is being read
};

// ReadSearchRows into the result list: each row appended to `qfiles` (name cut to 127
// and directory to 259 characters for the list; date, time, size, computer row number;
// the names of rows whose computer is not `this_computer` in grey) and its whole
// directory and name to `found`.
SearchOutcome ReadSearch(const SearchRequest& request, ULONG this_computer, Queue<QFILES_RECORD>& qfiles,
                         FoundFiles& found, std::string* sent = nullptr);

// The computer names of `qcomputer` (ascending row numbers) into the COMPUTER fields of
// every entry of `qfiles`; entries whose computer is not listed keep an empty name.
void FillComputerNames(Queue<QFILES_RECORD>& qfiles, Queue<QCOMPUTER_RECORD>& qcomputer);

// The computer names of `qcomputer` by row number, for naming rows as they arrive.
class ComputerNames {
  public:
    explicit ComputerNames(Queue<QCOMPUTER_RECORD>& qcomputer);
    // "" for a computer that is not listed.
    std::string_view Name(ULONG sys) const;

  private:
    std::vector<std::pair<ULONG, std::string>> names_;
};

// One FILES row as a result entry (see ReadSearch), its computer named from `names` (when
// given).
void AddResultRow(const FILES_RECORD& row, ULONG this_computer, const ComputerNames* names,
                  Queue<QFILES_RECORD>& qfiles, FoundFiles& found);

// "N KBytes" for 1,024 bytes and more (whole kilobytes, the rest cut), otherwise
// "N Byte"; N formatted with "N14" without its leading blanks.
std::string SizeText(INT64 size);

}  // namespace dt
