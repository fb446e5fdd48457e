// The few statements that are Microsoft SQL Server's own, with their equivalents for the
// other kinds of server the program runs on. Everything else the program sends is the
// same text for every server.
#pragma once

#include <string>
#include <string_view>

namespace dt {

enum class ServerKind {
    SqlServer,   // the statements as written for Microsoft SQL Server
    PostgreSQL,  // psqlODBC
    Embedded,    // the SQLite driver: database X is the file X.db in the current directory
};

// The server kind for a DBMS name as the ODBC driver reports it ("Microsoft SQL Server",
// "PostgreSQL", "SQLite"); SQL Server for anything else, whose statements are the default.
ServerKind KindOfDbms(std::string_view dbms_name);

// The server kind an ODBC driver name reaches ("PostgreSQL Unicode", "SQLite3", "SQL
// Server"), known before connecting; SQL Server for any other name.
ServerKind KindOfDriverName(std::string_view driver_name);

// SQL text of a string literal: the text in apostrophes, each apostrophe doubled, so that
// typed text can never end the literal early.
std::string SqlLiteral(std::string_view text);
// The literal's inside only (apostrophes doubled, no enclosing apostrophes).
std::string SqlEscape(std::string_view text);

struct Dialect {
    ServerKind kind;
    // The pattern-match operator of a search: SQL Server's default collation compares
    // without regard to case; PostgreSQL's LIKE does not, its ILIKE does.
    std::string_view like;

    // The inside of a LIKE pattern literal for typed text: "%" and "_" keep their LIKE
    // meaning on every server; a character the server gives a meaning of its own beyond
    // those matches itself ("\" is PostgreSQL's escape character and becomes "\\"; "[" opens
    // a character class on SQL Server and becomes "[[]"); apostrophes are doubled. Text
    // without those characters comes back unchanged.
    std::string LikePattern(std::string_view typed) const;

    // The statement that lists the database named `name` (one row when it exists),
    // sent on the server's master connection. Empty for the embedded kind, whose
    // databases are files: see DatabaseFile.
    std::string DatabaseListQuery(std::string_view name) const;
    // The statement that creates database `name` (quoted as an identifier where the
    // server needs it). Empty for the embedded kind (connecting creates the file).
    std::string CreateDatabase(std::string_view name) const;
    // The embedded kind's file for database `name` ("name.db"); "" for servers.
    std::string DatabaseFile(std::string_view name) const;
    // The database every server has, where the database list is read: SQL Server's
    // "master"; PostgreSQL has no "master" and uses "postgres"; the embedded kind keeps
    // "master" (the file master.db).
    std::string_view MasterDatabase() const;
    // The maintenance drop of the table `files` in the master database: the statement,
    // whether it goes through the master connection (SQLM) rather than the application's
    // (SQLF), and the table's name as the user is told it.
    std::string DropMasterFiles() const;
    bool DropThroughMaster() const;
    std::string MasterFilesName() const;
};

const Dialect& DialectOf(ServerKind kind);

}  // namespace dt
