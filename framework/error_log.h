// The error manager's log: ERRORLOGINTERFACE, the three calls through which the manager
// writes a line, and ErrorLog, the standard log that appends lines to the text file
// "APFError.Log". Also the one function that formats a log line.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/types.h"

namespace dt {

class File;

// Where the error manager's log lines go. Every call returns 0 on success and 5
// (SevNotify) on failure. Implementations must accept calls from several threads.
class ERRORLOGINTERFACE {
  public:
    virtual ~ERRORLOGINTERFACE() = default;
    // Ends one use of the log; the last use (or `force`) closes it.
    virtual int Close(BYTE force) = 0;
    // Begins one use of the log; the first use (or `force`) opens it.
    virtual int Open(BYTE force) = 0;
    // Appends one line; fails when the log is not open.
    virtual int WriteLine(std::string_view text) = 0;
};

// The standard log: an ASCII text file (the text driver) with one field TXT STRING(1024);
// each record is one line, stored without its trailing blanks. The file is created when
// missing and opened for reading and writing, shared with other processes (mode 0x42).
class ErrorLog final : public ERRORLOGINTERFACE {
  public:
    static constexpr const char* kDefaultName = "APFError.Log";

    // A log on `path` (default: "APFError.Log" in the current directory). Opens nothing yet.
    explicit ErrorLog(std::string path = kDefaultName);
    // Closes the file with force.
    ~ErrorLog() override;
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    // Counter 1 or force: closes the file (5 when closing fails) and sets the counter to 0;
    // otherwise counts one use down. A close with the counter already at 0 changes nothing.
    int Close(BYTE force) override;
    // Counter 0 or force: creates the file if missing and opens it (5 on failure, counter
    // unchanged; a forced open of an open log closes it first). Every success counts one
    // use up; 0.
    int Open(BYTE force) override;
    // 5 when the log is not open or the write failed; else 0. Text past 1024 bytes is cut.
    int WriteLine(std::string_view text) override;

    // USAGE: the number of uses begun and not yet ended (0 after construction).
    LONG USAGE() const;
    const std::string& Path() const { return path_; }

  private:
    int CloseFile();

    mutable std::mutex mutex_;
    std::string path_;
    STRING<1024> TXT;             // the record
    std::unique_ptr<File> file_;  // the text file, through the text driver
    bool open_ = false;
    LONG usage_ = 0;
};

// The log line of a message: the date in the picture "D17", "@", the time in the picture
// "T8", " --> ", the text. `date` is a standard date, `time` a standard time.
std::string FormatLogLine(LONG date, LONG time, std::string_view text);

}  // namespace dt
