#include "framework/error_log.h"

#include "data/file.h"
#include "data/statements.h"
#include "data/text_driver.h"
#include "framework/error_interface.h"
#include "runtime/picture.h"

namespace dt {

ErrorLog::ErrorLog(std::string path) : path_(std::move(path)) {
    file_ = std::make_unique<File>("APFError", TextDriver(), "", path_, FILE_CREATE, &TXT, sizeof TXT,
                                   std::vector<Field>{Field::String("APFError:TXT", 0, sizeof TXT)});
}

ErrorLog::~ErrorLog() {
    Close(1);
}

LONG ErrorLog::USAGE() const {
    std::lock_guard lock(mutex_);
    return usage_;
}

int ErrorLog::CloseFile() {
    if (!open_) return 0;
    open_ = false;
    return dt::Close(*file_) == 0 ? 0 : 5;
}

int ErrorLog::Open(BYTE force) {
    std::lock_guard lock(mutex_);
    if (usage_ == 0 || force) {
        CloseFile();
        ErrCode rc = Share(*file_, ReadWrite | DenyNone);
        if (rc == ErrFileNotFound) {
            if (Create(*file_) != ErrNone) return SevNotify;
            rc = Share(*file_, ReadWrite | DenyNone);
        }
        if (rc != ErrNone) return SevNotify;
        open_ = true;
    }
    ++usage_;
    return 0;
}

int ErrorLog::WriteLine(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (usage_ == 0 || !open_) return 5;
    TXT = text;
    return Add(*file_) == 0 ? 0 : 5;
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
