#include "app/search.h"

#include <algorithm>
#include <utility>

#include "app/dialect.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "runtime/errors.h"
#include "runtime/picture.h"

namespace dt {

namespace {

// The calling thread's last failure: the runtime's text, the server's message after "|".
std::string FailureText() {
    std::string text = Error();
    const std::string server = FileError();
    if (!server.empty()) text += "|" + server;
    return text;
}

}  // namespace

bool SearchJoinsIndexForFiles(ServerKind kind) {
    // The embedded database's statement joins its full-text index when the index is in
    // place; the servers' statements are the same either way (the check warns once when
    // the index is missing).
    if (kind == ServerKind::Embedded) return SearchIndexStateForFiles() == SearchIndexState::Present;
    if (kind == ServerKind::PostgreSQL) SearchIndexStateForFiles();
    return false;
}

std::string SearchStatementForFiles(const SearchRequest& request) {
    const ServerKind kind = KindOfDbms(GetProperty(FILES.file, PROP_DbmsName));
    return BuildSearchStatement(request, DialectOf(kind), SearchJoinsIndexForFiles(kind));
}

void FoundFiles::Add(std::string_view dir, std::string_view name) {
    rows_.push_back(
        Span{text_.size(), static_cast<std::uint32_t>(dir.size()), static_cast<std::uint32_t>(name.size())});
    text_.append(dir);
    text_.append(name);
}

FoundFile FoundFiles::at(std::size_t i) const {
    const Span& s = rows_.at(i);
    return FoundFile{text_.substr(s.start, s.dir), text_.substr(s.start + s.dir, s.name)};
}

void FoundFiles::clear() {
    text_.clear();
    rows_.clear();
}

SearchRead::~SearchRead() {
    End();
}

ErrCode SearchRead::Begin(const SearchRequest& request, std::string* sent) {
    End();
    outcome_ = SearchOutcome{};
    files_.emplace(Relate::FILES);
    if (Access::FILES->UseFile() != SevQuiet) {
        // The file manager has reported the failure; the search still says why it found
        // nothing rather than showing an empty list.
        outcome_.error = ErrorCode() != ErrNone ? ErrorCode() : ErrFileSystem;
        outcome_.message = ErrorCode() != ErrNone ? FailureText() : "The table FILES could not be opened.";
        End();
        return outcome_.error;
    }
    const std::string statement = SearchStatementForFiles(request);
    if (sent != nullptr) *sent = statement;
    if (const ErrCode rc = SetProperty(FILES.file, PROP_SQL, statement); rc != ErrNone) {
        outcome_.error = rc;
        outcome_.message = FailureText();
        // The driver reports a missing table by its code alone.
        if (rc == ErrFileNotFound && FileError().empty())
            outcome_.message += "|The table FILES is not in the database.";
        End();
        return rc;
    }
    active_ = true;
    return ErrNone;
}

bool SearchRead::Step(const std::function<void(const FILES_RECORD&)>& row, std::size_t max_rows,
                      std::chrono::milliseconds budget) {
    if (!active_) return false;
    const auto until = std::chrono::steady_clock::now() + budget;
    const FILES_RECORD& record = FILES;
    ErrCode rc = ErrNone;
    for (std::size_t n = 0; max_rows == 0 || n < max_rows; ++n) {
        if ((rc = Next(FILES.file)) != ErrNone) break;
        row(record);
        // The clock is read every 64 rows: a row costs microseconds.
        if ((n & 63) == 63 && std::chrono::steady_clock::now() >= until) return true;
    }
    if (rc == ErrNone) return true;
    // ErrRecordNotAvailable is the end of the result; anything else broke the read part-way.
    if (rc != ErrRecordNotAvailable) {
        outcome_.error = rc;
        outcome_.message = FailureText();
    }
    End();
    return false;
}

void SearchRead::End() {
    active_ = false;
    // The tables may be gone already (killed at the program's end): nothing to close then.
    if (files_ && Relate::FILES == nullptr) files_->Forget();
    files_.reset();
}

SearchOutcome ReadSearchRows(const SearchRequest& request,
                             const std::function<void(const FILES_RECORD&)>& row, std::string* sent) {
    SearchRead read;
    if (read.Begin(request, sent) == 0) {
        while (read.Step(row, 0, std::chrono::hours(24))) {
        }
    }
    return read.Outcome();
}

ComputerNames::ComputerNames(Queue<QCOMPUTER_RECORD>& qcomputer) {
    QCOMPUTER_RECORD entry;
    for (std::size_t i = 1; qcomputer.Peek(i, entry); ++i) {
        if (entry.SYSCOMPUTER != 0) names_.emplace_back(entry.SYSCOMPUTER, std::string(entry.NAME.View()));
    }
    std::sort(names_.begin(), names_.end());
}

std::string_view ComputerNames::Name(ULONG sys) const {
    auto it = std::lower_bound(names_.begin(), names_.end(), sys,
                               [](const auto& n, ULONG v) { return n.first < v; });
    return it == names_.end() || it->first != sys ? std::string_view() : std::string_view(it->second);
}

void AddResultRow(const FILES_RECORD& row, ULONG this_computer, const ComputerNames* names,
                  Queue<QFILES_RECORD>& qfiles, FoundFiles& found) {
    qfiles.ClearBuffer();
    qfiles.NAME = row.NAME.View();  // cut to 127 characters for the list
    qfiles.EXTENSION = row.EXTENSION.View();
    qfiles.DIR = row.DIR.View();  // cut to 259 characters for the list
    qfiles.DATE = row.DATE_DATE;
    qfiles.TIME = row.DATE_TIME;
    qfiles.SIZE = row.SIZE;
    qfiles.SYSCOMPUTER = row.SYSCOMPUTER;
    const bool other = row.SYSCOMPUTER != this_computer;
    qfiles.C1 = other ? kOtherComputerColor : -1;
    qfiles.C2 = qfiles.C3 = qfiles.C4 = -1;
    if (names != nullptr) qfiles.COMPUTER = names->Name(row.SYSCOMPUTER);
    qfiles.Add();
    found.Add(row.DIR.View(), row.NAME.View());
}

SearchOutcome ReadSearch(const SearchRequest& request, ULONG this_computer, Queue<QFILES_RECORD>& qfiles,
                         FoundFiles& found, std::string* sent) {
    return ReadSearchRows(
        request, [&](const FILES_RECORD& row) { AddResultRow(row, this_computer, nullptr, qfiles, found); },
        sent);
}

void FillComputerNames(Queue<QFILES_RECORD>& qfiles, Queue<QCOMPUTER_RECORD>& qcomputer) {
    // The computer list is short and in ascending row-number order: one pass builds the
    // lookup, so a large result costs one probe per entry.
    std::vector<std::pair<ULONG, std::string>> names;
    QCOMPUTER_RECORD entry;
    for (std::size_t i = 1; qcomputer.Peek(i, entry); ++i) {
        if (entry.SYSCOMPUTER != 0) names.emplace_back(entry.SYSCOMPUTER, std::string(entry.NAME.View()));
    }
    const std::size_t count = qfiles.Records();
    for (std::size_t i = 1; i <= count; ++i) {
        qfiles.Get(i);
        const ULONG sys = qfiles.SYSCOMPUTER;
        auto it = std::lower_bound(names.begin(), names.end(), sys,
                                   [](const auto& n, ULONG v) { return n.first < v; });
        if (it == names.end() || it->first != sys) continue;
        qfiles.COMPUTER = it->second;
        qfiles.Put();
    }
}

std::string SizeText(INT64 size) {
    const bool kilobytes = size >= 1024;
    std::string text = Format(static_cast<double>(kilobytes ? size / 1024 : size), "N14");
    text.erase(0,
               text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
    return text + (kilobytes ? " KBytes" : " Byte");
}

}  // namespace dt
