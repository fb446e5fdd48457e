#include "framework/error_log.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/picture.h"

namespace dt {

namespace {
constexpr std::size_t kRecordSize = 1024;  // TXT STRING(1024)
}

ErrorLog::ErrorLog(std::string path) : path_(std::move(path)) {}

ErrorLog::~ErrorLog() {
    Close(1);
}

LONG ErrorLog::USAGE() const {
    std::lock_guard lock(mutex_);
    return usage_;
}

int ErrorLog::CloseFile() {
    if (fd_ < 0) return 0;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : 5;
}

int ErrorLog::Open(BYTE force) {
    std::lock_guard lock(mutex_);
    if (usage_ == 0 || force) {
        // Created when missing, read and write, shared with other processes; appends go to
        // the end even when another process wrote meanwhile.
        int fd;
        do {
            fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return 5;
        CloseFile();
        fd_ = fd;
    }
    ++usage_;
    return 0;
}

int ErrorLog::WriteLine(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (usage_ == 0 || fd_ < 0) return 5;
    std::string line(Clip(text.substr(0, Utf8CutLength(text, kRecordSize))));
    line += '\n';
    // One write per line, so lines of several processes never interleave.
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 5;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

int ErrorLog::Close(BYTE force) {
    std::lock_guard lock(mutex_);
    int rc = 0;
    if (usage_ == 1 || force) {
        rc = CloseFile();
        usage_ = 0;
    } else if (usage_ > 0) {
        --usage_;
    }
    return rc;
}

std::string FormatLogLine(LONG date, LONG time, std::string_view text) {
    std::string line = Format(static_cast<double>(date), "D17");
    line += '@';
    line += Format(static_cast<double>(time), "T8");
    line += " --> ";
    line += text;
    return line;
}

}  // namespace dt
