#include "web/web_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "platform/profile.h"
#include "runtime/stddate.h"
#include "web/web_db.h"
#include "web/web_page.h"
#include "web/web_request.h"

namespace dt::web {
namespace {

using Clock = std::chrono::steady_clock;

// The page runs only its own script and style from this server, and talks to nothing
// else; it cannot be framed.
constexpr const char* kCsp =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
constexpr const char* kJson = "application/json; charset=utf-8";

bool ParseSetting(const std::string& inifile, const char* key, int low, int high, int& value,
                  std::string& error) {
    const auto text = platform::LookupProfileString(inifile, "web", key);
    if (!text || text->empty()) return true;
    int v = 0;
    bool ok = text->size() <= 9;
    for (char c : *text) ok = ok && c >= '0' && c <= '9';
    if (ok) v = std::stoi(*text);
    if (!ok || v < low || v > high) {
        error = std::string("[web] ") + key + "= must be a number from " + std::to_string(low) + " to " +
                std::to_string(high);
        return false;
    }
    value = v;
    return true;
}

// The request's start, for its log line (the request is served on one thread).
thread_local Clock::time_point t_request_start;

std::string Printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    return ValidUtf8(out);
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const std::size_t n = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
    return diff == 0;
}

void SendJson(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, kJson);
}

double MillisecondsSince(Clock::time_point start) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    return static_cast<double>(us / 100) / 10.0;
}

