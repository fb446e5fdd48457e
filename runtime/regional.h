// Regional settings: the [intl] values of the system profile that the date and time
// pictures draw on (12/24-hour clock, hour leading zero, time separator, AM/PM markers,
// short and long date formats). Read once, on first use, and shared by every thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace dt {

struct RegionalSettings {
    int iTime = 0;                                       // 1: 24-hour clock, else 12-hour
    int iTLzero = 1;                                     // 1: hours with a leading zero
    std::string sTime = ":";                             // between hours, minutes, seconds
    std::string s1159 = "AM";                            // marker for 00:00 .. 11:59
    std::string s2359 = "PM";                            // marker for 12:00 .. 23:59
    std::string sShortDate = "MM/dd/yy";                 // date picture 17
    std::string sLongDate = "ddd', 'MMMM' 'dd', 'yyyy";  // date picture 18
};

// Reads section "intl" of a profile file (empty name: the system profile). Missing keys,
// and numbers that are not numbers, keep their defaults. Never fails.
RegionalSettings ReadRegionalSettings(std::string_view profile = {});

// The settings in force. The first call reads the system profile (thread-safe); later
// calls share that result. The returned object is immutable and stays valid for the
// caller even when the settings are replaced meanwhile.
std::shared_ptr<const RegionalSettings> Regional();

// Replaces the settings in force (tests, or a program that fixes its own settings).
void SetRegionalSettings(RegionalSettings settings);

// Forgets the settings in force, so that the next Regional() reads the system profile again.
void ResetRegionalSettings();

}  // namespace dt
