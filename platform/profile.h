// Profile (INI) files with the rules of the classic private-profile functions:
// sections and keys compare without regard to case, a missing file, section or key
// yields the default, and a write keeps every other line of the file (comments too).
// An empty file name means the system profile (see SystemProfilePath); a bare name (no
// "/") means a file beside the system profile; any other path is used as given.
// Every function is safe to call from several threads at once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dt::platform {

// Reads a value; `def` when the file, section or key is missing. Surrounding blanks of
// the value are dropped and one pair of enclosing quotes is removed. The result is cut
// to `max_len` bytes (the caller's buffer size less its NUL) when max_len > 0.
std::string ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                              std::string_view def, std::size_t max_len = 0);

// Reads a value like ReadProfileString but tells a missing file, section or key
// (nullopt) apart from an empty value ("").
std::optional<std::string> LookupProfileString(std::string_view file, std::string_view section,
                                               std::string_view key, std::size_t max_len = 0);

// Writes a value, creating the file and section when needed. A new file is readable and
// writable by its owner only (it may hold a password); an existing file keeps its mode.
// The file is rewritten through a temporary file renamed over the old one. Returns false
// when the file cannot be written, and refuses (false) a section, key or value holding a
// line break, a section holding "]" or a key holding "=" (they would forge other lines).
// A value with surrounding blanks or enclosing quotes is stored quoted so that it reads
// back unchanged.
bool WriteProfileString(std::string_view file, std::string_view section, std::string_view key,
                        std::string_view value);

// Removes the key's line (the first one, as read) from the section; every other line is
// kept. True when the key is gone afterwards (also when file, section or key were missing).
bool DeleteProfileKey(std::string_view file, std::string_view section, std::string_view key);

// The system profile that stands for WIN.INI: $DRIVETREK_PROFILE, else
// $XDG_CONFIG_HOME/drivetrek/win.ini, else ~/.config/drivetrek/win.ini.
std::string SystemProfilePath();

}  // namespace dt::platform
