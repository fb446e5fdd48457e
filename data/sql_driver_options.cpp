// The SQL driver's options and pass-through: the driver string, SEND, the properties and
// the caller's own SQL.
#include "data/sql_driver_internal.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace dt::sqldrv {

bool IsTrue(std::string_view v) {
    return EqualNoCase(v, "TRUE");
}

const char* Bool(bool b) {
    return b ? "TRUE" : "FALSE";
}

// ---------------------------------------------------------------------------------------
// Pass-through

int RunPassThrough(SqlState& st, DriverArgs& a, std::string_view text);

// The caller's own SQL: every failure is 90 with the server's state and message (a
// missing table or a duplicate key included), as the application reports them.
int PassThrough(SqlState& st, DriverArgs& a, std::string_view text) {
    int rc = RunPassThrough(st, a, text);
    if (rc == 2 || rc == 40) rc = Fail90(st, a, st.diag);
    return rc;
}

int RunPassThrough(SqlState& st, DriverArgs& a, std::string_view text) {
    if (!st.opened) {
        int rc = Connect(st, a);
        if (rc != 0) return rc;
    }
    std::string_view rest;
    PassKind kind = ClassifyPassThrough(text, &rest);
    st.seq = Sequence{};
    switch (kind) {
        case PassKind::Select:
            return OpenCursor(st, a, Statement{std::string(rest), {}}, true, 0);
        case PassKind::Call:
        case PassKind::NoResultCall: {
            std::string_view body = rest;
            while (!body.empty() && (body.front() == ' ' || body.front() == '\t')) body.remove_prefix(1);
            std::string call = "{CALL " + std::string(body);
            if (body.find('(') == std::string_view::npos) call += "()";
            call += "}";
            if (kind == PassKind::Call) return OpenCursor(st, a, Statement{call, {}}, true, 0);
            return ExecNoResult(st, a, Statement{call, {}});
        }
        case PassKind::Other:
        default:
            return ExecNoResult(st, a, Statement{std::string(rest), {}});
    }
}

// ---------------------------------------------------------------------------------------
// Options (driver string, SEND, properties)

void StartFileLog(SqlState& st, std::string_view plan) {
    std::string name(plan), message;
    std::size_t br = name.find('[');
    if (br != std::string::npos) {
        std::size_t close = name.find(']', br);
        message = name.substr(br + 1, close == std::string::npos ? std::string::npos : close - br - 1);
        name.resize(br);
    }
    if (st.file_log) {
        st.file_log->Line("File Closed");
        st.file_log.reset();
    }
    TraceSettings ts = ReadTraceSettings();
    st.file_log = TraceLog::Open(name, ts.flush != 0);
    st.opt.logfile = name;
    if (st.file_log)
        st.file_log->Line(std::string("Microsoft SQL") + " " + kDriverVersion + " " +
                          "Log started: " + message);
}

void StopFileLog(SqlState& st, std::string_view rest) {
    if (!st.file_log) return;
    std::string message;
    std::size_t br = rest.find('[');
    if (br != std::string_view::npos) {
        std::size_t close = rest.find(']', br);
        message = std::string(
            rest.substr(br + 1, close == std::string_view::npos ? std::string_view::npos : close - br - 1));
    }
    st.file_log->Line("Log stopped: " + message);
    st.file_log.reset();
    st.opt.logfile.clear();
}

const char* JoinTypeName(long j) {
    switch (j) {
        case 2:
            return "MICROSOFT";
        case 3:
            return "FIRSTSQL";
        case 4:
            return "DB2";
        case 5:
            return "INNER";
        case 6:
            return "NONE";
        default:
            return "WATCOM";
    }
}

