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
    // The embedded kind's file for database `name` (EmbeddedDirectory() + "name.db"); "" for
    // servers.
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

    // ---- the catalog and the site's objects (the start-up upgrade step) ----
    // A query with one row when table `table` exists (unquoted name, any case).
    std::string TableExistsQuery(std::string_view table) const;
    // A query with one row when index `index` exists; its first column is "0" when the
    // index exists but is not usable (a concurrent build that failed half way), else "1".
    std::string IndexStateQuery(std::string_view index) const;
    // Creates index `index` on table(column) when it is missing. PostgreSQL builds it
    // without locking writers out (CONCURRENTLY: outside any transaction) unless
    // `concurrently` is false: a plain build locks the table's writers out while it runs,
    // but waits only for them, where a concurrent one waits for every transaction of the
    // database that is older than it.
    std::string CreateIndex(std::string_view index, std::string_view table, std::string_view column,
                            bool unique, bool concurrently = true) const;
    // Drops index `index` (a half-built one) without locking writers out where possible.
    std::string DropIndex(std::string_view index, std::string_view table) const;
    // Creates table DTCOUNTER when it is missing: one row per numbered table with the
    // next free number, from which programs reserve ranges.
    std::string CreateCounterTable() const;
    // Reserves `count` numbers for `table`.`column` and returns (one row, one column) the
    // first: the counter moves past the table's highest number (rows stored by programs
    // that number highest-plus-one) and then by `count`, in one atomic statement.
    std::string ReserveNumbers(std::string_view table, std::string_view column, long long count) const;
    // Where the reserving statement returns nothing (the embedded database): the query
    // that reads the first reserved number in the same transaction; "" elsewhere.
    std::string ReservedNumberQuery(std::string_view table, long long count) const;
    // The counter row of `table`, starting at 1 (fails with a duplicate key when present).
    std::string InsertCounterRow(std::string_view table) const;
    // A query with one row when two rows of `table` share a value of `column`.
    std::string DuplicateValuesQuery(std::string_view table, std::string_view column) const;
};

const Dialect& DialectOf(ServerKind kind);

}  // namespace dt
