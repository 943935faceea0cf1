// Date and time texts by pattern, with default and injected name tables.
#include <gtest/gtest.h>

#include "foundation/DateFormatting.h"
#include "foundation/LocaleSetup.h"

using namespace foundation;

namespace {
TSystemTime Date(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0, int ms = 0) {
  TSystemTime t;
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(m);
  t.day = static_cast<uint16_t>(d);
  t.hour = static_cast<uint16_t>(hh);
  t.minute = static_cast<uint16_t>(mm);
  t.second = static_cast<uint16_t>(ss);
  t.milliseconds = static_cast<uint16_t>(ms);
  t.dayOfWeek = 6;  // ignored: the formatter computes its own
  return t;
}
}  // namespace

TEST(FormatDate, Patterns) {
  ResetDateFormatting();
  struct Case {
    TSystemTime time;
    const char16_t* pattern;
    const char16_t* expected;
  } cases[] = {
      {Date(2026, 3, 5), u"DD.MM.YYYY", u"05.03.2026"},
      {Date(2026, 3, 5), u"", u"05.03.2026"},
      {Date(2026, 3, 5), u"D.M.YY", u"5.3.26"},
      {Date(2026, 12, 25), u"D", u"25"},
      {Date(2026, 12, 25), u"M/D", u"12/25"},
      {Date(2024, 1, 1), u"DDD", u"Mon"},
      {Date(2024, 1, 1), u"dddd, d mmm yyyy", u"Monday, 1 Jan 2024"},
      {Date(2026, 3, 9), u"DDDDD", u"00009"},
      {Date(2026, 3, 9), u"YYYYY", u"02026"},
      {Date(2026, 3, 9), u"MMMM YYYY", u"March 2026"},
      {Date(2026, 3, 9), u"D MMMM YYYY", u"9 March 2026"},
      {Date(2026, 13, 9), u"MMM", u"013"},
      {Date(2026, 3, 9), u"'D'D", u"99"},
      {Date(2026, 3, 9), u"\u00C4D", u"\u00C49"},
      {Date(2026, 3, 9), u"x-Y", u"x-6"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatDate(c.time, c.pattern), c.expected) << std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern)).c_str();
}

TEST(FormatTime, Flags) {
  const TSystemTime t = Date(2026, 12, 9, 1, 43, 27, 123);
  struct Case {
    int flags;
    const char16_t* expected;
  } cases[] = {{15, u"01:43:27.123"}, {6, u"43:27"}, {8, u"123"}, {0, u""}, {12, u"27.123"}, {7, u"01:43:27"}};
  for (const Case& c : cases) EXPECT_EQ(FormatTime(t, c.flags), c.expected) << c.flags;
  EXPECT_EQ(FormatSystemTime(t, u"DD.MM.YYYY", 7), u"09.12.2026 01:43:27");
}

TEST(Calendar, DayNumbersAndWeekdays) {
  EXPECT_EQ(DateToDayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayOfWeekOf(Date(1, 1, 1)), 1) << "a Monday";
  EXPECT_EQ(DayOfWeekOf(Date(2024, 2, 29)), 4);
  EXPECT_EQ(DayOfWeekOf(Date(2026, 12, 10)), 4);
  EXPECT_EQ(DateToDayNumber(2024, 3, 1) - DateToDayNumber(2024, 2, 28), 2);
  EXPECT_EQ(DateToDayNumber(2023, 3, 1) - DateToDayNumber(2023, 2, 28), 1);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(2026));
  // A month beyond the table does not read past it.
  EXPECT_EQ(DateToDayNumber(2026, 40, 1), DateToDayNumber(2026, 13, 1));
}

TEST(LocaleSetup, InjectedCyrillicNamesTakeTheGenitiveInsideAPattern) {
  platform::os::LocaleDateNames names;
  names.longMonths[0] = "\xD0\xAF\xD0\xBD\xD0\xB2\xD0\xB0\xD1\x80\xD1\x8C";  // Январь
  names.longMonths[2] = "\xD0\x9C\xD0\xB0\xD1\x80\xD1\x82";                  // Март
  names.longMonths[4] = "\xD0\x9C\xD0\xB0\xD0\xB9";                          // Май
  names.shortDays[1] = "\xD0\x9F\xD0\xBD";                                   // Пн
  SetupLocaleNames(names);
  EXPECT_EQ(LongMonthNames[1], u"February") << "an empty locale entry keeps the default";
  EXPECT_EQ(FormatDate(Date(2026, 1, 9), u"MMMM YYYY"), u"\u042F\u043D\u0432\u0430\u0440\u044C 2026");
  EXPECT_EQ(FormatDate(Date(2026, 1, 9), u"D MMMM YYYY"), u"9 \u044F\u043D\u0432\u0430\u0440\u044F 2026");
  EXPECT_EQ(FormatDate(Date(2026, 3, 9), u"D MMMM"), u"9 \u043C\u0430\u0440\u0442\u0430");
  EXPECT_EQ(FormatDate(Date(2026, 5, 9), u"D MMMM"), u"9 \u043C\u0430\u044F");
  EXPECT_EQ(FormatDate(Date(2024, 1, 1), u"DDD"), u"\u041F\u043D");
  EXPECT_EQ(MonthGenitive(u"August"), u"August");
  ResetDateFormatting();
  EXPECT_EQ(LongMonthNames[0], u"January");
}
