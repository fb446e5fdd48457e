#include "runtime/regional.h"

#include <charconv>
#include <mutex>

#include "platform/profile.h"

namespace dt {
namespace {

std::mutex g_mutex;
std::shared_ptr<const RegionalSettings> g_settings;  // null until read or set

int ReadInt(std::string_view profile, std::string_view key, int def) {
    const std::string text = platform::ReadProfileString(profile, "intl", key, "");
    int value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end) return def;
    return value;
}

std::string ReadText(std::string_view profile, std::string_view key, const std::string& def) {
    return platform::ReadProfileString(profile, "intl", key, def);
}

}  // namespace

RegionalSettings ReadRegionalSettings(std::string_view profile) {
    RegionalSettings s;
    s.iTime = ReadInt(profile, "iTime", s.iTime);
    s.iTLzero = ReadInt(profile, "iTLzero", s.iTLzero);
    s.sTime = ReadText(profile, "sTime", s.sTime);
    s.s1159 = ReadText(profile, "s1159", s.s1159);
    s.s2359 = ReadText(profile, "s2359", s.s2359);
    s.sShortDate = ReadText(profile, "sShortDate", s.sShortDate);
    s.sLongDate = ReadText(profile, "sLongDate", s.sLongDate);
    // The settings file named after the executable with the extension ".ENV" (character
    // set, collation, month names, AM/PM texts, button texts) would be applied here, over
    // the profile's values. Its format is not defined, so no such file is read yet.
    return s;
}

std::shared_ptr<const RegionalSettings> Regional() {
    std::lock_guard lock(g_mutex);
    if (!g_settings) g_settings = std::make_shared<const RegionalSettings>(ReadRegionalSettings());
    return g_settings;
}

void SetRegionalSettings(RegionalSettings settings) {
    auto next = std::make_shared<const RegionalSettings>(std::move(settings));
    std::lock_guard lock(g_mutex);
    g_settings = std::move(next);
}

void ResetRegionalSettings() {
    std::lock_guard lock(g_mutex);
    g_settings.reset();
}

}  // namespace dt