// Sets (has_value) or reads one option. Unknown names are ignored (empty result).
int SetOption(SqlState& st, std::string_view raw_name, std::string_view value, bool has_value,
              std::string* out) {
    std::string name = Upper(raw_name);
    auto flag = [&](bool& f) {
        if (has_value) f = IsTrue(value);
        if (out) *out = Bool(f);
    };
    auto text = [&](std::string& t) {
        if (has_value) t = value;
        if (out) *out = t;
    };
    static const char* kServerLevel[] = {"BINDCONSTANTS",   "BINDCOLORDER",   "CLIPSTRINGS", "FORCEUPPERCASE",
                                         "FASTCOLUMNFETCH", "ISOLATIONLEVEL", "JOINTYPE",    "LOGONSCREEN",
                                         "NESTING",         "USEINNERJOIN"};
    bool server_level =
        std::find(std::begin(kServerLevel), std::end(kServerLevel), name) != std::end(kServerLevel);
    if (server_level) {
        if (!st.conn) {
            // Remembered and applied when the file connects.
            if (has_value) st.pending_server_options.emplace_back(name, std::string(value));
            if (out) {
                std::string v;
                for (auto& [n, pv] : st.pending_server_options)
                    if (n == name) v = pv;
                *out = v;
            }
            return 0;
        }
        ServerOptions& so = st.Srv();
        if (name == "BINDCONSTANTS")
            flag(so.bindconstants);
        else if (name == "CLIPSTRINGS")
            flag(so.clipstrings);
        else if (name == "FORCEUPPERCASE")
            flag(so.forceuppercase);
        else if (name == "FASTCOLUMNFETCH")
            flag(so.fastcolumnfetch);
        else if (name == "LOGONSCREEN")
            flag(so.logonscreen);
        else if (name == "USEINNERJOIN")
            flag(so.useinnerjoin);
        else if (name == "BINDCOLORDER") {
            if (has_value) so.bindcolorder = std::strtol(std::string(value).c_str(), nullptr, 10);
            if (out) *out = std::to_string(so.bindcolorder);
        } else if (name == "ISOLATIONLEVEL") {
            if (has_value) so.isolation = std::strtol(std::string(value).c_str(), nullptr, 10);
            if (out) *out = std::to_string(so.isolation);
        } else if (name == "JOINTYPE") {
            if (has_value) {
                std::string v = Upper(value);
                so.jointype = v == "MICROSOFT"  ? 2
                              : v == "FIRSTSQL" ? 3
                              : v == "DB2"      ? 4
                              : v == "INNER"    ? 5
                              : v == "NONE"     ? 6
                                                : 1;
            }
            if (out) *out = JoinTypeName(so.jointype);
        } else if (name == "NESTING") {
            if (has_value) {
                std::string v = Upper(value);
                so.nesting = v == "FALSE" ? 1 : v == "PARTIAL" ? 2 : 3;
            }
            if (out) *out = so.nesting == 1 ? "FALSE" : so.nesting == 2 ? "PARTIAL" : "TRUE";
        }
        return 0;
    }
    FileOptions& o = st.opt;
    if (name == "GATHERATOPEN")
        flag(o.gatheratopen);
    else if (name == "NOVERIFY")
        flag(o.noverify);
    else if (name == "ORDERINSELECT")
        flag(o.orderinselect);
    else if (name == "ODBCCALL")
        flag(o.odbccall);
    else if (name == "SAVESTOREDPROCEDURES" || name == "SAVESTOREDPROC") {
        flag(o.savestoredprocedures);
        if (has_value && st.conn) st.Srv().savestoredprocedures = o.savestoredprocedures;
    } else if (name == "TRUSTEDCONNECTION")
        flag(o.trustedconnection);
    else if (name == "VERIFYVIASELECT")
        flag(o.verifyviaselect);
    else if (name == "ZEROISNULL")
        flag(o.zeroisnull);
    else if (name == "NOPRIMARY")
        flag(o.noprimary);
    else if (name == "USEPRIMARY")
        flag(o.useprimary);
    else if (name == "HINT")
        text(o.hint);
    else if (name == "WHERE")
        text(o.where);
    else if (name == "LOGFILE") {
        if (has_value)
            StartFileLog(st, value);
        else if (out == nullptr)
            StopFileLog(st, value);
        if (out) *out = o.logfile;
    } else if (out) {
        out->clear();
    }
    return 0;
}

// The option names a driver string may hold.
constexpr const char* kOptionNames[] = {"BINDCONSTANTS",
                                        "BINDCOLORDER",
                                        "CLIPSTRINGS",
                                        "FORCEUPPERCASE",
                                        "FASTCOLUMNFETCH",
                                        "GATHERATOPEN",
                                        "HINT",
                                        "ISOLATIONLEVEL",
                                        "JOINTYPE",
                                        "LOGONSCREEN",
                                        "NOVERIFY",
                                        "NESTING",
                                        "ORDERINSELECT",
                                        "ODBCCALL",
                                        "SAVESTOREDPROCEDURES",
                                        "SAVESTOREDPROC",
                                        "TRUSTEDCONNECTION",
                                        "USEINNERJOIN",
                                        "VERIFYVIASELECT",
                                        "ZEROISNULL",
                                        "NOPRIMARY",
                                        "USEPRIMARY",
                                        "LOGFILE",
                                        "WHERE"};

// True when `s` (just after a "/") starts an option: a known name followed by "=", a
// blank, "/" or the end. A "/" inside a value (a path of LOGFILE) starts none.
bool StartsOption(std::string_view s) {
    for (const char* name : kOptionNames) {
        std::size_t n = std::strlen(name);
        if (!StartsNoCase(s, std::string_view(name, n))) continue;
        if (s.size() == n || s[n] == '=' || s[n] == ' ' || s[n] == '/' || s[n] == '\t') return true;
    }
    return false;
}

