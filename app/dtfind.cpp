// dtfind: the search of the main window from the command line, for scripts and remote
// shells. See `dtfind --help` and the manual page (packaging/man/dtfind.1) for the
// options, the output formats and the exit statuses:
//   0  at least one hit (with --count: a count above 0)
//   1  no hit
//   2  an error or a bad command line (the message on standard error; rows are written as
//      they arrive, so a read that breaks off part-way leaves the rows before it, and the
//      status says the list is incomplete)
// Settings as the program reads them (FindSettings); nothing is created: a missing
// database or table is an error.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/search.h"
#include "app/query.h"
#include "app/row_format.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tables.h"
#include "app/version.h"
#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/sql_text.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "platform/text.h"
#include "runtime/errors.h"

namespace dt {
namespace {

constexpr int kHits = 0;
constexpr int kNoHits = 1;
constexpr int kFailed = 2;

constexpr const char* kShortUsage =
    "usage: dtfind [-d] [-e EXT] [--from KB] [--to KB] [-c COMPUTER]... [--format FORMAT]\n"
    "              [--limit N] [--count] [--sql] [--] [WORD ...]\n"
    "Try 'dtfind --help' for more information.\n";

constexpr const char* kFooter =
    "Formats:\n"
    "  tsv    computer, directory, name, extension, size in bytes, date (YYYY-MM-DD) and time\n"
    "         (HH:MM:SS), separated by tabs; tab, line feed, carriage return and backslash as\n"
    "         \\t \\n \\r \\\\, every other control byte as \\xHH\n"
    "  csv    RFC 4180 with a header line; the fields of tsv and the path\n"
    "  json   one object per line: computer, dir, name, extension, size, date, time, path,\n"
    "         and path_b64 (the path's bytes in base64) when the path is not valid UTF-8\n"
    "  paths  one full path per line, its bytes as stored\n"
    "  null   full paths each ended by a NUL byte (for xargs -0)\n"
    "Exit status: 0 with hits, 1 without, 2 on an error or a bad command line.\n"
    "Settings: ./drivetrek.ini when the current directory holds one, else\n"
    "$XDG_CONFIG_HOME/drivetrek/drivetrek.ini (see man 1 dtfind).";

// Nobody can answer a message box here: the framework's messages are kept, and the
// failure is reported once on standard error with the driver's own text.
class QuietErrors final : public ErrorManager {
  public:
    int ShowBox(std::string_view text, std::string_view title, IconRef, int, int default_button,
                LONG) override {
        if (shown.empty()) shown = std::string(title) + ": " + std::string(text);
        return default_button;
    }
    std::string shown;
};

struct Options {
    SearchRequest request;
    std::vector<std::string> computers;
    RowFormat format = RowFormat::Tsv;
    long limit = 0;  // 0: every hit
    bool count = false;
    bool sql_only = false;
};

int Fail(const std::string& message) {
    std::string text = message;
    for (char& c : text)
        if (c == '|') c = '\n';
    std::fprintf(stderr, "dtfind: %s\n", text.c_str());
    return kFailed;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "dtfind: %s\n%s", message.c_str(), kShortUsage);
    return kFailed;
}

// Parses the command line; returns -1 to go on, or the exit status.
int ParseArgs(int argc, char** argv, Options& o) {
    CLI::App app{
        "Searches the files DriveTrek has stored, by words in the name (and, with -d, the\n"
        "directory), extension, size and computer, and prints one record per hit.",
        "dtfind"};
    app.footer(kFooter);
    app.set_version_flag("--version", VersionLine("dtfind"), "print the version and exit");
    std::vector<std::string> words;
    std::string format = "tsv";
    long kb_from = 0, kb_to = 0;
    app.add_flag("-d,--dir", o.request.search_dir, "search also for directory name");
    app.add_option("-e,--extension", o.request.extension, "extension pattern (at most 10 characters)")
        ->type_name("EXT");
    app.add_option("--from", kb_from, "only files larger than KB kilobytes")->type_name("KB");
    app.add_option("--to", kb_to, "only files smaller than KB kilobytes")->type_name("KB");
    app.add_option("-c,--computer", o.computers, "only files of the computer NAME (may be repeated)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    app.add_option("--format", format, "tsv (default), csv, json, paths or null")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"tsv", "csv", "json", "paths", "null"}));
    app.add_option("--limit", o.limit, "at most N hits (the limit is part of the statement)")->type_name("N");
    app.add_flag("--count", o.count, "print only the number of hits");
    app.add_flag("--sql", o.sql_only, "print the statement instead of running it");
    app.add_option("words", words, "words that must all be in the name")->type_name("WORD");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return kHits;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s\n", VersionLine("dtfind").c_str());
        return kHits;
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    ParseRowFormat(format, o.format);
    for (std::size_t i = 0; i < words.size(); ++i) o.request.filter += (i ? " " : "") + words[i];
    if (kb_from < 0) return UsageError("--from: a size cannot be negative: " + std::to_string(kb_from));
    if (kb_to < 0) return UsageError("--to: a size cannot be negative: " + std::to_string(kb_to));
    // The window's entry holds a LONG number of kilobytes.
    if (kb_from > INT32_MAX || kb_to > INT32_MAX)
        return UsageError("a size bound is larger than " + std::to_string(INT32_MAX) + " kilobytes");
    if (kb_to > 0 && kb_from > kb_to)
        return UsageError("--from " + std::to_string(kb_from) + " is above --to " + std::to_string(kb_to));
    if (o.limit < 0) return UsageError("--limit must be a positive number");
    if (o.count && o.limit > 0) return UsageError("--count and --limit cannot be combined");
    // The window's entries hold 40 and 10 characters; a longer text cut short would search
    // for something else.
    if (o.request.filter.size() > sizeof(G::FILTER1) - 1)
        return Fail("the search words are longer than " + std::to_string(sizeof(G::FILTER1) - 1) +
                    " characters");
    if (o.request.extension.size() > sizeof(G::EXTENSION) - 1)
        return Fail("the extension is longer than " + std::to_string(sizeof(G::EXTENSION) - 1) +
                    " characters");
    if (IsEmptyRequest(o.request.filter, o.request.extension, kb_from, kb_to))
        return Fail("please enter a search expression");
    o.request.size_from = KilobytesToBytes(kb_from);
    o.request.size_to = KilobytesToBytes(kb_to);
    return -1;
}

// The calling thread's last failure: the runtime's text, the server's message after "|".
std::string LastFailure() {
    std::string text = Error();
    if (!FileError().empty()) text += "|" + FileError();
    return text;
}

using ComputerList = std::vector<std::pair<ULONG, std::string>>;

// Every COMPUTER row in row-number order. False on a failure (text in `error`).
bool ReadComputers(ComputerList& computers, std::string& error) {
    bool ok = false;
    {
        const RelationOpen computer(Relate::COMPUTER);
        ok = Access::COMPUTER->UseFile() == SevQuiet;
        if (!ok) error = LastFailure();
        ErrCode rc = ok ? Set(COMPUTER.KEYSYSCOMPUTER) : ErrNone;
        while (ok && rc == ErrNone) {
            rc = Next(COMPUTER.file);
            if (rc != ErrNone) break;
            computers.emplace_back(COMPUTER.SYSCOMPUTER, std::string(COMPUTER.NAME.View()));
        }
        if (ok && rc != ErrRecordNotAvailable) {
            ok = false;
            error = LastFailure();
        }
    }
    std::sort(computers.begin(), computers.end());
    return ok;
}

// The statement of the request: the result window's statement when one computer or none
// is named, else its condition with every named computer; with a limit, the first N rows
// in name order; with `count`, the number of matching rows.
std::string Statement(SearchRequest request, const std::vector<ULONG>& computers, const Dialect& dialect,
                      bool fts, long limit, bool count) {
    request.computer = computers.size() == 1 ? computers.front() : 0;
    std::string condition = BuildSearchCondition(request, dialect, fts);
    if (computers.size() > 1) {
        condition += " and SysCOMPUTER in (";
        for (std::size_t i = 0; i < computers.size(); ++i)
            condition += (i ? ", " : "") + std::to_string(computers[i]);
        condition += ")";
    }
    if (count) return "select count(*) from FILES where " + condition;
    std::string statement = computers.size() > 1 ? "select * from FILES where " + condition + " order by Name"
                                                 : BuildSearchStatement(request, dialect, fts);
    if (limit > 0) {
        if (dialect.kind == ServerKind::SqlServer)
            statement.insert(std::string_view("select ").size(), "top " + std::to_string(limit) + " ");
        else
            statement += " LIMIT " + std::to_string(limit);
    }
    return statement;
}

// The embedded database's page cache for this run's one search, in KiB: small. A search
// reads each page of its rows and of the index about once, and every page of a larger
// cache is fresh memory that the read into it has to fault in: with the library's 2 MB
// that was about a fifth of a selective search's time, with no gain for a broad one.
constexpr const char* kEmbeddedPageCache = "PRAGMA cache_size = -256";

// A one-column pass-through table for the count. NOVERIFY: opening it creates and asks
// nothing.
#pragma pack(push, 1)
struct CountRecord {
    CSTRING<64> value;
};
#pragma pack(pop)
struct CountTable : Table<CountRecord> {
    CountTable() : Table("SQL", SqlDriver(), "/NOVERIFY=TRUE", "SQLF", 0, {Field::Cstring("SQL:C1", 0, 64)}) {
        file.SetOwnerVariable(GLO::SQLOWNER);
    }
};

// The hits on standard output, written in large blocks as the rows arrive.
class HitWriter {
  public:
    HitWriter(RowFormat format, const ComputerList& computers) : format_(format), computers_(computers) {
        out_.reserve(kBlock + 1024);
        AppendHeader(format_, out_);
    }

    void Row(const FILES_RECORD& row) {
        ++hits_;
        HitRow hit;
        auto it = std::lower_bound(computers_.begin(), computers_.end(), row.SYSCOMPUTER,
                                   [](const auto& c, ULONG v) { return c.first < v; });
        if (it != computers_.end() && it->first == row.SYSCOMPUTER) hit.computer = it->second;
        hit.dir = row.DIR.View();
        hit.name = row.NAME.View();
        hit.extension = row.EXTENSION.View();
        hit.size = row.SIZE;
        hit.date = DateText(row.DATE_DATE);
        hit.time = TimeText(row.DATE_TIME);
        AppendRow(format_, hit, out_);
        if (out_.size() >= kBlock) Flush();
    }

    // Writes what is left; false when standard output could not take it.
    bool Flush() {
        if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), stdout) != out_.size()) ok_ = false;
        out_.clear();
        return ok_;
    }
    unsigned long Hits() const { return hits_; }

  private:
    static constexpr std::size_t kBlock = 1 << 16;
    RowFormat format_;
    const ComputerList& computers_;
    std::string out_;
    unsigned long hits_ = 0;
    bool ok_ = true;
};

