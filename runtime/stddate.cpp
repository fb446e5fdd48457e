#include "runtime/stddate.h"

#include <atomic>
#include <ctime>

namespace dt {
namespace {

// Days from 1 March 0000 style civil arithmetic; valid for every year we admit.
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe);
}

void CivilFromDays(long z, int& y, int& m, int& d) {
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// 1 January 1801 is day 4.
const long kEpoch = DaysFromCivil(1801, 1, 1) - 4;

std::atomic<int> g_year_override{0};

}  // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 400 == 0 || year % 100 != 0);
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

LONG MaxStandardDate() {
    return static_cast<LONG>(DaysFromCivil(9999, 12, 31) - kEpoch);
}

LONG MakeDate(int year, int month, int day) {
    if (year >= 0 && year < 100) year = ExpandTwoDigitYear(year);
    if (year < 1800 || year > 9999) return 0;
    if (day < 1 || day > DaysInMonth(year, month)) return 0;
    const long n = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch;
    return n >= 1 ? static_cast<LONG>(n) : 0;
}

int SplitDate(LONG date, YearMonthDay& out) {
    out = {};
    if (date < 1 || date > MaxStandardDate()) return -1;
    CivilFromDays(date + kEpoch, out.year, out.month, out.day);
    return 0;
}

LONG MakeTime(int hours, int minutes, int seconds, int hundredths) {
    if (hours == 0 && minutes == 0 && seconds == 0 && hundredths == 0) return 0;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
        hundredths < 0 || hundredths > 99)
        return -1;
    return hours * 360000 + minutes * 6000 + seconds * 100 + hundredths + 1;
}

int SplitTime(LONG time, TimeParts& out) {
    out = {};
    if (time < 1 || time > kMaxStandardTime) return -1;
    LONG t = time - 1;
    out.hundredths = t % 100;
    t /= 100;
    out.seconds = t % 60;
    t /= 60;
    out.minutes = t % 60;
    out.hours = t / 60;
    return 0;
}

int CurrentYear() {
    if (int y = g_year_override.load()) return y;
    static const int year = [] {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        return tm.tm_year + 1900;
    }();
    return year;
}

void SetCurrentYearForTesting(int year) {
    g_year_override.store(year);
}

int ExpandTwoDigitYear(int yy) {
    if (yy < 0 || yy >= 100) return yy;
    const int y = CurrentYear();
    const int c = (y % 100) - yy;
    const int r = y - c;
    if (c <= -20) return r - 100;
    if (c > 80) return r + 100;
    return r;
}

LONG Today() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return MakeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

LONG ClockTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    const LONG t = tm.tm_hour * 360000 + tm.tm_min * 6000 + tm.tm_sec * 100 + ts.tv_nsec / 10'000'000;
    return t + 1;
}

// --- packed record fields ---

LONG DATE::ToStandard() const {
    if (Value() >= 655'360'000u) return MaxStandardDate();
    if (IsZero()) return 0;
    // A packed year below 100 is a real year, not a two-digit one: no window here.
    if (year < 1800) return 0;
    return MakeDate(year, month, day);
}

DATE DATE::FromStandard(LONG day_number) {
    YearMonthDay ymd;
    if (SplitDate(day_number, ymd) != 0) return DATE{};
    return DATE{BYTE(ymd.day), BYTE(ymd.month), USHORT(ymd.year)};
}

LONG TIME::ToStandard() const {
    return MakeTime(hours, minutes, seconds, hundredths);
}

TIME TIME::FromStandard(LONG t) {
    TimeParts p;
    if (SplitTime(t, p) != 0) return TIME{};
    return TIME{BYTE(p.hundredths), BYTE(p.seconds), BYTE(p.minutes), BYTE(p.hours)};
}

}  // namespace dt
