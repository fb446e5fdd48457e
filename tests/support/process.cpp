#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

namespace dt::test {
namespace {

// In the child: `fd` becomes `path` opened with `flags`; false when it cannot.
bool Redirect(int fd, const char* path, int flags) {
    const int f = ::open(path, flags, 0600);
    if (f < 0) return false;
    if (f != fd) {
        if (::dup2(f, fd) < 0) return false;
        ::close(f);
    }
    return true;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) : options_(options) {
    if (argv.empty()) return;
    std::string tmpl = (std::filesystem::temp_directory_path() / "dt-process-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) return;
    dir_ = tmpl;
    out_path_ = options.out_file.empty() ? dir_ + "/out" : options.out_file;
    err_path_ = options.err_file.empty() ? dir_ + "/err" : options.err_file;
    std::string in_path = options.input_file;
    if (in_path.empty()) {
        in_path = dir_ + "/in";
        WriteFile(in_path, options.input);
    }
    // Everything the child needs is prepared before the fork: after it only calls that are
    // safe in a child of a threaded program are made.
    std::vector<std::string> env_lines;
    for (const auto& [name, value] : options.env) env_lines.push_back(name + "=" + value);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view line(*e);
        bool replaced = false;
        for (const auto& [name, value] : options.env)
            replaced = replaced || (line.size() > name.size() && line.substr(0, name.size()) == name &&
                                    line[name.size()] == '=');
        if (!replaced) envp.push_back(*e);
    }
    for (std::string& e : env_lines) envp.push_back(e.data());
    envp.push_back(nullptr);
    const char* directory = options.directory.empty() ? nullptr : options.directory.c_str();
    const char* out_path = out_path_.c_str();
    const char* err_path = err_path_.c_str();
    const bool pass_output = options.pass_output;

    pid_ = ::fork();
    if (pid_ == 0) {
        if (!Redirect(0, in_path.c_str(), O_RDONLY)) ::_exit(126);
        if (!pass_output && (!Redirect(1, out_path, O_WRONLY | O_CREAT | O_TRUNC) ||
                             !Redirect(2, err_path, O_WRONLY | O_CREAT | O_TRUNC)))
            ::_exit(126);
        if (directory != nullptr && ::chdir(directory) != 0) ::_exit(126);
        ::execvpe(args[0], args.data(), envp.data());
        ::_exit(127);
    }
}

Process::~Process() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

ProcessResult Process::Wait(std::chrono::milliseconds limit) {
    ProcessResult r;
    if (pid_ <= 0) return r;
    const auto end = std::chrono::steady_clock::now() + limit;
    int st = 0;
    pid_t done = 0;
    // The end is noticed at once through a process file descriptor (a benchmark times
    // these runs); without one, a short sleep between looks. Both are bounded by the limit.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    rusage usage{};
    while ((done = ::wait4(pid_, &st, WNOHANG, &usage)) == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            ::poll(&p, 1, static_cast<int>(std::min<long long>(left + 1, 60'000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    if (done == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        r.timed_out = true;
    } else if (done == pid_) {
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        r.peak_rss_kb = usage.ru_maxrss;
    }
    pid_ = -1;
    if (!options_.pass_output && options_.out_file.empty()) r.out = ReadFile(out_path_);
    if (!options_.pass_output && options_.err_file.empty()) r.err = ReadFile(err_path_);
    return r;
}

}  // namespace dt::test
