// dtfind: the search of the main window from the command line, for scripts and remote
// shells.
//
//   dtfind [-d] [-e EXT] [--from KB] [--to KB] [-c COMPUTER] [--sql] [--] [WORD ...]
//
// Reads ./drivetrek.ini like the program, builds the statement with the code the results
// window uses and prints one line per hit, fields separated by tabs: computer name,
// directory, name, extension, size in bytes, date (YYYY-MM-DD) and time (HH:MM:SS); an
// empty field when there is no date or time. A tab, line break, carriage return or
// backslash inside a name is written as \t, \n, \r or \\, so every line is one hit.
// -d  also match the directory ("search also for directory name")
// -e  extension pattern; --from, --to  size bounds in kilobytes (strict, as the window)
// -c  only files of the named computer; --sql prints the statement instead of running it.
// Exit status: 0 with hits, 1 without, 2 on an error (the message on standard error; the
// lines are printed as the rows arrive, so a read that breaks off part-way leaves the
// lines before it, and status 2 says the list is incomplete).
// Nothing is created: a missing database or table is an error.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/search.h"
#include "app/query.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/tables.h"
#include "data/sql_connection.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "framework/error_manager.h"
#include "runtime/errors.h"

namespace dt {
namespace {

constexpr int kHits = 0;
constexpr int kNoHits = 1;
constexpr int kFailed = 2;

constexpr const char* kUsage =
    "usage: dtfind [-d] [-e EXT] [--from KB] [--to KB] [-c COMPUTER] [--sql] [--] [WORD ...]\n"
    "  -d          search also for directory name\n"
    "  -e EXT      extension\n"
    "  --from KB   only files larger than KB kilobytes\n"
    "  --to KB     only files smaller than KB kilobytes\n"
    "  -c NAME     only files of the computer NAME\n"
    "  --sql       print the statement instead of running it\n"
    "Prints computer, directory, name, extension, size, date and time of every hit, separated by\n"
    "tabs. Exit status 0 with hits, 1 without, 2 on an error.\n";

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
    std::string computer;
    bool computer_given = false;
    bool sql_only = false;
    long kb_from = 0;
    long kb_to = 0;
};

int Fail(const std::string& message) {
    std::string text = message;
    for (char& c : text)
        if (c == '|') c = '\n';
    std::fprintf(stderr, "dtfind: %s\n", text.c_str());
    return kFailed;
}

// A size bound as the main window's entry takes it: a whole number of kilobytes within a
// LONG.
bool ParseKilobytes(std::string_view text, long& out) {
    if (text.empty()) return false;
    std::string s(text);
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<long>(v);
    return true;
}

// Parses the command line; returns -1 to go on, or the exit status.
int ParseArgs(int argc, char** argv, Options& o) {
    std::vector<std::string> words;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&](std::string_view name) -> const char* {
            if (i + 1 >= argc) {
                Fail(std::string(name) + " needs a value");
                return nullptr;
            }
            return argv[++i];
        };
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "-h" || a == "--help")) {
            std::fputs(kUsage, stdout);
            return kHits;
        } else if (options && a == "-d") {
            o.request.search_dir = true;
        } else if (options && a == "--sql") {
            o.sql_only = true;
        } else if (options && a == "-e") {
            const char* v = value(a);
            if (v == nullptr) return kFailed;
            o.request.extension = v;
        } else if (options && (a == "--from" || a == "--to")) {
            const char* v = value(a);
            if (v == nullptr) return kFailed;
            long& kb = a == "--from" ? o.kb_from : o.kb_to;
            if (!ParseKilobytes(v, kb)) return Fail(std::string(a) + ": not a number of kilobytes: " + v);
        } else if (options && a == "-c") {
            const char* v = value(a);
            if (v == nullptr) return kFailed;
            o.computer = v;
            o.computer_given = true;
        } else if (options && a.size() > 1 && a.front() == '-') {
            std::fputs(kUsage, stderr);
            return Fail("unknown option " + std::string(a));
        } else {
            words.emplace_back(a);
        }
    }
    for (std::size_t i = 0; i < words.size(); ++i) o.request.filter += (i ? " " : "") + words[i];
    // The window's entries hold 40 and 10 characters; a longer text cut short would search
    // for something else.
    if (o.request.filter.size() > sizeof(G::FILTER1) - 1)
        return Fail("the search words are longer than " + std::to_string(sizeof(G::FILTER1) - 1) +
                    " characters");
    if (o.request.extension.size() > sizeof(G::EXTENSION) - 1)
        return Fail("the extension is longer than " + std::to_string(sizeof(G::EXTENSION) - 1) +
                    " characters");
    if (IsEmptyRequest(o.request.filter, o.request.extension, o.kb_from, o.kb_to))
        return Fail("please enter a search expression");
    o.request.size_from = KilobytesToBytes(o.kb_from);
    o.request.size_to = KilobytesToBytes(o.kb_to);
    return -1;
}

