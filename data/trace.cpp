#include "data/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/profile.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/packed_field.h"
#include "runtime/types.h"

namespace dt {

TraceSettings ReadTraceSettings() {
    const std::string profile = platform::SystemProfilePath();
    auto num = [&](const char* key) {
        std::string v = platform::ReadProfileString(profile, kTraceSection, key, "0");
        return std::strtol(v.c_str(), nullptr, 10);
    };
    TraceSettings s;
    s.trace = num("Trace");
    s.trace_file = platform::ReadProfileString(profile, kTraceSection, "TraceFile", kDefaultTraceFile, 260);
    if (s.trace_file.empty()) s.trace_file = kDefaultTraceFile;
    s.lists = num("Lists");
    s.flush = num("Flush");
    s.debug = num("Debug");
    s.details = num("Details");
    s.profile = num("Profile");
    return s;
}

std::shared_ptr<TraceLog> TraceLog::Open(const std::string& path, bool flush) {
    std::FILE* fp = std::fopen(path.c_str(), "ab");
    if (fp == nullptr) return nullptr;
    std::shared_ptr<TraceLog> log(new TraceLog());
    log->fp_ = fp;
    log->flush_ = flush;
    log->path_ = path;
    return log;
}

TraceLog::~TraceLog() {
    if (fp_ != nullptr) std::fclose(fp_);
}

void TraceLog::Write(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (fp_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), fp_);
    if (flush_) std::fflush(fp_);
}

void TraceLog::Flush() {
    std::lock_guard lock(mutex_);
    if (fp_ != nullptr) std::fflush(fp_);
}

long Centiseconds() {
    using namespace std::chrono;
    return static_cast<long>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() /
                             10);
}

std::string FormatElapsed(long cs) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%ld.%02ld secs", cs / 100, cs % 100);
    return buf;
}

std::string DiagnosticText(bool warning, std::string_view state, std::string_view message) {
    return "\r\n" + std::string(warning ? "Warning: " : "Error Occurred: ") + std::string(state) + " " +
           std::string(message) + "\r\n";
}

std::string MaskPassword(std::string_view s) {
    // Attribute by attribute: "key=value" up to ';', a value that starts with '{' running to
    // its '}' that is not doubled. The value of every PWD or PASSWORD key is replaced.
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t eq = s.find('=', i), semi = s.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            std::size_t end = semi == std::string_view::npos ? s.size() : semi + 1;
            out.append(s.substr(i, end - i));
            i = end;
            continue;
        }
        const std::string upper = Upper(ClipBoth(s.substr(i, eq - i)));
        std::size_t v = eq + 1, end = v;
        if (end < s.size() && s[end] == '{') {
            for (++end; end < s.size(); ++end) {
                if (s[end] != '}') continue;
                if (end + 1 < s.size() && s[end + 1] == '}') {
                    ++end;
                    continue;
                }
                ++end;
                break;
            }
        }
        while (end < s.size() && s[end] != ';') ++end;
        out.append(s.substr(i, v - i));
        if (upper == "PWD" || upper == "PASSWORD")
            out += "********";
        else
            out.append(s.substr(v, end - v));
        i = end;
        if (i < s.size()) out += s[i++];  // the ';'
    }
    return out;
}

int ThreadNumber() {
    static std::atomic<int> next{1};
    thread_local int number = next.fetch_add(1);
    return number;
}