std::string Dump(const nlohmann::json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

bool ReadWebSettings(const std::string& inifile, WebConfig& config, std::string& error) {
    if (!ParseSetting(inifile, "threads", 1, 64, config.threads, error)) return false;
    if (!ParseSetting(inifile, "rate", 1, 100000, config.rate, error)) return false;
    config.token = platform::ReadProfileString(inifile, "web", "token", "");
    return true;
}

bool CheckConfig(const WebConfig& config, std::string& error) {
    if (!IsLoopback(config.host) && config.token.empty()) {
        error = "listening on " + config.host +
                " (outside loopback) needs an access token: set [web] token= in the settings file";
        return false;
    }
    return true;
}

struct WebServer::Impl {
    explicit Impl(WebConfig c) : config(std::move(c)), limiter(config.rate) {}

    WebConfig config;
    httplib::Server server;
    RateLimiter limiter;
    std::atomic<int> workers{0};
    std::mutex log_mutex;

    // The calling pool thread's database worker, made at its first request.
    WorkerDb& Worker() {
        return ThreadWorker([this] { return WorkerOwner(config.owner, ++workers); });
    }

    void Log(const httplib::Request& req, const httplib::Response& res) {
        // Method, path (never the query: words are the user's business, and a token
        // wrongly put there must not land in a log), status, milliseconds, address.
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.1f", MillisecondsSince(t_request_start));
        const std::string line = Printable(req.method) + " " + Printable(req.path) + " " +
                                 std::to_string(res.status) + " " + ms + " ms " + Printable(req.remote_addr) +
                                 "\n";
        std::lock_guard lock(log_mutex);
        std::fwrite(line.data(), 1, line.size(), stderr);
    }

    httplib::Server::HandlerResponse PreRouting(const httplib::Request& req, httplib::Response& res) {
        t_request_start = Clock::now();
        if (!IsLoopback(req.remote_addr) && !limiter.Allow(req.remote_addr)) {
            res.set_header("Retry-After", "1");
            SendJson(res, 429, ErrorBody("too many requests"));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_param("token") || req.has_param("access_token")) {
            SendJson(res, 400,
                     ErrorBody("a token is never accepted in the address; send it as Authorization: Bearer"));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!config.token.empty() && req.path.rfind("/api/", 0) == 0) {
            const std::string auth = req.get_header_value("Authorization");
            const std::string_view prefix = "Bearer ";
            if (auth.size() <= prefix.size() || auth.compare(0, prefix.size(), prefix) != 0 ||
                !ConstantTimeEqual(std::string_view(auth).substr(prefix.size()), config.token)) {
                res.set_header("WWW-Authenticate", "Bearer");
                SendJson(res, 401, ErrorBody("an access token is needed"));
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void Headers(const httplib::Request& req, httplib::Response& res) {
        res.set_header("Content-Security-Policy", kCsp);
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("X-Frame-Options", "DENY");
        if (req.path.rfind("/api/", 0) == 0 || res.status >= 400) res.set_header("Cache-Control", "no-store");
    }

    void DbFailure(httplib::Response& res, DbStatus status, const std::string& error) {
        if (status == DbStatus::BadRequest)
            SendJson(res, 400, ErrorBody(error));
        else if (status == DbStatus::Unavailable)
            SendJson(res, 503, ErrorBody("the database is not reachable: " + error));
        else
            SendJson(res, 500, ErrorBody("the database could not answer: " + error));
    }

    void ApiSearch(const httplib::Request& req, httplib::Response& res) {
        const Clock::time_point start = Clock::now();
        WebSearch search;
        std::string error;
        if (!ParseSearch(req.params, search, error)) return SendJson(res, 400, ErrorBody(error));
        SearchAnswer answer;
        const DbStatus status = Worker().Search(search, answer, error);
        if (status != DbStatus::Ok) return DbFailure(res, status, error);
        nlohmann::json j;
        j["rows"] = nlohmann::json::array();
        for (const Hit& h : answer.rows) j["rows"].push_back(HitJson(h));
        j["total"] = answer.total;
        j["total_capped"] = answer.total_capped;
        j["ms"] = MillisecondsSince(start);
        SendJson(res, 200, Dump(j));
    }

    void ApiComputers(const httplib::Request& req, httplib::Response& res) {
        std::string error;
        if (!ParseNoParams(req.params, error)) return SendJson(res, 400, ErrorBody(error));
        std::vector<ComputerInfo> computers;
        const DbStatus status = Worker().Computers(computers, error);
        if (status != DbStatus::Ok) return DbFailure(res, status, error);
        const LONG today = Today();
        nlohmann::json list = nlohmann::json::array();
        for (const ComputerInfo& c : computers) {
            nlohmann::json j;
            j["name"] = ValidUtf8(c.name);
            const LONG day = c.last_date.ToStandard();
            if (day > 0) {
                j["last_scan"] = DateText(c.last_date) + " " +
                                 (c.last_time.IsZero() ? std::string("00:00:00") : TimeText(c.last_time));
                j["days_since"] = today - day;
            } else {
                j["last_scan"] = nullptr;
                j["days_since"] = nullptr;
            }
            j["scan_time"] = ValidUtf8(c.scan_time);
            list.push_back(std::move(j));
        }
        nlohmann::json body;
        body["computers"] = std::move(list);
        SendJson(res, 200, Dump(body));
    }

    void ApiHealth(const httplib::Request& req, httplib::Response& res) {
        std::string error;
        if (!ParseNoParams(req.params, error)) return SendJson(res, 400, ErrorBody(error));
        std::int64_t estimate = 0;
        const DbStatus status = Worker().Health(estimate, error);
        nlohmann::json j;
        j["database"] = status == DbStatus::Ok ? "reachable" : "unreachable";
        if (status != DbStatus::Ok) {
            j["error"] = ValidUtf8(error);
            return SendJson(res, 503, Dump(j));
        }
        j["rows_estimate"] = estimate;
        SendJson(res, 200, Dump(j));
    }

    void Setup() {
        const int threads = config.threads;
        server.new_task_queue = [threads] {
            return new httplib::ThreadPool(static_cast<std::size_t>(threads));
        };
        // A kept-alive connection holds its worker: a short idle time and a bounded number
        // of requests per connection let every waiting client in.
        server.set_keep_alive_max_count(50);
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(10, 0);
        server.set_write_timeout(10, 0);
        server.set_payload_max_length(64 * 1024);
        server.set_pre_routing_handler([this](const auto& req, auto& res) { return PreRouting(req, res); });
        server.set_post_routing_handler([this](const auto& req, auto& res) { Headers(req, res); });
        server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return;
            res.set_content(
                ErrorBody(res.status == 404 ? "not found"
                                            : "the request was refused (" + std::to_string(res.status) + ")"),
                kJson);
        });
        server.set_logger([this](const auto& req, const auto& res) { Log(req, res); });

        auto page = [](const char* body, const char* type) {
            return [body, type](const httplib::Request&, httplib::Response& res) {
                res.set_content(body, type);
            };
        };
        server.Get("/", page(kIndexHtml, "text/html; charset=utf-8"));
        server.Get("/app.js", page(kAppJs, "text/javascript; charset=utf-8"));
        server.Get("/app.css", page(kAppCss, "text/css; charset=utf-8"));
        server.Get("/api/search", [this](const auto& req, auto& res) { ApiSearch(req, res); });
        server.Get("/api/computers", [this](const auto& req, auto& res) { ApiComputers(req, res); });
        server.Get("/api/health", [this](const auto& req, auto& res) { ApiHealth(req, res); });
        // Nothing is ever written: every other method is refused.
        auto refuse = [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", "GET, HEAD");
            SendJson(res, 405, ErrorBody("only GET is served"));
        };
        server.Post(".*", refuse);
        server.Put(".*", refuse);
        server.Patch(".*", refuse);
        server.Delete(".*", refuse);
    }
};

WebServer::WebServer(WebConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
    impl_->Setup();
}

WebServer::~WebServer() = default;

bool WebServer::Bind(std::string& error) {
    if (impl_->config.port == 0) {
        const int port = impl_->server.bind_to_any_port(impl_->config.host.c_str());
        if (port > 0) {
            impl_->config.port = port;
            return true;
        }
    } else if (impl_->server.bind_to_port(impl_->config.host.c_str(), impl_->config.port)) {
        return true;
    }
    error = "cannot listen on " + impl_->config.host + ":" + std::to_string(impl_->config.port);
    return false;
}

int WebServer::Port() const {
    return impl_->config.port;
}

void WebServer::Run() {
    impl_->server.listen_after_bind();
}

void WebServer::Stop() {
    impl_->server.stop();
}

}  // namespace dt::web
