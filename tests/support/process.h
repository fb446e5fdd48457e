// Running another program from a test or a benchmark: no shell, standard input from a
// string or a file, standard output and error captured (or sent to a file), an exit status,
// and a time limit after which the program is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace dt::test {

struct ProcessOptions {
    std::string input;         // written to standard input (used when input_file is empty)
    std::string input_file;    // standard input from this file
    std::string out_file;      // standard output to this file ("/dev/null" drops it) instead of `out`
    std::string err_file;      // standard error likewise
    bool pass_output = false;  // standard output and error go where this program's go
    std::string directory;     // the working directory ("" : this one)
    std::vector<std::pair<std::string, std::string>> env;  // variables set for the program
    std::chrono::milliseconds limit{std::chrono::minutes(5)};
};

struct ProcessResult {
    // The exit status; 128 + signal number when a signal ended it; -1 when it could not
    // be started or was killed at the time limit.
    int status = -1;
    bool timed_out = false;
    long peak_rss_kb = -1;  // the most memory the program held at once (resident), when it ended
    std::string out;
    std::string err;
    bool Ok() const { return status == 0; }
};

// A started program. The destructor kills and reaps it when it was not waited for.
class Process {
  public:
    // argv[0] is looked up on PATH when it has no slash. Standard output and error go to
    // files of a temporary directory of the process's own (unless options name files).
    Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to the options' limit (or `limit`); the program is killed when it does not
    // end by then.
    ProcessResult Wait() { return Wait(options_.limit); }
    ProcessResult Wait(std::chrono::milliseconds limit);

  private:
    pid_t pid_ = -1;
    ProcessOptions options_;
    std::string dir_;  // the capture files
    std::string out_path_, err_path_;
};

inline ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {}) {
    return Process(argv, options).Wait();
}

}  // namespace dt::test