// The calling thread's last failure: the runtime's text, the server's message after "|".
std::string LastFailure() {
    std::string text = Error();
    if (!FileError().empty()) text += "|" + FileError();
    return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Every COMPUTER row in row-number order into `qcomputer`. False on a failure (text in
// `error`).
bool ReadComputers(Queue<QCOMPUTER_RECORD>& qcomputer, std::string& error) {
    Relate::COMPUTER->Open();
    bool ok = Access::COMPUTER->UseFile() == 0;
    if (!ok) error = LastFailure();
    int rc = ok ? Set(COMPUTER.KEYSYSCOMPUTER) : 0;
    while (ok && rc == 0) {
        rc = Next(COMPUTER.file);
        if (rc != 0) break;
        qcomputer.ClearBuffer();
        qcomputer.NAME = COMPUTER.NAME.View();
        qcomputer.SYSCOMPUTER = COMPUTER.SYSCOMPUTER;
        qcomputer.Add();
    }
    if (ok && rc != 33) {
        ok = false;
        error = LastFailure();
    }
    Relate::COMPUTER->Close();
    return ok;
}

// Appends `text` with tabs, line breaks and backslashes escaped.
void AppendField(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t at = text.find_first_of("\t\n\r\\"); at != std::string_view::npos;
         at = text.find_first_of("\t\n\r\\", from)) {
        out.append(text.substr(from, at - from));
        const char c = text[at];
        out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        from = at + 1;
    }
    out.append(text.substr(from));
}

void AppendTwoDigits(std::string& out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

// The hits as lines on standard output, written in large blocks as the rows arrive.
class HitWriter {
  public:
    // `computers`: row number and name of every computer, ascending.
    explicit HitWriter(std::vector<std::pair<ULONG, std::string>> computers)
        : computers_(std::move(computers)) {
        out_.reserve(kBlock + 1024);
    }

    void Row(const FILES_RECORD& row) {
        ++hits_;
        auto it = std::lower_bound(computers_.begin(), computers_.end(), row.SYSCOMPUTER,
                                   [](const auto& c, ULONG v) { return c.first < v; });
        if (it != computers_.end() && it->first == row.SYSCOMPUTER) AppendField(out_, it->second);
        out_ += '\t';
        AppendField(out_, row.DIR.View());
        out_ += '\t';
        AppendField(out_, row.NAME.View());
        out_ += '\t';
        AppendField(out_, row.EXTENSION.View());
        out_ += '\t';
        out_ += std::to_string(row.SIZE);
        out_ += '\t';
        const DATE d = row.DATE_DATE;
        if (!d.IsZero()) {
            std::string year = std::to_string(d.year);
            if (year.size() < 4) out_.append(4 - year.size(), '0');
            out_ += year;
            out_ += '-';
            AppendTwoDigits(out_, d.month);
            out_ += '-';
            AppendTwoDigits(out_, d.day);
        }
        out_ += '\t';
        const TIME t = row.DATE_TIME;
        if (!t.IsZero()) {
            AppendTwoDigits(out_, t.hours);
            out_ += ':';
            AppendTwoDigits(out_, t.minutes);
            out_ += ':';
            AppendTwoDigits(out_, t.seconds);
        }
        out_ += '\n';
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
    std::vector<std::pair<ULONG, std::string>> computers_;
    std::string out_;
    unsigned long hits_ = 0;
    bool ok_ = true;
};

int Search(const Options& o) {
    SetVersionAndIniFile();
    LoadSettings(GLO::INIFILE.Str());
    ReadComputerName();
    if (GLO::SQLDATABASE.IsBlank()) GLO::SQLDATABASE = "DRIVETREK";
    const std::vector<std::string> drivers = DriverNameList();
    const ServerKind expected = drivers.empty() ? ServerKind::SqlServer : KindOfDriverName(drivers.front());
    BuildOwners(DialectOf(expected).MasterDatabase());

    // The embedded database is a file that connecting would create: a search must not
    // (other drivers ignore the attribute).
    GLO::SQLOWNER = GLO::SQLOWNER.Str() + ";NoCreat=1";

    QuietErrors errors;
    errors.Startup();
    errors.SetHaltHandler([](const HaltRequest&) {});  // the failure is reported below
    InitTables(errors);
    Access::FILES->CREATE = 0;
    Access::COMPUTER->CREATE = 0;

    int status = kFailed;
    Queue<QCOMPUTER_RECORD> qcomputer;
    std::string error;
    {
        Relate::FILES->Open();  // one connection for the whole run
        if (Access::FILES->UseFile() != 0)
            error = "the table FILES cannot be read: " + (ErrorCode() != 0 ? LastFailure() : errors.shown);
        if (error.empty() && ReadComputers(qcomputer, error)) {
            SearchRequest request = o.request;
            std::vector<std::pair<ULONG, std::string>> computers;
            QCOMPUTER_RECORD c;
            for (std::size_t i = 1; qcomputer.Peek(i, c); ++i) {
                computers.emplace_back(c.SYSCOMPUTER, std::string(c.NAME.View()));
                if (o.computer_given && request.computer == 0 && EqualNoCase(c.NAME.View(), o.computer))
                    request.computer = c.SYSCOMPUTER;
            }
            if (o.computer_given && request.computer == 0)
                error = "no computer named " + o.computer + " in the database";
            if (error.empty() && o.sql_only) {
                std::printf("%s\n", SearchStatementForFiles(request).c_str());
                status = kHits;
            } else if (error.empty()) {
                // The rows are printed as they arrive: a large result is never held whole.
                HitWriter writer(std::move(computers));
                const SearchOutcome outcome =
                    ReadSearchRows(request, [&writer](const FILES_RECORD& row) { writer.Row(row); });
                if (!writer.Flush())
                    error = "cannot write the result";
                else if (outcome.error != 0)
                    error = "the search could not be carried out|" + outcome.message;
                else
                    status = writer.Hits() > 0 ? kHits : kNoHits;
            }
        } else if (error.empty()) {
            error = "the computer table cannot be read";
        }
        Relate::FILES->Close();
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
