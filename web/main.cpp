// drivetrek-web: the read-only web search over the shared database.
//
//   drivetrek-web [--listen ADDR:PORT]
//
// Reads the settings file and database settings as the other programs do, checks that
// the database answers, then serves the search page and its JSON API until it gets
// SIGINT or SIGTERM. One line per request on standard error.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/settings.h"
#include "app/startup.h"
#include "data/sql_connection.h"
#include "web/web_db.h"
#include "web/web_request.h"
#include "web/web_server.h"

namespace {

constexpr const char* kUsage =
    "usage: drivetrek-web [--listen ADDR:PORT]\n"
    "Serves the DriveTrek search page and its JSON API (read-only).\n"
    "  --listen ADDR:PORT  address to listen on (default 127.0.0.1:8080; IPv6 as [::1]:8080;\n"
    "                      port 0 takes any free port, named in the first line on standard error)\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "Settings ([web] section of the settings file): threads= worker threads (default 4),\n"
    "rate= requests a second per address off loopback (default 20), token= access token\n"
    "(required outside loopback; clients send Authorization: Bearer TOKEN).\n"
    "Endpoints: GET / (the page), /api/search, /api/computers, /api/health.\n"
    "Exit status: 0 after a stop by signal, 1 when the database or the address cannot be used,\n"
    "2 on bad usage or settings.\n";

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "drivetrek-web: %s\n", message.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    dt::web::WebConfig config;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("drivetrek-web %s (git %s)\n", DT_WEB_VERSION, DT_WEB_GIT);
            return 0;
        }
        if (a == "--listen" || a.rfind("--listen=", 0) == 0) {
            std::string value;
            if (a == "--listen") {
                if (i + 1 >= argc) return Fail(2, "--listen needs ADDR:PORT");
                value = argv[++i];
            } else {
                value = a.substr(9);
            }
            if (!dt::web::ParseListen(value, config.host, config.port))
                return Fail(2,
                            "--listen: not an address and port (ADDR:PORT, e.g. 127.0.0.1:8080): " + value);
            continue;
        }
        std::fputs(kUsage, stderr);
        return Fail(2, "unknown option " + a);
    }

    dt::SetVersionAndIniFile();
    const std::string inifile = dt::GLO::INIFILE.Str();
    dt::LoadSettings(inifile);
    dt::ReadComputerName();
    if (dt::GLO::SQLDATABASE.IsBlank()) dt::GLO::SQLDATABASE = "DRIVETREK";
    const std::vector<std::string> drivers = dt::DriverNameList();
    const dt::ServerKind expected =
        drivers.empty() ? dt::ServerKind::SqlServer : dt::KindOfDriverName(drivers.front());
    dt::BuildOwners(dt::DialectOf(expected).MasterDatabase());
    config.owner = dt::GLO::SQLOWNER.Clip();

    std::string error;
    if (!dt::web::ReadWebSettings(inifile, config, error)) return Fail(2, error);
    if (!dt::web::CheckConfig(config, error)) return Fail(2, error);

    // The database must answer before anything is served.
    {
        dt::web::WorkerDb check(dt::web::WorkerOwner(config.owner, 0));
        if (!check.Connect(error)) return Fail(1, "cannot reach the database: " + error);
        std::int64_t rows = 0;
        if (check.Health(rows, error) != dt::web::DbStatus::Ok)
            return Fail(1, "the database does not answer: " + error);
        check.Disconnect();
    }

    // SIGINT and SIGTERM stop the server from a thread of their own; every other thread
    // (the server's pool included) is started with them blocked.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    dt::web::WebServer server(config);
    if (!server.Bind(error)) return Fail(1, error);
    std::fprintf(stderr, "drivetrek-web: listening on %s:%d with %d workers\n", config.host.c_str(),
                 server.Port(), config.threads);
    std::thread stopper([&] {
        int sig = 0;
        sigwait(&stop_signals, &sig);
        server.Stop();
    });
    server.Run();
    // A stop that did not come from a signal (the listener failed) still ends the waiter.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
}
