#include "app/dialect.h"

#include <algorithm>
#include <cctype>

#include "runtime/types.h"

namespace dt {
namespace {

bool ContainsNoCase(std::string_view text, std::string_view word) {
    auto it = std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

// "name" as a quoted identifier: double quotes (PostgreSQL) or brackets (SQL Server),
// the closing character doubled inside.
std::string QuoteIdentifier(std::string_view name, char open, char close) {
    std::string out(1, open);
    for (char c : name) {
        out += c;
        if (c == close) out += c;
    }
    out += close;
    return out;
}

constexpr Dialect kDialects[] = {
    {ServerKind::SqlServer, "like"},
    {ServerKind::PostgreSQL, "ilike"},
    {ServerKind::Embedded, "like"},
};

}  // namespace

ServerKind KindOfDbms(std::string_view dbms_name) {
    if (ContainsNoCase(dbms_name, "PostgreSQL")) return ServerKind::PostgreSQL;
    if (ContainsNoCase(dbms_name, "SQLite")) return ServerKind::Embedded;
    return ServerKind::SqlServer;
}

ServerKind KindOfDriverName(std::string_view driver_name) {
    if (ContainsNoCase(driver_name, "PostgreSQL") || ContainsNoCase(driver_name, "psqlodbc"))
        return ServerKind::PostgreSQL;
    if (ContainsNoCase(driver_name, "SQLite")) return ServerKind::Embedded;
    return ServerKind::SqlServer;
}

std::string SqlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

std::string SqlLiteral(std::string_view text) {
    return "'" + SqlEscape(text) + "'";
}

std::string Dialect::LikePattern(std::string_view typed) const {
    std::string out;
    out.reserve(typed.size() + 4);
    for (char c : typed) {
        if (c == '\'') {
            out += "''";
        } else if (c == '\\' && kind == ServerKind::PostgreSQL) {
            // With standard strings (the server's default) the literal keeps both
            // backslashes, and LIKE reads the pair as one backslash.
            out += "\\\\";
        } else if (c == '[' && kind == ServerKind::SqlServer) {
            out += "[[]";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Dialect::DatabaseListQuery(std::string_view name) const {
    switch (kind) {
        case ServerKind::SqlServer:
            // The whole database field goes in, trailing blanks included: SQL Server
            // ignores trailing blanks when it compares.
            return "SELECT name FROM sysdatabases WHERE name = '" + SqlEscape(name) + "'";
        case ServerKind::PostgreSQL:
            // PostgreSQL compares trailing blanks, so the name goes in without them.
            return "SELECT datname FROM pg_database WHERE datname = " + SqlLiteral(Clip(name));
        case ServerKind::Embedded:
            return {};
    }
    return {};
}

std::string Dialect::CreateDatabase(std::string_view name) const {
    switch (kind) {
        case ServerKind::SqlServer:
            return "CREATE DATABASE " + QuoteIdentifier(Clip(name), '[', ']');
        case ServerKind::PostgreSQL:
            return "CREATE DATABASE " + QuoteIdentifier(Clip(name), '"', '"');
        case ServerKind::Embedded:
            return {};
    }
    return {};
}

std::string Dialect::DatabaseFile(std::string_view name) const {
    return kind == ServerKind::Embedded ? std::string(Clip(name)) + ".db" : std::string();
}

std::string_view Dialect::MasterDatabase() const {
    return kind == ServerKind::PostgreSQL ? "postgres" : "master";
}

std::string Dialect::DropMasterFiles() const {
    // SQL Server reaches the master database from any connection; the others cannot
    // name another database in a statement, so the drop goes over the master connection.
    return kind == ServerKind::SqlServer ? "drop table master.dbo.files" : "DROP TABLE files";
}

bool Dialect::DropThroughMaster() const {
    return kind != ServerKind::SqlServer;
}

std::string Dialect::MasterFilesName() const {
    switch (kind) {
        case ServerKind::SqlServer:
            return "master.dbo.files";
        case ServerKind::PostgreSQL:
            return "files of the database postgres";
        case ServerKind::Embedded:
            return "files of the database master (master.db)";
    }
    return {};
}

const Dialect& DialectOf(ServerKind kind) {
    for (const Dialect& d : kDialects)
        if (d.kind == kind) return d;
    return kDialects[0];
}

}  // namespace dt
