#include "app/settings.h"

#include <cstdlib>
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

}  // namespace

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
