#include "app/search_index.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/tables.h"
#include "data/file.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/error_log.h"
#include "runtime/stddate.h"
#include "runtime/errors.h"

namespace dt {
namespace {

// The embedded database's substring index is in place when every object its statements
// make exists exactly as they make it: an index of an earlier layout (other triggers,
// other options) counts as incomplete and is made again.
std::string EmbeddedProbe() {
    std::string terms;
    for (const std::string& s : EmbeddedSearchIndexStatements()) {
        // "CREATE <kind> [IF NOT EXISTS] <name> ...": the name is the word after the kind.
        std::string rest = s.substr(s.find(' ', 7) + 1);
        if (rest.rfind("TABLE ", 0) == 0) rest = rest.substr(6);  // CREATE VIRTUAL TABLE
        const bool if_not_exists = rest.rfind("IF NOT EXISTS ", 0) == 0;
        if (if_not_exists) rest = rest.substr(14);
        const std::string name = rest.substr(0, rest.find(' '));
        terms += std::string(terms.empty() ? "" : " or ") + "(name = '" + name + "'";
        // The server keeps the text as sent, except that it drops IF NOT EXISTS.
        terms += if_not_exists ? ")" : " and sql = " + SqlLiteral(s) + ")";
    }
    return "select count(*) from sqlite_master where " + terms;
}

long long EmbeddedObjectCount() {
    return static_cast<long long>(EmbeddedSearchIndexStatements().size());
}

std::string PgValidIndexes(const std::vector<NamedIndex>& indexes) {
    std::string list;
    for (const NamedIndex& i : indexes) list += std::string(list.empty() ? "" : ",") + "'" + i.name + "'";
    return "select count(*) from pg_index i join pg_class c on c.oid = i.indexrelid where c.relname in (" +
           list + ") and i.indisvalid and i.indisready and pg_table_is_visible(c.oid)";
}

long long Number(const std::vector<std::string>& rows) {
    if (rows.empty()) return 0;
    return std::strtoll(rows.front().c_str(), nullptr, 10);
}

// "already exists" said by the server: another program made the object first.
bool AlreadyExists() {
    const std::string state = FileErrorCode();
    const std::string text = FileError();
    return state == "42P07" || state == "42710" || state == "23505" ||
           text.find("already exists") != std::string::npos;
}

std::string FailureText(const std::string& statement) {
    std::string text = Error();
    if (!FileError().empty()) text += "|" + FileError();
    return text + "|" + statement;
}

std::mutex g_warn_mutex;
std::function<void(const std::string&)> g_warn_hook;
std::atomic<bool> g_warned{false};

class Reporter {
  public:
    Reporter(const SearchIndexProgressFn& fn, long long rows, long long threshold)
        : fn_(fn), on_(fn && rows > threshold) {}
    void operator()(std::string step, long long done = 0, long long total = 0) const {
        if (on_) fn_(SearchIndexProgress{std::move(step), done, total});
    }