namespace {

const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string FieldValue(const File& f, const Field& fd) {
    const char* p = f.Record() + fd.offset;
    char buf[128];
    switch (fd.type) {
        case FT_STRING:
        case FT_CSTRING:
        case FT_PSTRING:
            return "'" + std::string(TextField(TextLayoutOf(fd.type), p, fd.size)) + "'";
        case FT_BYTE:
            std::snprintf(buf, sizeof buf, "%02XH", static_cast<unsigned>(BYTE(p[0])));
            return buf;
        case FT_SHORT:
        case FT_USHORT:
        case FT_LONG:
        case FT_ULONG: {
            long long v = 0;
            LoadIntegerField(fd.type, p, v);
            return std::to_string(v);
        }
        case FT_SREAL:
        case FT_REAL: {
            double v = 0;
            LoadRealField(fd.type, p, v);
            std::snprintf(buf, sizeof buf, "%g", v);
            return buf;
        }
        case FT_DATE: {
            const DATE d = LoadField<DATE>(p);
            long stored = static_cast<long>(d.Value());
            if (d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31)
                std::snprintf(buf, sizeof buf, "%02d %s %d (%ld)", d.day, kMonths[d.month - 1], d.year,
                              stored);
            else
                std::snprintf(buf, sizeof buf, "Invalid date (%ld)", stored);
            return buf;
        }
        case FT_TIME: {
            const TIME t = LoadField<TIME>(p);
            long stored = static_cast<long>(t.Value());
            if (t.hours < 24 && t.minutes < 60 && t.seconds < 60 && t.hundredths < 100)
                std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%02d (%ld)", t.hours, t.minutes, t.seconds,
                              t.hundredths, stored);
            else
                std::snprintf(buf, sizeof buf, "Invalid time (%ld)", stored);
            return buf;
        }
        default: {
            std::string out;
            for (std::uint32_t i = 0; i < fd.size; ++i) {
                std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(BYTE(p[i])));
                out += buf;
            }
            return out;
        }
    }
}

std::string DumpLine(const Field& fd, const std::string& value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "  %-18s: ", fd.label.c_str());
    return buf + value + "\r\n";
}

std::string Quoted(const char* what, const std::string& v) {
    return std::string(",") + what + "('" + v + "')";
}

}  // namespace

