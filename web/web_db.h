// One worker's database access for the web search: its own connection (an owner text of
// its own, since the data layer shares one connection per owner text) and its own
// instances of FILES and COMPUTER (they are per thread) and of a pass-through table.
// Everything is read-only. A worker is made and used on one thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialect.h"
#include "runtime/types.h"
#include "web/web_request.h"

namespace dt::web {

enum class DbStatus {
    Ok,
    Unavailable,  // no connection could be made: the server is away
    Failed,       // the server answered the statement with an error
    BadRequest,   // the request names something the database does not hold
};

struct ComputerInfo {
    ULONG id = 0;
    std::string name;
    DATE last_date{};
    TIME last_time{};
    std::string scan_time;  // duration of the last scan, hh:mm:ss
};

struct SearchAnswer {
    std::vector<Hit> rows;
    std::int64_t total = 0;
    bool total_capped = false;
};

// The owner text of worker `n` (1-based): the program's owner text with the embedded
// database never created and an attribute that only tells the workers apart (drivers
// ignore attributes they do not know).
std::string WorkerOwner(const std::string& owner, int n);

class WorkerDb {
  public:
    explicit WorkerDb(std::string owner);
    ~WorkerDb();
    WorkerDb(const WorkerDb&) = delete;
    WorkerDb& operator=(const WorkerDb&) = delete;

    DbStatus Search(const WebSearch& search, SearchAnswer& out, std::string& error);
    DbStatus Computers(std::vector<ComputerInfo>& out, std::string& error);
    // The row-count estimate of FILES.
    DbStatus Health(std::int64_t& estimate, std::string& error);

    // Opens the tables now (the start-up check); false with the reason.
    bool Connect(std::string& error);
    // Closes the tables, which lets go of the connection. The destructor does not: call it
    // when the worker ends before its thread.
    void Disconnect();

    // The statements of the last search (tests compare them).
    std::string last_statement;

  private:
    template <class Body>
    DbStatus Run(Body&& body, std::string& error);
    bool ReadComputers(std::vector<ComputerInfo>& out);
    bool ReadOneNumber(const std::string& statement, std::int64_t& out);
    std::string Failure() const;

    struct Pass;
    std::string owner_;
    std::unique_ptr<Pass> pass_;
    bool open_ = false;
    Dialect dialect_;
};

// The calling thread's worker, made at its first call with the owner text `make_owner`
// gives. It lives until the thread ends; the thread's FILES and COMPUTER are made before
// it, so they are still there when it closes them.
WorkerDb& ThreadWorker(const std::function<std::string()>& make_owner);

}  // namespace dt::web