  private:
    const SearchIndexProgressFn& fn_;
    bool on_;
};

// The embedded database: everything of the substring index in one write transaction.
SearchIndexResult CreateEmbedded(const SqlRunner& run, const SearchIndexProgressFn& progress,
                                 long long threshold) {
    SearchIndexResult result;
    auto fail = [&](const std::string& statement) {
        result.error = ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
        result.message = FailureText(statement);
        run("ROLLBACK", nullptr);
        return result;
    };
    std::vector<std::string> rows;
    if (ProbeSearchIndexes(run, ServerKind::Embedded) != SearchIndexState::Present) {
        // IMMEDIATE takes the write lock now: no other program writes FILES until the
        // commit, so the fill and the triggers see every row exactly once.
        if (run("BEGIN IMMEDIATE", nullptr) != 0) return fail("BEGIN IMMEDIATE");
        rows.clear();
        if (run(EmbeddedProbe(), &rows) != 0) return fail(EmbeddedProbe());
        if (Number(rows) != EmbeddedObjectCount()) {
            // Whatever is there of an incomplete index is made again from scratch: an FTS
            // table that missed rows while a trigger was gone would stay wrong for ever.
            const char* drops[] = {
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AI",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AD",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AU_NAME",
                "DROP TRIGGER IF EXISTS FILES_SEARCH_AU_DIR",
                // FILESDIR's own triggers of an earlier layout go with their table.
                "DROP TABLE IF EXISTS FILES_NAME_FTS",
                "DROP TABLE IF EXISTS FILESDIR_FTS",
                "DROP TABLE IF EXISTS FILESDIR",
            };
            for (const char* d : drops)
                if (run(d, nullptr) != 0) return fail(d);
            rows.clear();
            const std::string range =
                "select count(*) || ' ' || coalesce(min(SysFILES), 0) || ' ' || "
                "coalesce(max(SysFILES), 0) from FILES";
            if (run(range, &rows) != 0) return fail(range);
            long long count = 0, low = 0, high = 0;
            if (!rows.empty()) std::sscanf(rows.front().c_str(), "%lld %lld %lld", &count, &low, &high);
            const Reporter report(progress, count, threshold);
            for (const std::string& s : EmbeddedSearchIndexStatements()) {
                if (run(s, nullptr) != 0) return fail(s);
            }
            // The rows stored before the triggers existed, in slices when progress is shown
            // (each statement leaves a segment of its own to the index: one is faster).
            const long long slices = progress && count > threshold ? 50 : 1;
            const long long step = (high - low) / slices + 1;
            long long done = 0;
            for (long long from = low; from <= high && count > 0; from += step) {
                report("Indexing file names for the search", done, count);
                const std::string fill = std::string("INSERT INTO ") + kFtsNameTable +
                                         "(rowid, NAME) SELECT SysFILES, NAME FROM FILES WHERE SysFILES >= " +
                                         std::to_string(from) + " AND SysFILES < " +
                                         std::to_string(from + step);
                if (run(fill, nullptr) != 0) return fail(fill);
                done = std::min(count, done + count / slices + 1);
            }
            report("Indexing directories for the search");
            const std::string dirs[] = {
                "INSERT INTO FILESDIR(DIR) SELECT DIR FROM FILES WHERE DIR IS NOT NULL GROUP BY DIR",
                std::string("INSERT INTO ") + kFtsDirTable + "(rowid, DIR) SELECT rowid, DIR FROM FILESDIR",
            };
            for (const std::string& fill : dirs)
                if (run(fill, nullptr) != 0) return fail(fill);
            result.created = true;
        }
        if (run("COMMIT", nullptr) != 0) return fail("COMMIT");
    }
    rows.clear();
    if (run("select count(*) from FILES", &rows) != 0) return fail("select count(*) from FILES");
    const Reporter report(progress, Number(rows), threshold);
    for (const NamedIndex& index : EmbeddedRemadeIndexes()) {
        rows.clear();
        const std::string probe = "select count(*) from sqlite_master where name = '" + index.name + "'";
        if (run(probe, &rows) != 0) return fail(probe);
        if (Number(rows) != 0) continue;
        report("Creating the index " + index.name);
        if (run(index.create, nullptr) != 0 && !AlreadyExists()) return fail(index.create);
        result.created = true;
    }
    return result;
}

// PostgreSQL: the extension, then each missing index CONCURRENTLY.
SearchIndexResult CreatePostgresIndexes(const SqlRunner& run, const SearchIndexProgressFn& progress,
                                        long long threshold) {
    SearchIndexResult result;
    std::vector<std::string> rows;
    // The planner's row count; a table never analysed yet says -1 there, and is then
    // judged by its size at a hundred bytes a row (a file's row takes a little more).
    const std::string estimate =
        "select coalesce(max(case when reltuples >= 0 then reltuples::bigint else "
        "pg_relation_size(oid) / 100 end), 0) from pg_class where relname = 'files' "
        "and pg_table_is_visible(oid)";
    long long count = 0;
    if (run(estimate, &rows) == 0) count = Number(rows);
    const Reporter report(progress, count, threshold);

    std::vector<NamedIndex> wanted = BrowseOrderIndexes(ServerKind::PostgreSQL);
    rows.clear();
    bool trigram = run("select 1 from pg_extension where extname = 'pg_trgm'", &rows) == 0 && !rows.empty();
    if (!trigram) {
        const std::string create = "CREATE EXTENSION IF NOT EXISTS pg_trgm";
        if (run(create, nullptr) == 0 || AlreadyExists()) {
            trigram = true;
            result.created = true;
        } else {
            result.warning = "the extension pg_trgm cannot be created by this login (" + FileError() +
                             "): searches read the whole table; the database owner can run " + create;
        }
    }
    if (trigram) {
        const std::vector<NamedIndex> t = TrigramIndexes();
        wanted.insert(wanted.begin(), t.begin(), t.end());
    }
    for (const NamedIndex& index : wanted) {
        rows.clear();
        const std::string state =
            "select case when i.indisvalid then 'valid' when exists (select 1 from "
            "pg_stat_progress_create_index p "
            "where p.index_relid = c.oid) then 'building' else 'broken' end from pg_class c join pg_index i "
            "on "
            "i.indexrelid = c.oid where c.relname = '" +
            index.name + "' and pg_table_is_visible(c.oid)";
        if (run(state, &rows) != 0) {
            result.error = ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
            result.message = FailureText(state);
            return result;
        }
        if (!rows.empty() && (rows.front() == "valid" || rows.front() == "building")) continue;
        if (!rows.empty()) {
            // Left invalid by a build that broke off: it would never be used. Dropped
            // and made again.
            const std::string drop = "DROP INDEX CONCURRENTLY IF EXISTS " + index.name;
            if (run(drop, nullptr) != 0) {
                result.error = ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
                result.message = FailureText(drop);
                return result;
            }
        }
        report("Creating the index " + index.name);
        if (run(index.create, nullptr) != 0 && !AlreadyExists()) {
            result.error = ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
            result.message = FailureText(index.create);
            return result;
        }
        result.created = true;
    }
    return result;
}

// A build takes as long as the table needs (minutes at millions of rows), so the
// session's statement time-out, meant for reads and writes that hang, is off meanwhile and
// put back after; its lock time-out still bounds every wait for another session.
SearchIndexResult CreatePostgres(const SqlRunner& run, const SearchIndexProgressFn& progress,
                                 long long threshold) {
    std::vector<std::string> was;
    const bool off = run("select current_setting('statement_timeout')", &was) == 0 && !was.empty() &&
                     run("SET statement_timeout = 0", nullptr) == 0;
    const SearchIndexResult result = CreatePostgresIndexes(run, progress, threshold);
    if (off) {
        const ErrorState after_build;  // a failed build reports its own failure, not the reset's
        if (run("SET statement_timeout = " + SqlLiteral(was.front()), nullptr) != 0 && result.error == 0) {
            SearchIndexResult failed = result;
            failed.error = ErrFileSystem;
            failed.message = FailureText("SET statement_timeout");
            return failed;
        }
        after_build.Restore();
    }
    return result;
}

}  // namespace

SqlRunner RunnerOf(File& file, std::function<std::string()> first) {
    return [&file, first = std::move(first)](const std::string& statement, std::vector<std::string>* rows) {
        ErrCode rc = SetProperty(file, PROP_SQL, statement);
        if (rc != ErrNone || rows == nullptr) return static_cast<int>(rc);
        while ((rc = Next(file)) == ErrNone) rows->push_back(first());
        return static_cast<int>(rc == ErrRecordNotAvailable ? ErrNone : rc);
    };
}

std::vector<std::string> EmbeddedSearchIndexStatements() {
    const std::string n = kFtsNameTable, d = kFtsDirTable;
    // A directory enters FILESDIR with its first row and its index entry with it; the
    // rows that follow find it there and write nothing. changes() is that of the
    // trigger's own INSERT OR IGNORE just before.
    const std::string dir_in =
        "INSERT OR IGNORE INTO FILESDIR(DIR) SELECT new.DIR WHERE new.DIR IS NOT NULL; INSERT INTO " + d +
        "(rowid, DIR) SELECT rowid, DIR FROM FILESDIR WHERE changes() > 0 AND DIR = new.DIR; ";
    // It leaves with its last row (FILES_DIR_SEARCH answers whether one is left).
    const std::string dir_gone = "DIR = old.DIR AND NOT EXISTS (SELECT 1 FROM FILES WHERE DIR = old.DIR)";
    const std::string dir_out = "INSERT INTO " + d + "(" + d +
                                ", rowid, DIR) SELECT 'delete', rowid, DIR FROM " + "FILESDIR WHERE " +
                                dir_gone + "; DELETE FROM FILESDIR WHERE " + dir_gone + "; ";
    const std::string name_out =
        "INSERT INTO " + n + "(" + n + ", rowid, NAME) VALUES ('delete', old.SysFILES, old.NAME); ";
    const std::string name_in = "INSERT INTO " + n + "(rowid, NAME) VALUES (new.SysFILES, new.NAME); ";
    // The searches ask for trigrams one by one and never rank: the index keeps neither
    // positions nor sizes (detail=none, columnsize=0), which halves its cost on insert.
    const std::string options = "tokenize='trigram', detail=none, columnsize=0";
    return {
        // External content: the names stay in FILES; the trigram tokenizer folds case.
        "CREATE VIRTUAL TABLE " + n + " USING fts5(NAME, content='FILES', content_rowid='SysFILES', " +
            options + ")",
        "CREATE TABLE FILESDIR (DIR TEXT NOT NULL UNIQUE)",
        "CREATE VIRTUAL TABLE " + d + " USING fts5(DIR, content='FILESDIR', " + options + ")",
        "CREATE TRIGGER FILES_SEARCH_AI AFTER INSERT ON FILES BEGIN " + name_in + dir_in + "END",
        "CREATE TRIGGER FILES_SEARCH_AD AFTER DELETE ON FILES BEGIN " + name_out + dir_out + "END",
        // A rescan that changes only sizes and dates touches neither index.
        "CREATE TRIGGER FILES_SEARCH_AU_NAME AFTER UPDATE OF SysFILES, NAME ON FILES BEGIN " + name_out +
            name_in + "END",
        "CREATE TRIGGER FILES_SEARCH_AU_DIR AFTER UPDATE OF DIR ON FILES WHEN old.DIR IS NOT new.DIR BEGIN " +
            dir_out + dir_in + "END",
        // The rows of the directories that match are found through this index; the
        // triggers ask it whether a directory still has rows.
        "CREATE INDEX IF NOT EXISTS FILES_DIR_SEARCH ON FILES (DIR)",
    };
}

std::vector<NamedIndex> BrowseOrderIndexes(ServerKind kind) {
    // The browse orders by UPPER(NAME) (its name key compares without regard to case),
    // by Size or by DATE, each followed by the row number, and positions by the same
    // columns: these indexes deliver every page in order without a sort.
    switch (kind) {
        case ServerKind::Embedded:
            return {
                {"FILES_NAME_ORDER",
                 "CREATE INDEX IF NOT EXISTS FILES_NAME_ORDER ON FILES (UPPER(NAME), SysFILES)"},
                {"FILES_SIZE_ORDER", "CREATE INDEX IF NOT EXISTS FILES_SIZE_ORDER ON FILES (Size, SysFILES)"},
                {"FILES_DATE_ORDER", "CREATE INDEX IF NOT EXISTS FILES_DATE_ORDER ON FILES (DATE, SysFILES)"},
            };
        case ServerKind::PostgreSQL:
            return {
                {"files_name_order",
                 "CREATE INDEX CONCURRENTLY IF NOT EXISTS files_name_order ON FILES (UPPER(NAME), SysFILES)"},
                {"files_size_order",
                 "CREATE INDEX CONCURRENTLY IF NOT EXISTS files_size_order ON FILES (Size, SysFILES)"},
                {"files_date_order",
                 "CREATE INDEX CONCURRENTLY IF NOT EXISTS files_date_order ON FILES (DATE, SysFILES)"},
            };
        case ServerKind::SqlServer:
            return {};
    }
    return {};
}

std::vector<NamedIndex> EmbeddedRemadeIndexes() {
    std::vector<NamedIndex> list = BrowseOrderIndexes(ServerKind::Embedded);
    // The table's name key, as the table's creation makes it.
    list.push_back({"KEYNAME_FILES", "CREATE INDEX IF NOT EXISTS KEYNAME_FILES ON FILES (UPPER(NAME))"});
    return list;
}

std::vector<NamedIndex> TrigramIndexes() {
    return {
        {"files_name_trgm",
         "CREATE INDEX CONCURRENTLY IF NOT EXISTS files_name_trgm ON FILES USING gin (NAME gin_trgm_ops)"},
        {"files_dir_trgm",
         "CREATE INDEX CONCURRENTLY IF NOT EXISTS files_dir_trgm ON FILES USING gin (DIR gin_trgm_ops)"},
    };
}

SearchIndexState ProbeSearchIndexes(const SqlRunner& run, ServerKind kind) {
    std::vector<std::string> rows;
    switch (kind) {
        case ServerKind::Embedded:
            if (run(EmbeddedProbe(), &rows) != 0) return SearchIndexState::Missing;
            return Number(rows) == EmbeddedObjectCount() ? SearchIndexState::Present
                                                         : SearchIndexState::Missing;
        case ServerKind::PostgreSQL:
            if (run(PgValidIndexes(TrigramIndexes()), &rows) != 0) return SearchIndexState::Missing;
            return Number(rows) == static_cast<long long>(TrigramIndexes().size())
                       ? SearchIndexState::Present
                       : SearchIndexState::Missing;
        case ServerKind::SqlServer:
            return SearchIndexState::NotOffered;
    }
    return SearchIndexState::NotOffered;
}

SearchIndexResult CreateSearchIndexes(const SqlRunner& run, ServerKind kind,
                                      const SearchIndexProgressFn& progress, long long progress_rows) {
    switch (kind) {
        case ServerKind::Embedded:
            return CreateEmbedded(run, progress, progress_rows);
        case ServerKind::PostgreSQL:
            return CreatePostgres(run, progress, progress_rows);
        case ServerKind::SqlServer:
            return {};
    }
    return {};
}

std::string SearchIndexMissingText(ServerKind kind) {
    if (kind == ServerKind::PostgreSQL)
        return "the trigram indexes on FILES are missing or still being built, so every search reads the "
               "whole "
               "table (drivetrek creates them at its start when the extension pg_trgm may be created)";
    return "the search index of FILES is missing or still being built, so every search reads the whole table "
           "(drivetrek creates it at its next start)";
}

void SetSearchIndexWarningHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(g_warn_mutex);
    g_warn_hook = std::move(hook);
}

