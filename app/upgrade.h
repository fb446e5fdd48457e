// The start-up upgrade step of drivetrek: at every start it checks the catalog and
// creates what a database made by an earlier version lacks (indexes the site's
// statements need, the number counter), so that old and new programs share the tables
// while a site upgrades one computer at a time. Read-only programs never run it.
//
// Every object is created only when missing, with "if not exists" forms; "already exists"
// from another program starting at the same moment is success. On PostgreSQL indexes on
// FILES are built CONCURRENTLY (outside a transaction), so that scans keep writing.
//
// Further objects (the search's substring indexes) are added as entries of Entries().
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/dialect.h"

namespace dt {

class SqlSession;

// One object of the step.
struct UpgradeEntry {
    std::string name;  // what the messages call it
    // Creates the object when it is missing: true when it exists afterwards (or cannot
    // exist yet, because its table is missing), false with the reason in `why`.
    std::function<bool(SqlSession&, const Dialect&, std::string& why)> ensure;
};

// The entries, in the order they run.
std::vector<UpgradeEntry>& UpgradeEntries();

struct UpgradeResult {
    bool ok = true;
    std::vector<std::string> failures;  // "<entry>: <server's text>"
};

// Runs every entry on `session` (autocommit is switched on for the step), then `then`
// (when given) while still holding the step's lock.
UpgradeResult RunUpgrade(SqlSession& session, const std::function<void()>& then = {});
// Opens a session of its own for `owner` and runs the step.
UpgradeResult RunUpgrade(const std::string& owner, const std::function<void()>& then = {});

// The server kind of a session (by its DBMS name).
ServerKind KindOfSession(const SqlSession& session);

// Reserves `count` consecutive numbers of `table`.`column` from the counter table
// (created, and the table's row added, when missing): `first` is the first of them. No
// other program that reserves gets any of them; a program that numbers highest-plus-one
// may still take one, which the caller notices as a duplicate key and answers by
// reserving again (the counter always moves past the table's highest number).
bool ReserveNumbers(SqlSession& session, const std::string& table, const std::string& column, long long count,
                    long long& first);

// Ensures one object; shared by the entries and by tests. `concurrently`: see
// Dialect::CreateIndex.
bool EnsureIndex(SqlSession& s, const Dialect& d, const std::string& index, const std::string& table,
                 const std::string& column, bool unique, std::string& why, bool concurrently = true);

}  // namespace dt