// Sends `statement` through FILES (in use on this thread) and writes every row.
int WriteRows(const std::string& statement, RowFormat format, const ComputerList& computers,
              std::string& error) {
    HitWriter writer(format, computers);
    ErrCode rc = SetProperty(FILES.file, PROP_SQL, statement);
    if (rc == ErrNone) {
        const FILES_RECORD& record = FILES;
        while ((rc = Next(FILES.file)) == ErrNone) writer.Row(record);
        if (rc == ErrRecordNotAvailable) rc = ErrNone;  // the end of the result; anything else broke the read
    }
    const std::string failure = rc != ErrNone ? LastFailure() : std::string();
    if (!writer.Flush()) {
        error = "cannot write the result";
    } else if (rc != ErrNone) {
        error = "the search could not be carried out|" + failure;
    } else {
        return writer.Hits() > 0 ? kHits : kNoHits;
    }
    return kFailed;
}

int WriteCount(const std::string& statement, std::string& error) {
    CountTable table;
    if (Open(table) != 0) {
        error = "cannot connect for the count|" + LastFailure();
        return kFailed;
    }
    int status = kFailed;
    if (SetProperty(table, PROP_SQL, statement) != 0 || Next(table.file) != 0) {
        error = "the count could not be carried out|" + LastFailure();
    } else {
        const std::string value(table.value.View());
        const bool digits = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        });
        if (!digits) {
            error = "the server answered the count with \"" + value + "\"";
        } else {
            std::printf("%s\n", value.c_str());
            status = value.find_first_not_of('0') == std::string::npos ? kNoHits : kHits;
        }
    }
    CloseAfterUse(table);
    return status;
}

