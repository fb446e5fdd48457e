// The indexes behind the search and the browse: substring indexes for the words (the
// embedded database's FTS5 trigram tables kept by triggers on FILES; PostgreSQL's pg_trgm
// GIN indexes) and the indexes that serve the browse's name, size and date orders. Their
// definitions per server kind, the check whether they are in place, and the function
// that creates whatever is missing.
//
// The embedded database: FILES_NAME_FTS indexes every row's name (external content: the
// text stays in FILES, the FTS table holds the index only); FILESDIR holds each distinct
// directory once, and FILESDIR_FTS indexes those, so a directory's cost is paid once
// however many files it holds. Triggers on FILES keep both in step with every insert,
// update and delete, also those of programs that know nothing of them: a row whose
// directory is already listed writes only its name's trigrams. Neither FTS table keeps
// positions or sizes (the searches ask for single trigrams and never rank), which takes
// about two fifths off the triggers' work on an insert. SQL Server: nothing is created
// (see the README).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialect.h"

namespace dt {

class File;
class ERRORLOGINTERFACE;

// Names of the embedded database's full-text tables.
inline constexpr const char* kFtsNameTable = "FILES_NAME_FTS";
inline constexpr const char* kFtsDirTable = "FILESDIR_FTS";

// Runs one statement on the database of FILES. With `rows`, the first column of every
// result row is appended to it as text. 0 or the runtime's error code (FileErrorCode()
// and FileError() then hold the server's state and message).
using SqlRunner = std::function<int(const std::string& statement, std::vector<std::string>* rows)>;

// A runner over a pass-through table whose NEXT leaves the first column where `first`
// reads it (for a one-column table, its field's text).
SqlRunner RunnerOf(File& file, std::function<std::string()> first);

enum class SearchIndexState {
    Present,     // every index is in place and usable
    Missing,     // some index is missing or still being built: searches read the table
    NotOffered,  // the server kind has no index of ours (SQL Server)
};

// Whether the substring indexes of `kind` are in place (committed, and valid on
// PostgreSQL; on the embedded database every object exactly as this version makes it, so
// that an index of an earlier layout is made again). A failing check counts as missing.
SearchIndexState ProbeSearchIndexes(const SqlRunner& run, ServerKind kind);

// The statements that make the embedded database's substring index, in order (tables,
// triggers, the directory index), without the fill of rows already stored.
std::vector<std::string> EmbeddedSearchIndexStatements();
// The browse order indexes of `kind` (CREATE INDEX ...; PostgreSQL: CONCURRENTLY), each
// with its index name. Empty for SQL Server.
struct NamedIndex {
    std::string name;
    std::string create;
};
std::vector<NamedIndex> BrowseOrderIndexes(ServerKind kind);
// The embedded database's indexes that the first scan of an empty table drops and makes
// again after its inserts (built from the sorted table, an index costs a fraction of what
// it adds to the inserts): the browse orders and the name key, which inserts in name order
// would otherwise write all over the index at every batch. The start-up step makes any
// that is missing.
std::vector<NamedIndex> EmbeddedRemadeIndexes();
// PostgreSQL's trigram indexes on the name and the directory.
std::vector<NamedIndex> TrigramIndexes();

// What CreateSearchIndexes reports while it works: a step's text, and for a long step the
// rows done of the total (0 of 0 when it has no measure).
struct SearchIndexProgress {
    std::string step;
    long long done = 0;
    long long total = 0;
};
using SearchIndexProgressFn = std::function<void(const SearchIndexProgress&)>;

// Tables of more rows than this report progress while their indexes are built.
inline constexpr long long kProgressRows = 100000;

struct SearchIndexResult {
    int error = 0;         // 0, or the runtime error code of the statement that failed
    std::string message;   // on failure: the statement's error text with the server's
    std::string warning;   // the indexes cannot be made here (for example a login that may
                           // not create pg_trgm): searches work without them
    bool created = false;  // something was created
};

// Creates every index of `kind` that is missing; idempotent, and an index that another
// program created meanwhile counts as made. The embedded database's substring index is
// made in one write transaction (so rows that other programs insert meanwhile wait and
// then reach it through the triggers); PostgreSQL's indexes are built CONCURRENTLY, one
// statement each, outside any transaction (the connection must be in auto-commit), so
// that scans go on while they are built. `progress` (may be empty) hears of every step
// when FILES holds more than kProgressRows rows.
// `progress_rows` replaces kProgressRows (tests).
SearchIndexResult CreateSearchIndexes(const SqlRunner& run, ServerKind kind,
                                      const SearchIndexProgressFn& progress = {},
                                      long long progress_rows = kProgressRows);

// The line that says why searches are slow when the substring index is missing.
std::string SearchIndexMissingText(ServerKind kind);

// Writes `line` once per process: to the hook when one is set (drivetrek adds it to the
// error log), and to standard error as "<program>: warning: <line>". Later calls do
// nothing.
void WarnSearchIndexOnce(const std::string& line);
void SetSearchIndexWarningHook(std::function<void(const std::string&)> hook);
// True once the warning was written (tests reset it).
bool SearchIndexWarned();
void ResetSearchIndexWarning();

// The state the search uses: the probe of the FILES connection on the calling thread
// (FILES must be in use there), warning once when the index is missing.
SearchIndexState SearchIndexStateForFiles();

// drivetrek's start: creates what is missing over the application's tables (the managers
// of InitTables) and, when the substring index cannot be in place, writes the one line
// that says why searches are slow to standard error and to `log` (may be null). The
// progress of a table of more than `progress_rows` rows goes to `shown` (may be empty:
// the start-up window) and, for an unattended run, as lines to standard error.
void PrepareSearchIndexes(bool unattended, ERRORLOGINTERFACE* log, const SearchIndexProgressFn& shown = {},
                          long long progress_rows = kProgressRows);

}  // namespace dt
