#include "app/dialect.h"

#include "data/sql_connection.h"
#include "platform/text.h"
#include "runtime/types.h"

namespace dt {
namespace {

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
    return kind == ServerKind::Embedded ? EmbeddedDirectory() + std::string(Clip(name)) + ".db"
                                        : std::string();
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

std::string Dialect::TableExistsQuery(std::string_view table) const {
    switch (kind) {
        case ServerKind::PostgreSQL:
            return "SELECT 1 WHERE to_regclass(" + SqlLiteral(Lower(table)) + ") IS NOT NULL";
        case ServerKind::Embedded:
            return "SELECT 1 FROM sqlite_master WHERE type = 'table' AND upper(name) = " +
                   SqlLiteral(Upper(table));
        case ServerKind::SqlServer:
            return "SELECT 1 WHERE OBJECT_ID(" + SqlLiteral(table) + ") IS NOT NULL";
    }
    return {};
}

std::string Dialect::IndexStateQuery(std::string_view index) const {
    switch (kind) {
        case ServerKind::PostgreSQL:
            return "SELECT CASE WHEN i.indisvalid THEN 1 ELSE 0 END FROM pg_index i WHERE i.indexrelid = "
                   "to_regclass(" +
                   SqlLiteral(Lower(index)) + ")";
        case ServerKind::Embedded:
            return "SELECT 1 FROM sqlite_master WHERE type = 'index' AND upper(name) = " +
                   SqlLiteral(Upper(index));
        case ServerKind::SqlServer:
            return "SELECT 1 FROM sys.indexes WHERE name = " + SqlLiteral(index);
    }
    return {};
}

std::string Dialect::CreateIndex(std::string_view index, std::string_view table, std::string_view column,
                                 bool unique, bool concurrently) const {
    const std::string u = unique ? "UNIQUE " : "";
    const std::string tail =
        std::string(index) + " ON " + std::string(table) + " (" + std::string(column) + ")";
    switch (kind) {
        case ServerKind::PostgreSQL:
            return "CREATE " + u + "INDEX " + (concurrently ? "CONCURRENTLY " : "") + "IF NOT EXISTS " + tail;
        case ServerKind::Embedded:
            return "CREATE " + u + "INDEX IF NOT EXISTS " + tail;
        case ServerKind::SqlServer:
            return "IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = " + SqlLiteral(index) +
                   ") CREATE " + u + "INDEX " + tail + " WITH (ONLINE = ON)";
    }
    return {};
}

std::string Dialect::DropIndex(std::string_view index, std::string_view table) const {
    switch (kind) {
        case ServerKind::PostgreSQL:
            return "DROP INDEX CONCURRENTLY IF EXISTS " + std::string(index);
        case ServerKind::Embedded:
            return "DROP INDEX IF EXISTS " + std::string(index);
        case ServerKind::SqlServer:
            return "DROP INDEX " + std::string(index) + " ON " + std::string(table);
    }
    return {};
}

std::string Dialect::CreateCounterTable() const {
    const std::string body =
        "DTCOUNTER (TABLENAME VARCHAR(64) NOT NULL PRIMARY KEY, NEXTNUMBER BIGINT NOT NULL)";
    if (kind == ServerKind::SqlServer) return "IF OBJECT_ID('DTCOUNTER') IS NULL CREATE TABLE " + body;
    return "CREATE TABLE IF NOT EXISTS " + body;
}

std::string Dialect::ReserveNumbers(std::string_view table, std::string_view column, long long count) const {
    const std::string n = std::to_string(count);
    const std::string highest =
        "(SELECT COALESCE(MAX(" + std::string(column) + "), 0) + 1 FROM " + std::string(table) + ")";
    const std::string where = " WHERE TABLENAME = " + SqlLiteral(Upper(table));
    switch (kind) {
        case ServerKind::PostgreSQL:
            return "UPDATE DTCOUNTER SET NEXTNUMBER = GREATEST(NEXTNUMBER, " + highest + ") + " + n + where +
                   " RETURNING NEXTNUMBER - " + n;
        case ServerKind::Embedded:
            // The driver returns no rows for RETURNING: ReservedNumberQuery reads the
            // counter afterwards, in the same transaction.
            return "UPDATE DTCOUNTER SET NEXTNUMBER = MAX(NEXTNUMBER, " + highest + ") + " + n + where;
        case ServerKind::SqlServer:
            return "UPDATE DTCOUNTER SET NEXTNUMBER = (CASE WHEN NEXTNUMBER > " + highest +
                   " THEN NEXTNUMBER ELSE " + highest + " END) + " + n + " OUTPUT inserted.NEXTNUMBER - " +
                   n + where;
    }
    return {};
}

std::string Dialect::ReservedNumberQuery(std::string_view table, long long count) const {
    if (kind != ServerKind::Embedded) return {};
    return "SELECT NEXTNUMBER - " + std::to_string(count) +
           " FROM DTCOUNTER WHERE TABLENAME = " + SqlLiteral(Upper(table));
}

std::string Dialect::InsertCounterRow(std::string_view table) const {
    return "INSERT INTO DTCOUNTER (TABLENAME, NEXTNUMBER) VALUES (" + SqlLiteral(Upper(table)) + ", 1)";
}

std::string Dialect::DuplicateValuesQuery(std::string_view table, std::string_view column) const {
    const std::string c(column);
    const std::string q = "SELECT 1 FROM " + std::string(table) + " GROUP BY " + c + " HAVING COUNT(*) > 1";
    return kind == ServerKind::SqlServer ? q : q + " LIMIT 1";
}

const Dialect& DialectOf(ServerKind kind) {
    for (const Dialect& d : kDialects)
        if (d.kind == kind) return d;
    return kDialects[0];
}

}  // namespace dt
