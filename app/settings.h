// The connection settings: read from the settings file into the GLO:: globals, and the
// two connection texts built from them.
#pragma once

#include <string>
#include <string_view>

namespace dt {

// Fills GLO::SQLSERVER, SQLDATABASE, SQLUSER and SQLPASSWD from section "database" of
// `inifile` (keys "server", "database", "user", "pass"), in that order. Missing keys take
// the defaults "Server", "master", "sa" and ""; longer values are cut to the global's size.
// Never fails: an unreadable or garbled file gives the defaults. Key "timeout" (seconds,
// default 60; anything not a positive number gives the default) sets the database
// time-out (SetDatabaseTimeout).
void LoadSettings(const std::string& inifile);

// Writes the four keys back without trailing blanks. Returns false when the file cannot
// be written.
bool SaveSettings(const std::string& inifile);

// Builds GLO::SQLMASTEROWNER, then GLO::SQLOWNER:
//   server "," database "," user "," password ";APP=DRIVETREK;WSID=" computer name
// where the database of the master text is `master_database` ("master"; PostgreSQL has
// "postgres" instead), each of server, database, user and password enters without
// trailing blanks (and in braces when it holds ',', ';', a brace or '=', see OwnerPart),
// and the computer name with them.
void BuildOwners(std::string_view master_database = "master");

}  // namespace dt