std::string DumpDeclaration(const File& f) {
    std::string out = "  " + f.label + " ";
    if (f.driver_string.empty())
        out += "FILE,DRIVER('" + std::string(f.driver->name) + "')";
    else
        out += "FILE,DRIVER('" + std::string(f.driver->name) + "','" + f.driver_string + "')";
    if (f.HasOwner()) out += ",OWNER(******)";
    if (!f.name.empty()) out += Quoted("NAME", f.name);
    if (f.Has(FILE_CREATE)) out += ",CREATE";
    if (f.Has(FILE_ENCRYPT)) out += ",ENCRYPT";
    if (f.Has(FILE_RECLAIM)) out += ",RECLAIM";
    if (f.Has(FILE_THREAD)) out += ",THREAD";
    out += "\r\n";
    for (const Key* k : f.keys) {
        out += "  " + k->label + " " + (k->Has(KEY_INDEX) ? "INDEX" : "KEY") + "(";
        for (std::size_t i = 0; i < k->components.size(); ++i) {
            const KeyComponent& c = k->components[i];
            if (i) out += ",";
            out += c.descending ? '-' : '+';
            out += c.field >= 0 ? f.fields[static_cast<std::size_t>(c.field)].label : "?";
        }
        out += ")";
        if (k->Has(KEY_DUP)) out += ",DUP";
        if (k->Has(KEY_OPT)) out += ",OPT";
        if (k->Has(KEY_NOCASE)) out += ",NOCASE";
        if (k->Has(KEY_PRIMARY)) out += ",PRIMARY";
        if (!k->name.empty()) out += Quoted("NAME", k->name);
        out += "\r\n";
    }
    for (const Blob& b : f.blobs) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "MEMO(%u)", b.size);
        out += "  " + b.label + " " + ((b.flags & 4) ? std::string("BLOB") : std::string(buf));
        if (!b.name.empty()) out += Quoted("NAME", b.name);
        if (b.flags & 2) out += ",BINARY";
        out += "\r\n";
    }
    out += "  RECORD\r\n";
    std::vector<int> depth(f.fields.size(), 0);
    for (std::size_t i = 0; i < f.fields.size(); ++i) {
        const Field& fd = f.fields[i];
        int d = fd.group >= 0 ? depth[static_cast<std::size_t>(fd.group)] + 1 : 0;
        depth[i] = d;
        std::string indent(static_cast<std::size_t>(4 + 2 * d), ' ');
        std::string line = indent + fd.label + " " + FieldTypeName(fd.type);
        char buf[64];
        if (fd.type == FT_DECIMAL || fd.type == FT_PDECIMAL) {
            std::snprintf(buf, sizeof buf, "(%u,%u)", fd.digits, fd.places);
            line += buf;
        } else if (fd.type == FT_STRING || fd.type == FT_CSTRING || fd.type == FT_PSTRING) {
            if (!fd.picture.empty()) {
                line += "(@" + fd.picture + ")";
            } else {
                std::snprintf(buf, sizeof buf, "(%u)", fd.size);
                line += buf;
            }
        }
        if (fd.dims[0] != 0) {
            line += ", DIM(";
            for (std::size_t j = 0; j < 4 && fd.dims[j] != 0; ++j) {
                if (j) line += ",";
                line += std::to_string(fd.dims[j]);
            }
            line += ")";
        }
        if (fd.over >= 0) line += ", OVER(" + f.fields[static_cast<std::size_t>(fd.over)].label + ")";
        if (!fd.name.empty() && fd.name != fd.label) line += Quoted("NAME", fd.name);
        out += line + "\r\n";
        // A GROUP is closed by END after its last member.
        bool closes = false;
        for (int g = fd.type == FT_GROUP ? static_cast<int>(i) : fd.group; g >= 0;
             g = f.fields[static_cast<std::size_t>(g)].group) {
            bool more = false;
            for (std::size_t j = i + 1; j < f.fields.size() && !more; ++j) {
                for (int h = f.fields[j].group; h >= 0; h = f.fields[static_cast<std::size_t>(h)].group)
                    if (h == g) more = true;
            }
            if (more) break;
            out += std::string(static_cast<std::size_t>(4 + 2 * depth[static_cast<std::size_t>(g)]), ' ') +
                   "END\r\n";
            closes = true;
        }
        (void)closes;
    }
    out += "  END\r\n\r\n";
    return out;
}

std::string DumpRecord(const File& f, const std::vector<std::int32_t>& nulls) {
    std::string out;
    for (std::size_t i = 0; i < f.fields.size(); ++i) {
        const Field& fd = f.fields[i];
        if (fd.type == FT_GROUP) continue;
        bool null = i < nulls.size() && nulls[i] == -1;
        out += DumpLine(fd, null ? std::string("NULL") : FieldValue(f, fd));
    }
    return out;
}

std::string DumpKey(const File& f, const Key& k) {
    std::string out;
    for (const KeyComponent& c : k.components) {
        if (c.field < 0) continue;
        const Field& fd = f.fields[static_cast<std::size_t>(c.field)];
        out += DumpLine(fd, FieldValue(f, fd));
    }
    return out;
}

std::string ProfileLine(int op, const File& f, const Key* key, int rc, std::string_view file_error,
                        long elapsed) {
    std::string head = std::string(OperationName(op)) + "(" + f.ExternalName();
    if (key != nullptr)
        head += "," + (key->label.empty() ? key->name : key->label) + "[" + std::to_string(key->number) + "]";
    head += " " + std::to_string(ThreadNumber()) + ") ";
    char buf[600];
    std::snprintf(buf, sizeof buf, "%-18s", head.c_str());
    std::string out = buf;
    if (rc == ErrFileSystem) {
        out += "File Error: " + std::string(file_error) + " ";
    } else if (rc != 0) {
        out += "Error: " + ErrorText(rc) + " ";
    }
    out += "Time Taken: " + FormatElapsed(elapsed) + "\r\n";
    return out;
}

}  // namespace dt
