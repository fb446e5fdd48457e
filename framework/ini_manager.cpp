#include "framework/ini_manager.h"

#include <algorithm>
#include <climits>
#include <tuple>
#include <vector>

#include "platform/profile.h"

namespace dt {

namespace {

constexpr std::string_view kSectorSection = "__Dont_Touch_Me__";
constexpr std::string_view kSectorName = "Sectors";
constexpr std::string_view kUnknown = "---Unknown---";

auto SectorKey(const SectorEntry& e) {
    return std::make_tuple(e.FAMILY.View(), e.ITEM.View(), e.TYPE.View());
}

std::vector<SectorEntry> Entries(const SectorQueue& q) {
    std::vector<SectorEntry> out;
    SectorEntry e;
    for (std::size_t i = 1, n = q.Records(); i <= n && q.Peek(i, e); ++i) out.push_back(e);
    return out;
}

// Every run of three "$" becomes one.
std::string CollapseDollars(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 3, "$$$") == 0) {
            out += '$';
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

int ToInt(std::string_view text) {
    long v = IniNumber(text);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

}  // namespace

long IniNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (v > (LONG_MAX - digit) / 10) return negative ? LONG_MIN : LONG_MAX;  // saturate, never wrap
        v = v * 10 + digit;
    }
    return negative ? -v : v;
}

std::string ini_detail::CutValue(std::string value, std::size_t max) {
    value.resize(Utf8CutLength(value, max));
    return value;
}

std::string IniManager::ReadRaw(std::string_view section, std::string_view key, std::string_view def,
                                std::string_view file) {
    return platform::ReadProfileString(file, section, key, def);
}

void IniManager::WriteRaw(std::string_view section, std::string_view key, std::string_view value,
                          std::string_view file) {
    platform::WriteProfileString(file, section, key, value);
}

std::string IniManager::FileName() const {
    std::lock_guard lock(mutex_);
    const std::string shown = FILENAME.Str();
    // FILENAME still holds the cut name Startup stored: use the whole one.
    if (file_.size() > shown.size() && shown == CSTRING<260>(file_).Str()) return file_;
    return shown;
}

void IniManager::Startup(std::string_view file) {
    std::lock_guard lock(mutex_);
    FILENAME = file;
    file_ = file;
    sectors_ = std::make_unique<SectorQueue>();
    SECTORS = sectors_.get();
    OnStartup();
    if (SECTORS == nullptr) return;  // an override may have shut the registry down
    ReadList<SectorEntry>(kSectorSection, kSectorName, *SECTORS, &SectorEntry::FAMILY, &SectorEntry::ITEM,
                          &SectorEntry::TYPE);
    NormalizeSectors();
}

void IniManager::Shutdown() {
    std::lock_guard lock(mutex_);
    if (sectors_ == nullptr) return;
    if (!read_only_)
        WriteList<SectorEntry>(kSectorSection, kSectorName, *sectors_, &SectorEntry::FAMILY,
                               &SectorEntry::ITEM, &SectorEntry::TYPE);
    SECTORS = nullptr;
    sectors_.reset();
}

void IniManager::SetReadOnly(bool read_only) {
    std::lock_guard lock(mutex_);
    read_only_ = read_only;
}

bool IniManager::ReadOnly() const {
    std::lock_guard lock(mutex_);
    return read_only_;
}

void IniManager::Write(std::string_view section, std::string_view key, std::string_view value) {
    // Every write of the manager (lists and window placement too) comes through here.
    if (ReadOnly()) return;
    WriteRaw(section, key, value, FileName());
}

std::string IniManager::TryRead(std::string_view section, std::string_view key) {
    return ReadRaw(section, key, "", FileName());
}

std::string IniManager::ReadRequired(std::string_view section, std::string_view key) {
    return ini_detail::CutValue(ReadRaw(section, key, kUnknown, FileName()), 1000);
}

