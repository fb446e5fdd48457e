// The driver trace log: the ODBC call trace and the file-operation profile, their
// settings in the system profile section "QXMSSQL", and the texts they write (the
// declaration and record dumps included).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "data/file.h"

namespace dt {

inline constexpr const char* kTraceSection = "QXMSSQL";
inline constexpr const char* kDefaultTraceFile = "MSSQL.LOG";
inline constexpr const char* kDriverVersion = "5.506.04.043";

// Settings of section "QXMSSQL" of the system profile.
struct TraceSettings {
    long trace = 0;
    std::string trace_file = kDefaultTraceFile;  // an empty value means MSSQL.LOG
    long lists = 0;
    long flush = 0;
    long debug = 0;
    long details = 0;
    long profile = 0;
};
// Reads the settings now (missing keys give the defaults).
TraceSettings ReadTraceSettings();

// One open log file, shared by everything that writes to it; writes from several
// threads never interleave within one call. Failed writes are ignored.
class TraceLog {
  public:
    // Opens `path` for appending (created when missing); nullptr when it cannot be opened.
    static std::shared_ptr<TraceLog> Open(const std::string& path, bool flush);
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    void Write(std::string_view text);
    void Line(std::string_view text) { Write(std::string(text) + "\r\n"); }
    const std::string& path() const { return path_; }
    void set_flush(bool f) { flush_ = f; }
    // Writes buffered text to the file now.
    void Flush();

  private:
    TraceLog() = default;
    std::mutex mutex_;
    std::FILE* fp_ = nullptr;
    bool flush_ = false;
    std::string path_;
};

// The runtime's clock in hundredths of a second (monotonic).
long Centiseconds();
// "%ld.%02ld secs" for a duration in hundredths.
std::string FormatElapsed(long centiseconds);
// The lines written after an ODBC call that did not succeed: CR LF, then "Warning: " for
// success with information or "Error Occurred: " otherwise, the state, the message, CR LF.
std::string DiagnosticText(bool warning, std::string_view state, std::string_view message);
// A connection string with the value of every PWD= attribute shown as "********".
std::string MaskPassword(std::string_view connection_string);
// The calling thread's runtime thread number (1 for the first thread that asks).
int ThreadNumber();

// The FILE declaration as a declaration text (owner never shown).
std::string DumpDeclaration(const File& f);
// The record, one field a line "  %-18s: value"; nulls may be empty.
std::string DumpRecord(const File& f, const std::vector<std::int32_t>& nulls);
// The values of a key's components in the same form.
std::string DumpKey(const File& f, const Key& k);
// The profile line of one operation (without the record dump), CR LF ended.
std::string ProfileLine(int op, const File& f, const Key* key, int rc, std::string_view file_error,
                        long elapsed);

}  // namespace dt
