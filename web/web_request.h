// The web search's requests and answers without any network or database: the parameters
// of /api/search read and checked, the statements that read one page of hits and count
// them (built around the desktop's search condition), the JSON of a hit, and the small
// rules of the server (loopback addresses, the listen address, the per-address rate).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/dialect.h"
#include "app/query.h"
#include "runtime/types.h"

namespace dt::web {

// The query parameters of a request, as the HTTP library hands them over.
using Params = std::multimap<std::string, std::string>;

enum class SortColumn { Name, Ext, Dir, Date, Size, Computer };

// One checked search: the desktop's request (words, extension, directory box, size
// bounds in bytes) plus the computers by name, the page and the order.
struct WebSearch {
    SearchRequest request;
    std::vector<std::string> computers;  // names as given; empty for all computers
    int limit = 100;
    std::int64_t offset = 0;
    SortColumn sort = SortColumn::Name;
    bool descending = false;
};

constexpr std::size_t kMaxWords = 40;      // bytes of q, as the desktop's filter field
constexpr std::size_t kMaxExtension = 10;  // bytes of ext
constexpr int kMaxLimit = 1000;
constexpr std::int64_t kMaxOffset = 1'000'000'000;
constexpr std::int64_t kCountCap = 10'000;  // the total is exact up to this many rows

// Reads and checks the parameters of /api/search. On a bad parameter returns false with
// the message for the 400 answer in `error`. Unknown parameters are refused (a token in
// the address above all: it would end up in logs and histories).
bool ParseSearch(const Params& params, WebSearch& out, std::string& error);

// Refuses every parameter (the endpoints that take none); same contract as ParseSearch.
bool ParseNoParams(const Params& params, std::string& error);

// The condition of the search: the desktop's condition for the words, extension, sizes
// and, for one computer, its row number; for several, a list of row numbers.
std::string SearchCondition(const WebSearch& search, const std::vector<ULONG>& computer_ids,
                            const Dialect& dialect);

// "select * from FILES where <condition> order by <column> [desc], SysFILES [desc]" with
// the page's limit and offset in the server's own words.
std::string PageStatement(const WebSearch& search, const std::string& condition, const Dialect& dialect);

// The count of the matching rows, at most kCountCap + 1 (so the server stops early).
std::string CountStatement(const std::string& condition, const Dialect& dialect);

// The row-count estimate of FILES without reading the table.
std::string EstimateStatement(const Dialect& dialect);

// A text as valid UTF-8: every byte that does not belong to a well-formed sequence
// becomes U+FFFD. `changed` (when given) is set when anything was replaced.
std::string ValidUtf8(std::string_view text, bool* changed = nullptr);
std::string Base64(std::string_view bytes);

// One hit as JSON, in dtfind's row format (app/row_format.h): computer, dir, name,
// extension, size (bytes), date (YYYY-MM-DD), time (HH:MM:SS), null when the row has none,
// path (dir + name); where a text is not valid UTF-8 it carries U+FFFD, and path_b64 holds
// the exact bytes of the path.
struct Hit {
    std::string computer, dir, name, extension;
    std::uint64_t size = 0;
    DATE date{};
    TIME time{};
};
nlohmann::json HitJson(const Hit& hit);
std::string DateText(const DATE& d);  // "" for no date
std::string TimeText(const TIME& t);  // "" for no time

// {"error": message} as text.
std::string ErrorBody(std::string_view message);

// True for 127.0.0.0/8, ::1 and ::ffff:127.x.y.z.
bool IsLoopback(std::string_view address);

// "ADDR:PORT" (an IPv6 address in brackets) into its parts; false when malformed.
bool ParseListen(std::string_view text, std::string& host, int& port);

// Requests a second per remote address: a fixed one-second window per address.
class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;
    explicit RateLimiter(int per_second) : per_second_(per_second) {}
    // True when this request is within the address's rate.
    bool Allow(const std::string& address, Clock::time_point now = Clock::now());

  private:
    struct Window {
        Clock::time_point start;
        int count = 0;
    };
    int per_second_;
    std::mutex mutex_;
    std::unordered_map<std::string, Window> windows_;
};

}  // namespace dt::web
