// The web search's HTTP side: the settings of the server, its routes, the checks every
// request passes (token, rate, parameters) and the headers every answer carries.
#pragma once

#include <memory>
#include <string>

namespace dt::web {

struct WebConfig {
    std::string host = "127.0.0.1";
    int port = 8080;
    int threads = 4;  // worker threads, each with its own database connection
    int rate = 20;    // requests a second from one address off loopback
    std::string token;
    std::string owner;  // the program's connection text; each worker derives its own
};

// Reads [web] threads=, rate= and token= of `inifile` into `config`. False with the
// reason when a value is out of range.
bool ReadWebSettings(const std::string& inifile, WebConfig& config, std::string& error);

// True when the configuration may start: off loopback a token is required.
bool CheckConfig(const WebConfig& config, std::string& error);

class WebServer {
  public:
    explicit WebServer(WebConfig config);
    ~WebServer();
    // Binds the address (port 0: any free port); false with the reason.
    bool Bind(std::string& error);
    int Port() const;  // the bound port
    // Serves until Stop (from another thread or a signal thread).
    void Run();
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dt::web
