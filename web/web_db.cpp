#include "web/web_db.h"

#include <algorithm>
#include <cstddef>

#include "app/globals.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/sql_text.h"
#include "data/statements.h"
#include "platform/text.h"
#include "runtime/errors.h"

namespace dt::web {
namespace {

#pragma pack(push, 1)
struct NumberRecord {
    CSTRING<64> VALUE;
};
#pragma pack(pop)

}  // namespace

// A one-column pass-through table. NOVERIFY: nothing is created or asked of the server at
// OPEN.
struct WorkerDb::Pass : Table<NumberRecord> {
    Pass()
        : Table(
              "WEBNUM", SqlDriver(), "/NOVERIFY=TRUE", "FILES", 0,
              {Field::Cstring("WEBNUM:VALUE", offsetof(NumberRecord, VALUE), sizeof(NumberRecord::VALUE))}) {}
};

std::string WorkerOwner(const std::string& owner, int n) {
    return owner + ";NoCreat=1;DTWEBWORKER=" + std::to_string(n);
}

WorkerDb::WorkerDb(std::string owner)
    : owner_(std::move(owner)), pass_(std::make_unique<Pass>()), dialect_(DialectOf(ServerKind::SqlServer)) {
    // This thread's FILES and COMPUTER reach the worker's own connection.
    FILES.file.SetOwner(owner_);
    COMPUTER.file.SetOwner(owner_);
    pass_->file.SetOwner(owner_);
}

// No file statement here: at the end of a thread the thread's error state may already be
// gone. The tables' own destructors release their driver handles.
WorkerDb::~WorkerDb() = default;

std::string WorkerDb::Failure() const {
    std::string text = Error();
    if (!FileError().empty()) text += ": " + FileError();
    // The password is never shown, whatever a driver puts into its message.
    const std::string password(GLO::SQLPASSWD.Clip());
    if (!password.empty())
        for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at))
            text.replace(at, password.size(), "********");
    return text;
}

bool WorkerDb::Connect(std::string& error) {
    if (open_) return true;
    int rc = Open(FILES.file, ReadOnly | DenyNone);
    if (rc == 0) rc = Open(COMPUTER.file, ReadOnly | DenyNone);
    if (rc == 0) rc = Open(pass_->file, ReadOnly | DenyNone);
    if (rc != 0) {
        error = rc == 2 ? "the tables FILES and COMPUTER are not in the database" : Failure();
        Disconnect();
        return false;
    }
    dialect_ = DialectOf(KindOfDbms(GetProperty(FILES.file, PROP_DbmsName)));
    open_ = true;
    return true;
}

void WorkerDb::Disconnect() {
    // Closing every table lets go of the connection, so the next open makes a new one.
    Close(pass_->file);
    Close(COMPUTER.file);
    Close(FILES.file);
    open_ = false;
}

// Runs `body` on an open connection. A failure may be a connection the server dropped
// (restarted, or away for a while): the tables are closed, opened again on a new
// connection and the (read-only) body runs once more. No connection: Unavailable.
template <class Body>
DbStatus WorkerDb::Run(Body&& body, std::string& error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!Connect(error)) return DbStatus::Unavailable;
        if (body()) return DbStatus::Ok;
        error = Failure();
        Disconnect();
    }
    return DbStatus::Failed;
}

bool WorkerDb::ReadComputers(std::vector<ComputerInfo>& out) {
    out.clear();
    if (Set(COMPUTER.KEYSYSCOMPUTER) != 0) return false;
    int rc;
    while ((rc = Next(COMPUTER.file)) == 0) {
        ComputerInfo c;
        c.id = COMPUTER.SYSCOMPUTER;
        c.name = COMPUTER.NAME.View();
        c.last_date = COMPUTER.LASTSCAN_DATE;
        c.last_time = COMPUTER.LASTSCAN_TIME;
        c.scan_time = COMPUTER.SCANTIME.View();
        out.push_back(std::move(c));
    }
    return rc == 33;
}

