// The connection settings: read from the settings file into the GLO:: globals, and the
// two connection texts built from them.
#pragma once

#include <string>
#include <string_view>

namespace dt {

// Where every program keeps its files. Started in a directory that holds a drivetrek.ini,
// it works there: settings "./drivetrek.ini", the embedded database in the current
// directory. Anywhere else: settings $XDG_CONFIG_HOME/drivetrek/drivetrek.ini, the
// embedded database in $XDG_DATA_HOME/drivetrek/ (each variable only when it holds an
// absolute path; else ~/.config and ~/.local/share).
struct FileLocations {
    bool here = false;          // ./drivetrek.ini is present
    std::string settings_file;  // "./drivetrek.ini" or the absolute path
    std::string config_dir;     // the directory of the settings file
    std::string data_dir;       // "" (current directory) or an absolute path ending in "/"
};
FileLocations ProgramFileLocations();

// Creates the settings and data directories of `l` that are missing (owner only, mode
// 0700; nothing when `l.here`). False with a message naming the directory otherwise.
bool CreateProgramDirectories(const FileLocations& l, std::string& error);

// What a program does with its places: a search only reads (it creates nothing); the
// program creates the settings and data directories (owner only, mode 0700) when missing.
enum class SettingsUse { Read, Program };

// The start-up every program shares: finds the places (ProgramFileLocations), refuses a
// settings path longer than GLO::INIFILE holds, creates the directories for `use`,
// sets GLO::INIFILE and the embedded database's directory, and reads the settings
// (LoadSettings). A settings file that exists but cannot be read stops the program:
// false with a message naming the file and the reason in `error`. A missing file gives
// the defaults.
bool FindSettings(SettingsUse use, std::string& error);

// Empty when the embedded database's directory can be written; else a message naming the
// directory and the reason.
std::string EmbeddedDirectoryProblem();

// The full path of the embedded database file of database `name` (for messages and the
// windows that name it).
std::string EmbeddedDatabasePath(std::string_view name);

// Fills GLO::SQLSERVER, SQLDATABASE, SQLUSER and SQLPASSWD from section "database" of
// `inifile` (keys "server", "database", "user", "pass"), in that order. Missing keys take
// the defaults "Server", "master", "sa" and ""; longer values are cut to the global's size.
// Does not check the file: FindSettings refuses one that cannot be read. Key "timeout"
// (seconds, default 60; anything not a positive number gives the default) sets the
// database time-out (SetDatabaseTimeout).
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
