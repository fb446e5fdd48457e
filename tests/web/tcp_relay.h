// A TCP relay on 127.0.0.1 for the tests (its sockets are closed on exec, so a program the
// test starts cannot keep the relay open): clients connect to its port and are joined to
// a target port. Cutting it closes every joined connection and the listener, as a
// database server that goes away does; opening it again listens on the same port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace dt::webtest {

class TcpRelay {
  public:
    explicit TcpRelay(int target_port) : target_(target_port) {}
    ~TcpRelay() { Cut(); }
    TcpRelay(const TcpRelay&) = delete;
    TcpRelay& operator=(const TcpRelay&) = delete;

    // Listens (on the port of the last Open when there was one); false when it cannot.
    // The port lies below the range the system hands out to outgoing connections: a
    // connection to a free port of that range may pick the same port as its own and
    // connect to itself, and a relay that is cut must stay unreachable.
    bool Open() {
        if (port_ != 0) return Listen(port_);
        for (int i = 0; i < 2000; ++i)
            if (Listen(20000 + (::getpid() * 7 + i) % 10000)) return true;
        return false;
    }

    // Closes the listener and every joined connection, and waits for the threads.
    void Cut() {
        stop_ = true;
        if (accepter_.joinable()) accepter_.join();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
        std::vector<std::thread> pumps;
        {
            std::lock_guard lock(mutex_);
            pumps.swap(pumps_);
        }
        for (std::thread& t : pumps) t.join();
    }

    int port() const { return port_; }

  private:
    bool Listen(int port) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 16) != 0) {
            ::close(listener_);
            listener_ = -1;
            return false;
        }
        port_ = port;
        stop_ = false;
        accepter_ = std::thread([this] { Accept(); });
        return true;
    }

    void Accept() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(target_));
            if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            std::lock_guard lock(mutex_);
            pumps_.emplace_back([this, client, server] { Pump(client, server); });
        }
    }

    // Copies both ways until either side closes or the relay is cut.
    void Pump(int a, int b) {
        char buffer[16384];
        while (!stop_) {
            pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) continue;
            bool done = false;
            for (int i = 0; i < 2 && !done; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                done =
                    n <= 0 || ::send(i == 0 ? b : a, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n;
            }
            if (done) break;
        }
        ::close(a);
        ::close(b);
    }

    int target_;
    int port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread accepter_;
    std::mutex mutex_;
    std::vector<std::thread> pumps_;
};

}  // namespace dt::webtest