int Search(const Options& o) {
    std::string error;
    if (!FindSettings(SettingsUse::Read, error)) return Fail(error);
    ReadComputerName();
    if (GLO::SQLDATABASE.IsBlank()) GLO::SQLDATABASE = "DRIVETREK";
    const std::vector<std::string> drivers = DriverNameList();
    const ServerKind expected = drivers.empty() ? ServerKind::SqlServer : KindOfDriverName(drivers.front());
    BuildOwners(DialectOf(expected).MasterDatabase());

    // The embedded database is a file that connecting would create: a search must not.
    // Its driver steps through a result row by row (StepAPI) instead of reading the whole
    // result into memory before the first row: a broad search holds one row at a time.
    // This run makes one connection, reads only and never opens a transaction, so nothing
    // runs on it while a result is being stepped through. (Other drivers ignore both
    // attributes.)
    GLO::SQLOWNER = GLO::SQLOWNER.Str() + ";NoCreat=1;StepAPI=1";
    // This run uses its one connection from this one thread: the embedded database's
    // library is set to take no locks, before anything connects. Whatever it reports, the
    // search is the same; only its speed differs.
    (void)SetEmbeddedLibraryForOneThread();

    QuietErrors errors;
    errors.Startup();
    errors.SetHaltHandler([](const HaltRequest&) {});  // the failure is reported below
    InitTables(errors);
    Access::FILES->CREATE = 0;
    Access::COMPUTER->CREATE = 0;

    int status = kFailed;
    ComputerList computers;
    {
        const RelationOpen files(Relate::FILES);  // one connection for the whole run
        if (Access::FILES->UseFile() != SevQuiet)
            error =
                "the table FILES cannot be read: " + (ErrorCode() != ErrNone ? LastFailure() : errors.shown);
        if (error.empty() && !ReadComputers(computers, error) && error.empty())
            error = "the computer table cannot be read";
        std::vector<ULONG> wanted;
        for (const std::string& name : o.computers) {
            if (!error.empty()) break;
            auto it = std::find_if(computers.begin(), computers.end(),
                                   [&name](const auto& c) { return EqualNoCase(c.second, name); });
            if (it == computers.end())
                error = "no computer named " + name + " in the database";
            else if (std::find(wanted.begin(), wanted.end(), it->first) == wanted.end())
                wanted.push_back(it->first);
        }
        if (error.empty()) {
            const ServerKind kind = KindOfDbms(GetProperty(FILES.file, PROP_DbmsName));
            const std::string statement = Statement(o.request, wanted, DialectOf(kind),
                                                    SearchJoinsIndexForFiles(kind), o.limit, o.count);
            // Only the search's speed depends on the setting: a failure leaves the library's
            // own cache size, and the search runs the same.
            if (kind == ServerKind::Embedded && !o.sql_only)
                (void)SetProperty(FILES.file, PROP_SQL, kEmbeddedPageCache);
            if (o.sql_only) {
                std::printf("%s\n", statement.c_str());
                status = kHits;
            } else if (o.count) {
                status = WriteCount(statement, error);
            } else {
                // The rows are written as they arrive: a large result is never held whole.
                status = WriteRows(statement, o.format, computers, error);
            }
        }
    }
    KillTables();
    errors.Shutdown();
    if (std::fflush(stdout) != 0 && error.empty()) error = "cannot write the result";
    if (!error.empty()) return Fail(error);
    return status;
}

}  // namespace
}  // namespace dt

int main(int argc, char** argv) {
    dt::Options options;
    if (int rc = dt::ParseArgs(argc, argv, options); rc >= 0) return rc;
    return dt::Search(options);
}