// "/NAME=value/NAME2" → options; blanks around names and values are dropped.
void ApplyDriverString(SqlState& st, std::string_view s) {
    std::size_t slash = s.find('/');
    while (slash != std::string_view::npos) {
        std::size_t next = slash + 1;
        for (;;) {
            next = s.find('/', next);
            if (next == std::string_view::npos) break;
            std::string_view after = Trim(s.substr(next + 1));
            if (StartsOption(after)) break;
            ++next;
        }
        std::string_view item =
            s.substr(slash + 1, next == std::string_view::npos ? std::string_view::npos : next - slash - 1);
        slash = next;
        std::size_t eq = item.find('=');
        std::string_view n = Trim(item.substr(0, eq));
        if (n.empty()) continue;
        if (eq == std::string_view::npos)
            SetOption(st, n, "TRUE", true, nullptr);
        else
            SetOption(st, n, Trim(item.substr(eq + 1)), true, nullptr);
    }
}

int DoSend(SqlState& st, DriverArgs& a) {
    std::string_view t = a.text;
    std::string u = Upper(t);
    if (u == "IGNORESTATUS" || u == "HELD" || u == "QUICKSCAN") return 0;
    if (t.empty() || t.front() != '/') {
        if (!st.opened && !st.conn) return 37;
        auto hold = st.conn;
        std::unique_lock<std::recursive_mutex> lock(hold->mutex);
        return PassThrough(st, a, t);
    }
    t.remove_prefix(1);
    std::size_t eq = t.find('=');
    std::string_view name = t.substr(0, eq);
    std::string result;
    if (eq == std::string_view::npos) {
        std::string n = Upper(name);
        std::size_t br = n.find('[');
        if (n.rfind("LOGFILE", 0) == 0 && (n.size() == 7 || br == 7)) {
            StopFileLog(st, t.substr(7));
            return 0;
        }
        SetOption(st, name, {}, false, &result);
    } else {
        SetOption(st, name, t.substr(eq + 1), true, &result);
    }
    if (a.out) *a.out = result;
    return 0;
}

// Dispatch of this family (see Operate in sql_driver.cpp).
int OptionsOperation(int op, SqlState& st, DriverArgs& a) {
    switch (op) {
        case OP_SEND:
            return DoSend(st, a);
        case OP_SET_PROPERTY:
        case OP_DO_PROPERTY:
            switch (a.value) {
                case PROP_SQL:
                    if (!st.opened) return 37;
                    return PassThrough(st, a, a.text);
                case PROP_SQLFilter:
                    st.sql_filter = a.text;
                    return 0;
                case PROP_LogFile:
                    StartFileLog(st, a.text);
                    return 0;
                case PROP_Where:
                    st.opt.where = a.text;
                    return 0;
                default:
                    return 0;  // properties of other drivers are accepted and ignored
            }
        case OP_GET_PROPERTY:
            if (a.out) {
                switch (a.value) {
                    case PROP_SQL:
                        *a.out = st.last_sql;
                        break;
                    case PROP_SQLFilter:
                        *a.out = st.sql_filter;
                        break;
                    case PROP_LogFile:
                        *a.out = st.opt.logfile;
                        break;
                    case PROP_Where:
                        *a.out = st.opt.where;
                        break;
                    case PROP_ServerKind:
                        *a.out = st.conn ? std::to_string(st.Kind()) : "";
                        break;
                    case PROP_DbmsName:
                        *a.out = st.conn ? st.conn->dbms_name : "";
                        break;
                    case PROP_ResultColumns:
                        *a.out = std::to_string(
                            st.cursor.open && st.cursor.passthrough ? st.cursor.result_columns : 0);
                        break;
                    case PROP_DriverName:
                        *a.out = st.conn ? st.conn->driver_name : "";
                        break;
                    default:
                        a.out->clear();
                        break;
                }
            }
            return 0;
        case OP_SETPROPERTYkey:
            // A key's SQL property is its hint, used in the SELECTs that read in its order.
            if (a.value == 0 || a.value == PROP_SQL) st.opt.key_hints[a.key->number - 1] = a.text;
            return 0;
        case OP_GETPROPERTYkey:
            if (a.out) *a.out = st.opt.key_hints[a.key->number - 1];
            return 0;
        case OP_SQLCALLBACK:
            return 0;  // accepted; this driver makes no callbacks
        default:
            return 80;
    }
}

}  // namespace dt::sqldrv