std::string IniManager::ReadPart(std::string_view section, std::string_view key, long n) {
    const std::string value = ReadRequired(section, key);
    std::size_t pos = 0;
    for (long i = 1; i < n; ++i) {
        std::size_t comma = value.find(',', pos);
        pos = comma == std::string::npos ? 0 : comma + 1;
    }
    std::size_t end = value.find(',', pos);
    return value.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

void IniManager::SaveWindow(std::string_view section, WindowPlacement& window) {
    if (ReadOnly() || window.IsMinimized()) return;
    const bool maximized = window.IsMaximized();
    Write(section, "Maximize", maximized ? "Yes" : "No");
    if (maximized) return;
    int x = 0, y = 0;
    window.GetPosition(x, y);
    Write(section, "XPos", std::to_string(x));
    Write(section, "YPos", std::to_string(y));
    if (!window.IsResizable()) return;
    int width = 0, height = 0;
    window.GetSize(width, height);
    Write(section, "Height", std::to_string(height));
    Write(section, "Width", std::to_string(width));
}

void IniManager::RestoreWindow(std::string_view section, WindowPlacement& window) {
    const std::string stored = TryRead(section, "Maximize");
    if (stored != "Yes" && stored != "No") return;
    const bool maximize = stored == "Yes";
    if (!maximize && window.IsMaximized()) window.SetMaximized(false);
    if (!TryRead(section, "XPos").empty()) {
        window.SetPosition(ToInt(ReadRequired(section, "XPos")), ToInt(ReadRequired(section, "YPos")));
        if (window.IsResizable()) {
            window.SetSize(ToInt(ReadRequired(section, "Width")), ToInt(ReadRequired(section, "Height")));
        }
    }
    if (window.IsMaximized() != maximize) window.SetMaximized(maximize);
}

std::string IniManager::ComposeName(std::string_view family, std::string_view item, std::string_view type) {
    std::string name(family);
    name += '$';
    for (char c : item) {
        name += c;
        if (c == '$') name += '$';
    }
    name += "$$";
    name += type;
    return name;
}

void IniManager::SplitName(std::string_view name, std::string& family, std::string& item, std::string& type) {
    family.clear();
    item.clear();
    type.clear();
    const std::size_t first = name.find('$');
    if (first == std::string_view::npos) {
        family = name;
        return;
    }
    family = name.substr(0, first);
    // The separator is the first "$$" not followed by a further "$".
    std::size_t sep = name.find("$$", first + 1);
    while (sep != std::string_view::npos && sep + 2 < name.size() && name[sep + 2] == '$') {
        sep = name.find("$$", sep + 1);
    }
    if (sep == std::string_view::npos) {
        item = name.substr(first + 1);
        return;
    }
    item = name.substr(first + 1, sep - first - 1);
    type = name.substr(sep + 2);
}

void IniManager::RegisterSector(std::string_view name) {
    std::string family, item, type;
    SplitName(name, family, item, type);
    SectorEntry entry;
    entry.FAMILY = family;
    entry.ITEM = item;
    entry.TYPE = type;

    std::lock_guard lock(mutex_);
    if (sectors_ == nullptr) return;
    // Insert at the sorted position, unless an equal entry is already there.
    const std::vector<SectorEntry> entries = Entries(*sectors_);
    auto at = std::lower_bound(
        entries.begin(), entries.end(), entry,
        [](const SectorEntry& a, const SectorEntry& b) { return SectorKey(a) < SectorKey(b); });
    if (at != entries.end() && SectorKey(*at) == SectorKey(entry)) return;
    sectors_->Buffer() = entry;
    sectors_->Add(static_cast<std::size_t>(at - entries.begin()) + 1);
}

void IniManager::ListSectors(std::string_view family, std::string_view item, std::string_view type,
                             SectorQueue& result) {
    std::vector<SectorEntry> entries;
    {
        std::lock_guard lock(mutex_);
        if (sectors_ != nullptr) entries = Entries(*sectors_);
    }
    family = Clip(family);
    item = Clip(item);
    type = Clip(type);
    result.Free();
    for (const SectorEntry& e : entries) {
        if (!family.empty() && e.FAMILY.Clip() != family) continue;
        if (!item.empty() && e.ITEM.Clip() != item) continue;
        if (!type.empty() && e.TYPE.Clip() != type) continue;
        result.Buffer() = e;
        result.ITEM = CollapseDollars(e.ITEM.View());
        result.Add();
    }
}

// The registry as loaded may be in any order and hold repeats (an edited file): sort it
// on its three fields and drop repeats.
void IniManager::NormalizeSectors() {
    std::vector<SectorEntry> entries = Entries(*sectors_);
    auto less = [](const SectorEntry& a, const SectorEntry& b) { return SectorKey(a) < SectorKey(b); };
    std::stable_sort(entries.begin(), entries.end(), less);
    entries.erase(
        std::unique(entries.begin(), entries.end(),
                    [](const SectorEntry& a, const SectorEntry& b) { return SectorKey(a) == SectorKey(b); }),
        entries.end());
    sectors_->Free();
    for (const SectorEntry& e : entries) {
        sectors_->Buffer() = e;
        sectors_->Add();
    }
    sectors_->ClearBuffer();
}

}  // namespace dt
