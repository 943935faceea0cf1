#include "foundation/DateFormatting.h"

namespace foundation {

std::u16string ShortMonthNames[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                      u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
std::u16string LongMonthNames[12] = {u"January", u"February", u"March",     u"April",
                                     u"May",     u"June",     u"July",      u"August",
                                     u"September", u"October", u"November", u"December"};
std::u16string ShortDayNames[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
std::u16string LongDayNames[7] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday",
                                  u"Thursday", u"Friday", u"Saturday"};
int32_t DefaultTimeFlags = 15;
char16_t TimePadChar = u'0';
char16_t TimeSeparator = u':';
char16_t MillisecondSeparator = u'.';

namespace {

const char16_t* const kShortMonths[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                          u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kLongMonths[12] = {u"January", u"February", u"March",     u"April",
                                         u"May",     u"June",     u"July",      u"August",
                                         u"September", u"October", u"November", u"December"};
const char16_t* const kShortDays[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char16_t* const kLongDays[7] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday",
                                      u"Thursday", u"Friday", u"Saturday"};
const int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

std::u16string Digits(int64_t value) {
  std::string s = std::to_string(value < 0 ? -value : value);
  return std::u16string(s.begin(), s.end());
}

// The value's last n decimal digits, left-padded with '0'.
std::u16string LastDigits(int64_t value, size_t n) {
  std::u16string d = Digits(value);
  if (d.size() >= n) return d.substr(d.size() - n);
  return std::u16string(n - d.size(), u'0') + d;
}

std::u16string Padded(int value, size_t width) {
  std::u16string d = Digits(value);
  if (d.size() < width) d.insert(0, width - d.size(), TimePadChar);
  return d;
}

size_t RunLength(const std::u16string& s, size_t i, char16_t upper) {
  size_t n = 0;
  while (i + n < s.size() && (s[i + n] == upper || s[i + n] == upper + 32)) ++n;
  return n;
}

}  // namespace

void ResetDateFormatting() {
  for (int i = 0; i < 12; ++i) {
    ShortMonthNames[i] = kShortMonths[i];
    LongMonthNames[i] = kLongMonths[i];
  }
  for (int i = 0; i < 7; ++i) {
    ShortDayNames[i] = kShortDays[i];
    LongDayNames[i] = kLongDays[i];
  }
  DefaultTimeFlags = 15;
  TimePadChar = u'0';
  TimeSeparator = u':';
  MillisecondSeparator = u'.';
}

bool IsLeapYear(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t DateToDayNumber(int32_t year, int32_t month, int32_t day) {
  const int32_t y = year - 1;
  int32_t dayOfYear = day;
  // A month outside 1-12 counts the months that exist, never past the table.
  for (int32_t m = 1; m < month && m <= 12; ++m)
    dayOfYear += kDaysPerMonth[m - 1] + ((m == 2 && IsLeapYear(year)) ? 1 : 0);
  return y * 365 + y / 4 - y / 100 + y / 400 + dayOfYear;
}

int32_t DayOfWeekOf(const TSystemTime& time) {
  int32_t n = DateToDayNumber(time.year, time.month, time.day) % 7;
  return n < 0 ? n + 7 : n;
}

std::u16string MonthGenitive(std::u16string name) {
  if (name.empty()) return name;
  char16_t& last = name.back();
  if (last == u'\u0439' || last == u'\u044C')
    last = u'\u044F';
  else if (last == u'\u0442')
    name += u'\u0430';
  if (name[0] >= u'\u0410' && name[0] <= u'\u042F') name[0] = static_cast<char16_t>(name[0] + 32);
  return name;
}

std::u16string FormatDate(const TSystemTime& time, const std::u16string& pattern) {
  std::u16string r = pattern.empty() ? std::u16string(u"DD.MM.YYYY") : pattern;
  size_t i = 0;
  while (i < r.size()) {
    const char16_t c = r[i];
    if (c > 127) {
      ++i;
    } else if (c == u'\'') {
      r.erase(i, 1);
    } else if (c == u'D' || c == u'd' || c == u'M' || c == u'm') {
      const bool isDay = c == u'D' || c == u'd';
      const size_t n = RunLength(r, i, isDay ? u'D' : u'M');
      const int value = isDay ? time.day : time.month;
      std::u16string text;
      if (n == 1) {
        text = Digits(value);
        if (text.size() > 2) text = text.substr(text.size() - 2);
      } else if ((n == 3 || n == 4) && isDay) {
        const int dow = DayOfWeekOf(time);
        text = n == 3 ? ShortDayNames[dow] : LongDayNames[dow];
      } else if ((n == 3 || n == 4) && value >= 1 && value <= 12) {
        if (n == 3) {
          text = ShortMonthNames[value - 1];
        } else {
          text = LongMonthNames[value - 1];
          if (i > 0) text = MonthGenitive(text);
        }
      } else {
        text = LastDigits(value, n);
      }
      r.replace(i, n, text);
      i += text.size();
    } else if (c == u'Y' || c == u'y') {
      const size_t n = RunLength(r, i, u'Y');
      std::u16string text = LastDigits(time.year, n);
      r.replace(i, n, text);
      i += text.size();
    } else {
      ++i;
    }
  }
  return r;
}

std::u16string FormatTime(const TSystemTime& time, int32_t flags) {
  std::u16string r;
  bool first = true;
  auto part = [&](bool on, int value, size_t width, char16_t separator) {
    if (!on) return;
    if (!first) r += separator;
    r += Padded(value, width);
    first = false;
  };
  part(flags & 1, time.hour, 2, TimeSeparator);
  part(flags & 2, time.minute, 2, TimeSeparator);
  part(flags & 4, time.second, 2, TimeSeparator);
  part(flags & 8, time.milliseconds, 3, MillisecondSeparator);
  return r;
}

std::u16string FormatSystemTime(const TSystemTime& time, const std::u16string& pattern, int32_t flags) {
  return FormatDate(time, pattern) + u" " + FormatTime(time, flags);
}

}  // namespace foundation
