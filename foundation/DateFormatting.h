// Calendar dates and times as text, by a pattern such as "DD.MM.YYYY", with
// month and weekday names that the locale set-up may replace at start-up.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/TickClock.h"

namespace foundation {

// The name tables: months January first, days Sunday first. Written only at
// start-up, read-only afterwards.
extern std::u16string ShortMonthNames[12];
extern std::u16string LongMonthNames[12];
extern std::u16string ShortDayNames[7];
extern std::u16string LongDayNames[7];

// Time-format settings.
extern int32_t DefaultTimeFlags;       // 15: hours, minutes, seconds, milliseconds
extern char16_t TimePadChar;           // '0'
extern char16_t TimeSeparator;         // ':' before minutes and seconds
extern char16_t MillisecondSeparator;  // '.' before milliseconds

// Restores the built-in English tables and settings.
void ResetDateFormatting();

// D, M and Y runs replaced by day, month and year (3 and 4 letters: short
// and long names); apostrophes are dropped; an empty pattern is "DD.MM.YYYY".
std::u16string FormatDate(const TSystemTime& time, const std::u16string& pattern);
// Flags: 1 hours, 2 minutes, 4 seconds, 8 milliseconds.
std::u16string FormatTime(const TSystemTime& time, int32_t flags);
std::u16string FormatSystemTime(const TSystemTime& time, const std::u16string& pattern, int32_t flags);

bool IsLeapYear(int32_t year);
// 1 January of year 1 is day 1.
int32_t DateToDayNumber(int32_t year, int32_t month, int32_t day);
// 0 Sunday .. 6 Saturday.
int32_t DayOfWeekOf(const TSystemTime& time);

// The genitive form of a long month name (serves Russian names).
std::u16string MonthGenitive(std::u16string name);

}  // namespace foundation