void WarnSearchIndexOnce(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_warn_mutex);
    if (g_warned.exchange(true)) return;
    if (g_warn_hook) g_warn_hook(line);
    std::fprintf(stderr, "%s: warning: %s\n", program_invocation_short_name, line.c_str());
    std::fflush(stderr);
}

bool SearchIndexWarned() {
    return g_warned.load();
}

void ResetSearchIndexWarning() {
    g_warned = false;
}

SearchIndexState SearchIndexStateForFiles() {
    const ServerKind kind = KindOfDbms(GetProperty(FILES.file, PROP_DbmsName));
    const FILES_RECORD& record = FILES;
    const SearchIndexState state =
        ProbeSearchIndexes(RunnerOf(FILES.file, [&record] { return std::to_string(record.SYSFILES); }), kind);
    if (state == SearchIndexState::Missing) WarnSearchIndexOnce(SearchIndexMissingText(kind));
    return state;
}

void PrepareSearchIndexes(bool unattended, ERRORLOGINTERFACE* log, const SearchIndexProgressFn& shown,
                          long long progress_rows) {
    // A line on why searches are slow goes to the error log as well as to standard error.
    SetSearchIndexWarningHook([log](const std::string& line) {
        if (log != nullptr && log->Open(0) == 0) {
            log->WriteLine(FormatLogLine(Today(), ClockTime(), "drivetrek: warning: " + line));
            log->Close(0);
        }
    });
    const RelationOpen files(Relate::FILES);
    const RelationOpen sqlf(Relate::SQLF);
    if (Access::FILES->UseFile() == SevQuiet && Access::SQLF->UseFile() == SevQuiet) {
        const ServerKind kind = KindOfDbms(GetProperty(SQLF.file, PROP_DbmsName));
        const SqlRunner run = RunnerOf(SQLF.file, [] { return std::string(SQLF.FELD1.Clip()); });
        const SearchIndexResult made = CreateSearchIndexes(
            run, kind,
            [unattended, &shown](const SearchIndexProgress& p) {
                if (shown) shown(p);
                if (!unattended) return;
                if (p.total > 0)
                    std::fprintf(stderr, "drivetrek: %s: %lld of %lld rows\n", p.step.c_str(), p.done,
                                 p.total);
                else
                    std::fprintf(stderr, "drivetrek: %s\n", p.step.c_str());
            },
            progress_rows);
        if (!made.warning.empty())
            WarnSearchIndexOnce(made.warning);
        else if (made.error != 0)
            WarnSearchIndexOnce("the search indexes could not be created: " + made.message);
        else if (ProbeSearchIndexes(run, kind) == SearchIndexState::Missing)
            WarnSearchIndexOnce(SearchIndexMissingText(kind));
    }
}

}  // namespace dt
