// Standard dates and times: the integers through which the system computes with dates
// (day number; 1 January 1801 is day 4, 0 is no date) and times (hundredths of a second
// since midnight plus one; 0 is no time). Gregorian calendar throughout.
#pragma once

#include "runtime/types.h"

namespace dt {

struct YearMonthDay {
    int year = 0, month = 0, day = 0;
};
struct TimeParts {
    int hours = 0, minutes = 0, seconds = 0, hundredths = 0;
};

constexpr LONG kMaxStandardTime = 8'640'000;  // 23:59:59.99

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);  // 0 for a month outside 1 .. 12

// Day number of a calendar date. A year below 100 goes through the two-digit window.
// (Day 4 being 1 January 1801, day 1 is 29 December 1800.)
// Returns 0 for a combination that is no date in the range 29 Dec 1800 .. 31 Dec 9999.
LONG MakeDate(int year, int month, int day);
// Largest valid day number (31 December 9999).
LONG MaxStandardDate();
// Splits a day number; returns -1 and all zero parts when it is no valid date, else 0.
int SplitDate(LONG date, YearMonthDay& out);

// Standard time from its parts: all zero gives 0; a part out of range gives -1.
LONG MakeTime(int hours, int minutes, int seconds, int hundredths);
// Splits a standard time; a value outside 1 .. 8,640,000 gives zero parts and -1.
int SplitTime(LONG time, TimeParts& out);

// Places a year below 100 in the window from 80 years before to 19 after the current year.
int ExpandTwoDigitYear(int yy);
// The current year used by the window: read from the clock once and cached.
int CurrentYear();
// For tests: fixes the year the window is computed around (0 returns to the clock).
void SetCurrentYearForTesting(int year);

// Local date and time of the clock now.
LONG Today();
LONG ClockTime();

}  // namespace dt
