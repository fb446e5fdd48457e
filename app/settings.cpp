#include "app/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/globals.h"
#include "data/sql_connection.h"
#include "platform/profile.h"

namespace dt {
namespace {

constexpr const char* kSection = "database";

template <std::size_t N>
void Read(const std::string& file, const char* key, const char* def, STRING<N>& out) {
    out = platform::ReadProfileString(file, kSection, key, def, N);
}

// Each part goes in as one value whatever it holds: a part with ',', ';', braces or '='
// is written in braces (OwnerPart), so that a password can neither be cut nor add an
// attribute. The server keeps its "Address=host" form.
std::string Owner(std::string_view database) {
    std::string s;
    s.append(OwnerPart(GLO::SQLSERVER.Clip(), true)).append(",");
    s.append(OwnerPart(Clip(database))).append(",");
    s.append(OwnerPart(GLO::SQLUSER.Clip())).append(",");
    s.append(OwnerPart(GLO::SQLPASSWD.Clip())).append(";");
    s.append("APP=DRIVETREK;").append("WSID=").append(GLO::COMPUTERNAME.View());
    return s;
}

// $name when it holds an absolute path (a relative one is to be ignored), else
// $HOME + `fallback`.
std::string BaseDirectory(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    std::string h = home != nullptr && home[0] == '/' ? home : "";
    if (h.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) h = pw->pw_dir;
    }
    if (h.empty()) h = "/";
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    return (h == "/" ? "" : h) + fallback;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Creates `dir` (owner only) and the directories above it that are missing.
bool MakeDirectory(const std::string& dir, std::string& error) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        error = dir + " is not a directory";
        return false;
    }
    const std::size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectory(dir.substr(0, slash), error)) return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create the directory " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// The settings path is kept in GLO::INIFILE: a longer one is refused, never cut.
bool SettingsPathFits(const FileLocations& l, std::string& error) {
    if (l.settings_file.size() <= sizeof(GLO::INIFILE) - 1) return true;
    error = "the settings file's path is longer than " + std::to_string(sizeof(GLO::INIFILE) - 1) +
            " bytes: " + l.settings_file;
    return false;
}

}  // namespace

FileLocations ProgramFileLocations() {
    FileLocations l;
    struct stat st {};
    if (::stat("drivetrek.ini", &st) == 0 || errno != ENOENT) {
        // Present (even when it cannot be read: that is reported, never passed over).
        l.here = true;
        l.settings_file = "./drivetrek.ini";
        l.config_dir = ".";
        return l;
    }
    l.config_dir = WithoutTrailingSlash(BaseDirectory("XDG_CONFIG_HOME", "/.config")) + "/drivetrek";
    l.settings_file = l.config_dir + "/drivetrek.ini";
    l.data_dir = WithoutTrailingSlash(BaseDirectory("XDG_DATA_HOME", "/.local/share")) + "/drivetrek/";
    return l;
}

bool CreateProgramDirectories(const FileLocations& l, std::string& error) {
    if (!SettingsPathFits(l, error)) return false;
    return l.here ||
           (MakeDirectory(l.config_dir, error) && MakeDirectory(WithoutTrailingSlash(l.data_dir), error));
}

bool FindSettings(SettingsUse use, std::string& error) {
    const FileLocations l = ProgramFileLocations();
    if (!SettingsPathFits(l, error)) return false;
    if (use == SettingsUse::Program && !CreateProgramDirectories(l, error)) return false;
    GLO::INIFILE = l.settings_file;
    SetEmbeddedDirectory(l.data_dir);
    struct stat st {};
    if (::stat(l.settings_file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot read the settings file " + l.settings_file + ": it is a directory";
            return false;
        }
        const int fd = ::open(l.settings_file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot read the settings file " + l.settings_file + ": " + std::strerror(errno);
            return false;
        }
        char byte = 0;
        const ssize_t n = ::read(fd, &byte, 1);
        const int read_errno = errno;
        ::close(fd);
        if (n < 0) {
            error = "cannot read the settings file " + l.settings_file + ": " + std::strerror(read_errno);
            return false;
        }
    } else if (errno != ENOENT) {
        error = "cannot read the settings file " + l.settings_file + ": " + std::strerror(errno);
        return false;
    }
    LoadSettings(l.settings_file);
    return true;
}

std::string EmbeddedDirectoryProblem() {
    const std::string dir = EmbeddedDirectory().empty() ? std::string(".") : EmbeddedDirectory();
    if (::access(dir.c_str(), W_OK | X_OK) == 0) return {};
    const int e = errno;
    std::string shown = dir;
    if (EmbeddedDirectory().empty()) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr) shown = cwd;
    }
    return "the database directory " + shown + " cannot be written: " + std::strerror(e);
}

std::string EmbeddedDatabasePath(std::string_view name) {
    std::string dir = EmbeddedDirectory();
    if (dir.empty()) {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) != nullptr) dir = std::string(cwd) + (cwd[1] != '\0' ? "/" : "");
    }
    return dir + std::string(Clip(name)) + ".db";
}

void LoadSettings(const std::string& inifile) {
    Read(inifile, "server", "Server", GLO::SQLSERVER);
    Read(inifile, "database", "master", GLO::SQLDATABASE);
    Read(inifile, "user", "sa", GLO::SQLUSER);
    Read(inifile, "pass", "", GLO::SQLPASSWD);
    // How long one statement or a lock wait may take before the program gives up.
    const std::string timeout = platform::ReadProfileString(inifile, kSection, "timeout", "60", 20);
    const long seconds = std::strtol(timeout.c_str(), nullptr, 10);
    SetDatabaseTimeout(seconds > 0 ? seconds : 60);
}

bool SaveSettings(const std::string& inifile) {
    bool ok = platform::WriteProfileString(inifile, kSection, "server", GLO::SQLSERVER.Clip());
    ok = platform::WriteProfileString(inifile, kSection, "database", GLO::SQLDATABASE.Clip()) && ok;
    ok = platform::WriteProfileString(inifile, kSection, "user", GLO::SQLUSER.Clip()) && ok;
    ok = platform::WriteProfileString(inifile, kSection, "pass", GLO::SQLPASSWD.Clip()) && ok;
    return ok;
}

void BuildOwners(std::string_view master_database) {
    GLO::SQLMASTEROWNER = Owner(master_database);
    GLO::SQLOWNER = Owner(GLO::SQLDATABASE.View());
}

}  // namespace dt
