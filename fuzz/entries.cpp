#include "fuzz/entries.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/dialect.h"
#include "app/query.h"
#include "data/sql_connection.h"
#include "data/trace.h"
#include "platform/profile.h"
#include "runtime/picture.h"
#include "ui/list_format.h"
#include "ui/src/popup_text.h"

namespace dt::fuzz {
namespace {

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s\n%.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at the first `sep` (the rest after it), or the whole input.
std::string_view Next(std::string_view& rest, char sep) {
    const std::size_t at = rest.find(sep);
    std::string_view head = rest.substr(0, at);
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
    return head;
}

// ---------------------------------------------------------------- picture
// "picture\ntext": describe the picture, format the text and the number it reads as (and
// the raw bytes as a double: NaN, infinities, huge values), read the text back under it.
void Picture(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = Text(data, size);
    const std::string_view picture = Next(rest, '\n');
    const std::string_view text = rest;
    (void)DescribePicture(picture);
    (void)Format(text, picture);
    double d = 0;
    LONG l = 0;
    std::string s;
    if (TryDeformat(text, picture, d)) (void)Format(d, picture);
    (void)TryDeformat(text, picture, l);
    (void)TryDeformat(text, picture, s);
    if (text.size() >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, text.data(), sizeof raw);
        (void)Format(raw, picture);
    }
    (void)Format(std::strtod(std::string(text).c_str(), nullptr), picture);
}

// ---------------------------------------------------------------- profile
// The input is a settings file: its keys are read, and a value written into it reads
// back unchanged.
std::string ProfileFile() {
    static const std::string path = [] {
        const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/dt-fuzz-profile-" + std::to_string(::getpid()) + ".ini";
    }();
    return path;
}

void Profile(const std::uint8_t* data, std::size_t size) {
    const std::string file = ProfileFile();
    std::string_view text = Text(data, size);
    if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    // A section and key named by the input itself, and the ones the program reads.
    std::string section = "database", key = "pass";
    if (std::size_t open = text.find('['); open != std::string_view::npos) {
        std::size_t close = text.find(']', open);
        if (close != std::string_view::npos) section = std::string(text.substr(open + 1, close - open - 1));
        if (std::size_t eq = text.find('=', close == std::string_view::npos ? open : close);
            eq != std::string_view::npos) {
            std::size_t line = text.rfind('\n', eq);
            key = std::string(text.substr(line == std::string_view::npos ? 0 : line + 1,
                                          eq - (line == std::string_view::npos ? 0 : line + 1)));
        }
    }
    (void)platform::LookupProfileString(file, section, key);
    (void)platform::ReadProfileString(file, "database", "server", "Server", 32);
    (void)platform::ReadProfileString(file, "QXMSSQL", "TraceFile", "MSSQL.LOG", 260);
    // The last line of the input as a value: what a write accepts reads back as written.
    const std::string value(
        text.substr(text.rfind('\n') == std::string_view::npos ? 0 : text.rfind('\n') + 1));
    if (platform::WriteProfileString(file, section, key, value)) {
        auto back = platform::LookupProfileString(file, section, key);
        if (!back || *back != value) Fail("a written value does not read back", value);
    }
    ::unlink(file.c_str());
}

// ---------------------------------------------------------------- popup
void Popup(const std::uint8_t* data, std::size_t size) {
    const std::vector<ui::detail::PopupItem> items = ui::detail::ParsePopup(Text(data, size));
    int last = 0;
    for (const auto& item : items) {
        if (item.depth < 1) Fail("popup item above the top level");
        if (item.number != 0) {
            if (item.number != last + 1) Fail("popup numbers are not consecutive");
            last = item.number;
        }
    }
}

// ---------------------------------------------------------------- owner
// "database\x01user\x01password": each written as the program writes it comes back whole,
// and the traced connection string shows nothing of the password.
void Owner(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = Text(data, size);
    // Any text as an owner: never a crash.
    for (const char* driver : {"SQL Server", "PostgreSQL Unicode", "SQLite3"})
        (void)MaskPassword(BuildConnectionString(driver, rest, false));
    const std::string database(Next(rest, '\x01')), user(Next(rest, '\x01')), password(rest);
    auto owner = [&](const std::string& pw) {
        return "srv:5432," + OwnerPart(database) + "," + OwnerPart(user) + "," + OwnerPart(pw) +
               ";APP=DRIVETREK;WSID=PC1";
    };
    const OwnerParts p = SplitOwner(owner(password));
    if (p.server != "srv:5432" || p.database != database || p.user != user || p.password != password ||
        p.attributes != "APP=DRIVETREK;WSID=PC1" || !p.tail.empty())
        Fail("an owner part does not come back whole", owner(password));
    if (password.empty()) return;
    for (const char* driver : {"SQL Server", "PostgreSQL Unicode", "SQLite3"}) {
        const std::string traced = MaskPassword(BuildConnectionString(driver, owner(password), false));
        const std::string other = MaskPassword(BuildConnectionString(driver, owner("x"), false));
        if (traced != other) Fail("the traced connection string depends on the password", traced);
    }
}

// ---------------------------------------------------------------- list format
// A format that parses is written back as text that parses to the same text.
void ListFormat(const std::uint8_t* data, std::size_t size) {
    ui::ListFormat f;
    std::string error;
    if (!ui::ParseListFormat(Text(data, size), f, &error)) return;
    const std::string text = ui::ListFormatText(f);
    ui::ListFormat again;
    if (!ui::ParseListFormat(text, again, &error))
        Fail("a written list format does not parse", text + "\n" + error);
    if (ui::ListFormatText(again) != text) Fail("a written list format changes when read back", text);
}

// ---------------------------------------------------------------- query
// The statement's structure outside its literals, literal contents left out and runs
// of blanks written as one.
std::string Skeleton(const std::string& statement, std::vector<std::string>* literals) {
    std::string out;
    for (std::size_t i = 0; i < statement.size(); ++i) {
        if (statement[i] != '\'') {
            // Blanks count once: the condition is padded to its field's width, which the
            // doubled apostrophes of a word change.
            if (statement[i] != ' ' || out.empty() || out.back() != ' ') out += statement[i];
            continue;
        }
        std::string lit;
        for (++i;; ++i) {
            if (i >= statement.size()) Fail("a literal is not closed", statement);
            if (statement[i] == '\'') {
                if (i + 1 < statement.size() && statement[i + 1] == '\'') {
                    lit += '\'';
                    ++i;
                    continue;
                }
                break;
            }
            lit += statement[i];
        }
        out += "'L'";
        if (literals) literals->push_back(lit);
    }
    return out;
}

// Flags byte, then "filter\nextension": the typed words never leave their literals (the
// statement has the structure of the same request with plain letters), and each literal
// holds its word as typed.
void Query(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return;
    const std::uint8_t flags = data[0];
    std::string_view rest = Text(data + 1, size - 1);
    SearchRequest r;
    r.filter = std::string(Next(rest, '\n'));
    r.extension = std::string(rest);
    r.search_dir = flags & 1;
    r.size_from = (flags & 2) ? 1024 : 0;
    r.size_to = (flags & 4) ? -5 : 0;
    r.computer = (flags & 8) ? 3 : 0;
    const ServerKind kinds[] = {ServerKind::SqlServer, ServerKind::PostgreSQL, ServerKind::Embedded};
    const Dialect& dialect = DialectOf(kinds[(flags >> 4) % 3]);
    SearchRequest plain = r;
    for (char& c : plain.filter)
        if (c != ' ') c = 'a';
    for (char& c : plain.extension)
        if (c != ' ') c = 'a';
    std::vector<std::string> literals, plain_literals;
    const std::string statement = BuildSearchStatement(r, dialect);
    if (Skeleton(statement, &literals) != Skeleton(BuildSearchStatement(plain, dialect), &plain_literals))
        Fail("a typed word changed the statement's structure", statement);
    for (const std::string& lit : literals)
        if (lit.size() < 2 || lit.front() != '%' || lit.back() != '%') Fail("a literal is no pattern", lit);
}

}  // namespace

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"picture", &Picture}, {"profile", &Profile},        {"popup", &Popup},
        {"owner", &Owner},     {"list_format", &ListFormat}, {"query", &Query},
    };
    return targets;
}

const Target* FindTarget(std::string_view name) {
    for (const Target& t : Targets())
        if (name == t.name) return &t;
    return nullptr;
}

}  // namespace dt::fuzz