bool WorkerDb::ReadOneNumber(const std::string& statement, std::int64_t& out) {
    if (SetProperty(pass_->file, PROP_SQL, statement) != 0) return false;
    const int rc = Next(pass_->file);
    if (rc != 0 && rc != 33) return false;
    out = 0;
    if (rc == 0) {
        const std::string text(pass_->VALUE.View());
        out = std::strtoll(text.c_str(), nullptr, 10);
        // Read to the end, so the statement is finished on the connection.
        while (Next(pass_->file) == 0) {
        }
    }
    return true;
}

DbStatus WorkerDb::Computers(std::vector<ComputerInfo>& out, std::string& error) {
    return Run([&] { return ReadComputers(out); }, error);
}

DbStatus WorkerDb::Health(std::int64_t& estimate, std::string& error) {
    return Run([&] { return ReadOneNumber(EstimateStatement(dialect_), estimate); }, error);
}

DbStatus WorkerDb::Search(const WebSearch& search, SearchAnswer& out, std::string& error) {
    std::string unknown;
    const DbStatus status = Run(
        [&] {
            out = SearchAnswer{};
            unknown.clear();
            std::vector<ComputerInfo> computers;
            if (!ReadComputers(computers)) return false;
            std::vector<ULONG> ids;
            for (const std::string& name : search.computers) {
                auto it = std::find_if(computers.begin(), computers.end(),
                                       [&](const ComputerInfo& c) { return EqualNoCase(c.name, name); });
                if (it == computers.end()) {
                    unknown = name;
                    return true;
                }
                if (std::find(ids.begin(), ids.end(), it->id) == ids.end()) ids.push_back(it->id);
            }
            const std::string condition = SearchCondition(search, ids, dialect_);
            last_statement = PageStatement(search, condition, dialect_);
            if (SetProperty(FILES.file, PROP_SQL, last_statement) != 0) return false;
            int rc;
            const FILES_RECORD& row = FILES;
            while ((rc = Next(FILES.file)) == 0) {
                Hit h;
                auto c = std::lower_bound(computers.begin(), computers.end(), row.SYSCOMPUTER,
                                          [](const ComputerInfo& ci, ULONG v) { return ci.id < v; });
                if (c != computers.end() && c->id == row.SYSCOMPUTER) h.computer = c->name;
                h.dir = row.DIR.View();
                h.name = row.NAME.View();
                h.extension = row.EXTENSION.View();
                h.size = row.SIZE;
                h.date = row.DATE_DATE;
                h.time = row.DATE_TIME;
                out.rows.push_back(std::move(h));
            }
            if (rc != 33) return false;
            const auto got = static_cast<std::int64_t>(out.rows.size());
            // A short page (not empty past the end) tells the total without counting.
            if (got < search.limit && (got > 0 || search.offset == 0)) {
                out.total = search.offset + got;
                return true;
            }
            std::int64_t count = 0;
            if (!ReadOneNumber(CountStatement(condition, dialect_), count)) return false;
            out.total_capped = count > kCountCap;
            out.total = out.total_capped ? std::max(kCountCap, search.offset + got) : count;
            return true;
        },
        error);
    if (status == DbStatus::Ok && !unknown.empty()) {
        error = "no computer named " + ValidUtf8(unknown) + " in the database";
        return DbStatus::BadRequest;
    }
    return status;
}

WorkerDb& ThreadWorker(const std::function<std::string()>& make_owner) {
    // Thread-local objects end in the reverse order of their making: the tables first.
    static_cast<void>(FILES.file.label.size());
    static_cast<void>(COMPUTER.file.label.size());
    static_cast<void>(ErrorCode());
    thread_local std::unique_ptr<WorkerDb> worker;
    if (!worker) worker = std::make_unique<WorkerDb>(make_owner());
    return *worker;
}

}  // namespace dt::web
