#include "text/dates.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/events.h"
#include "platform/run_reset.h"

namespace nuvel::text {
namespace {

// The packed form keeps the years since 1980 in 7 bits.
constexpr int kMaxPackedYears = 127;

struct Unpacked {
  int years;  // since 1980
  int month;
  int day;
};

// Not run state: the log connects it once, on its first use (base::Log).
LogSink& LogSinkSlot() {
  static LogSink sink = nullptr;
  return sink;
}

Unpacked Unpack(int date) { return {date >> 9, (date >> 5) & 15, date & 31}; }

// The packed date, or 0 when the year cannot be held in the packed form.
int PackOrZero(int years, int month, int day) {
  if (years < 0 || years > kMaxPackedYears) return 0;
  return GetDateValueFromYearMonthDay(years, month, day);
}

// The length of `month` (1 to 12) in `year`; sets February in the module state on the way.
int MonthLength(int year, int month) {
  CheckForLeapYear(year);
  return Dates().daysPerMonth[month];
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (size > 0) {
    out.resize(static_cast<std::size_t>(size) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(size));
  }
  va_end(again);
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads exactly `count` digits of `text` at `pos`; false when any of them is not a digit.
bool FixedDigits(std::string_view text, std::size_t pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// Reads 1 to `max_digits` digits at `pos` and moves `pos` past them.
bool LeadingNumber(std::string_view text, std::size_t& pos, std::size_t max_digits, int& value) {
  std::size_t count = 0;
  value = 0;
  while (pos < text.size() && count < max_digits && IsDigit(text[pos])) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  return count > 0;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

void SkipBlanks(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The month (1 to 12) whose three-letter name matches the first three letters of `word` in any
// case; 0 when none does.
int MonthFromAbbreviation(std::string_view word) {
  if (word.size() < 3) return 0;
  std::string key(word.substr(0, 3));
  key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
  for (std::size_t i = 1; i < 3; ++i) {
    key[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[i])));
  }
  for (int m = 1; m <= 12; ++m) {
    if (Dates().month[m] == key) return m;
  }
  return 0;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The month (1 to 12) named by `word`: the full English name or its first three letters, in any
// case; 0 when it names none.
int MonthFromEnglishName(std::string_view word) {
  static constexpr std::string_view kNames[] = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  for (int m = 1; m <= 12; ++m) {
    const std::string_view name = kNames[m - 1];
    if (EqualsIgnoringCase(word, name) || EqualsIgnoringCase(word, name.substr(0, 3))) return m;
  }
  return 0;
}

// "YYYY-MM-DD" rewritten as "DD-Mmm-YYYY"; empty when `text` is not in that form.
std::string YearMonthDayToDayMonthYear(std::string_view text) {
  int year = 0;
  int month = 0;
  int day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !FixedDigits(text, 0, 4, year) ||
      !FixedDigits(text, 5, 2, month) || !FixedDigits(text, 8, 2, day) || month < 1 || month > 12) {
    return {};
  }
  return Format("%02d-%s-%04d", day, Dates().month[month].c_str(), year);
}

int IsPackedDateValid(int date) {
  if (date < 0) return 0;
  const Unpacked d = Unpack(date);
  return IsDateValid(d.years + 1980, d.month, d.day);
}

// 0 (Sunday) to 6 of a day at or after 1 January 1980, which was a Tuesday.
int WeekdayOf(int date) {
  int day = 0;
  int month = 0;
  int years = 0;
  return (GetDayMonthYear(date, day, month, years) + 1) % 7;
}

// Two digits at `pos` as a number up to `max`; 0 when they are missing, not digits or too large.
int TimePart(std::string_view text, std::size_t pos, int max) {
  int value = 0;
  if (!FixedDigits(text, pos, 2, value) || value > max) return 0;
  return value;
}

struct StampFields {
  int year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

StampFields SplitStamp(std::uint32_t stamp) {
  return {static_cast<int>(stamp >> 26) + 2000, static_cast<int>((stamp >> 22) & 15),
          static_cast<int>((stamp >> 17) & 31), static_cast<int>((stamp >> 12) & 31),
          static_cast<int>((stamp >> 6) & 63),  static_cast<int>(stamp & 63)};
}

int StampDayNumber(const StampFields& f) {
  int day = 0;
  int month = 0;
  int years = 0;
  return GetDayMonthYear(GetDateValueFromYearMonthDay(f.year - 1980, f.month, f.day), day, month,
                         years);
}

// Reads "D Month YYYY HH:MM:SS" with blanks allowed before each field, as an HTTP date's tail
// is written; anything after the seconds is ignored.
bool ReadUtcText(std::string_view text, platform::LocalTime& utc) {
  std::size_t pos = 0;
  SkipBlanks(text, pos);
  if (!LeadingNumber(text, pos, 2, utc.day)) return false;
  SkipBlanks(text, pos);
  const std::size_t word_start = pos;
  while (pos < text.size() && IsAlpha(text[pos])) ++pos;
  utc.month = MonthFromEnglishName(text.substr(word_start, pos - word_start));
  if (utc.month == 0) return false;
  SkipBlanks(text, pos);
  if (!LeadingNumber(text, pos, 4, utc.year)) return false;
  SkipBlanks(text, pos);
  if (!LeadingNumber(text, pos, 2, utc.hour) || !Expect(text, pos, ':') ||
      !LeadingNumber(text, pos, 2, utc.minute) || !Expect(text, pos, ':') ||
      !LeadingNumber(text, pos, 2, utc.second)) {
    return false;
  }
  return utc.day >= 1 && utc.day <= MonthLength(utc.year, utc.month) && utc.hour <= 23 &&
         utc.minute <= 59 && utc.second <= 60;
}

// Days from 1 January 1970 to a day of the proleptic Gregorian calendar.
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long year_of_era = year - era * 400;
  const long long day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

long long SecondsOf(const std::tm& t) {
  // Months outside 0 to 11 carry into the year, as they do for mktime.
  long long year = 1900LL + t.tm_year + t.tm_mon / 12;
  int month = t.tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  const long long days = DaysFromCivil(year, month + 1, 1) + t.tm_mday - 1;
  return days * 86400 + t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}

std::string DateText(const platform::LocalTime& t) {
  return Format("%04d-%02d-%02d", t.year, t.month, t.day);
}

std::string TimeWithSecondsText(const platform::LocalTime& t) {
  return Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
}

}  // namespace

DatesState& Dates() {
  static DatesState state;
  [[maybe_unused]] static const bool registered =
      platform::RegisterRunState("text::Dates", [] { state.reset(); });
  return state;
}

int GetDateValueFromYearMonthDay(int years_since_1980, int month, int day) {
  return years_since_1980 * 512 + month * 32 + day;
}

void CheckForLeapYear(int year) { Dates().daysPerMonth[2] = year % 4 == 0 ? 29 : 28; }

int GetLeapYearsSinceStartYear(int years_since_1980) {
  return years_since_1980 / 4 + (years_since_1980 % 4 == 0 ? 0 : 1);
}

int GetDayMonthYear(int date, int& day, int& month, int& years) {
  const Unpacked d = Unpack(date);
  day = d.day;
  month = d.month;
  years = d.years;
  int number = years * 365 + GetLeapYearsSinceStartYear(years) + day;
  const int full_months = std::min(month - 1, 12);
  for (int m = 1; m <= full_months; ++m) number += MonthLength(years, m);
  return number;
}

int CalculateDaysElapsed(int from, int to) {
  int day = 0;
  int month = 0;
  int years = 0;
  const int start = GetDayMonthYear(from, day, month, years);
  return GetDayMonthYear(to, day, month, years) - start;
}

int DaysElapsed(int d1, int m1, int y1, int d2, int m2, int y2) {
  if (m1 < 1 || m1 > 12 || m2 < 1 || m2 > 12) return -1;
  auto before_end = [&] { return y1 != y2 ? y1 < y2 : m1 != m2 ? m1 < m2 : d1 < d2; };
  if (!before_end() && (y1 != y2 || m1 != m2 || d1 != d2)) return -1;
  int count = 0;
  while (before_end()) {
    if (++d1 > MonthLength(y1, m1)) {
      d1 = 1;
      if (++m1 > 12) {
        m1 = 1;
        ++y1;
      }
    }
    ++count;
  }
  return count;
}

int DaysElapsed2(int a, int b) {
  if (a > b) return -1;
  if (a == b) return 0;
  const Unpacked from = Unpack(a);
  const Unpacked to = Unpack(b);
  return DaysElapsed(from.day, from.month, from.years, to.day, to.month, to.years);
}

int Get_Days(int date) {
  const Unpacked d = Unpack(date);
  return d.years * 365 + d.month * 31 + d.day;
}

int IsDateValid(int year, int month, int day) {
  if (year < 1981 || year > 2099 || month < 1 || month > 12) return 0;
  return day >= 1 && day <= MonthLength(year, month) ? 1 : 0;
}

int Get_Date_Num(int& date_out, std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!IsBlank(c)) compact += c;
  }
  if (std::string rewritten = YearMonthDayToDayMonthYear(compact); !rewritten.empty()) {
    compact = std::move(rewritten);
  }

  const std::string_view s = compact;
  std::size_t pos = 0;
  int day = 0;
  if (!LeadingNumber(s, pos, 2, day) || !Expect(s, pos, '-')) return 0;
  const std::size_t word_start = pos;
  while (pos < s.size() && IsAlpha(s[pos])) ++pos;
  const int month = MonthFromAbbreviation(s.substr(word_start, pos - word_start));
  int year = 0;
  if (month == 0 || !Expect(s, pos, '-') || !FixedDigits(s, pos, 4, year) || pos + 4 != s.size()) {
    return 0;
  }
  if (!IsDateValid(year, month, day)) return 0;
  date_out = GetDateValueFromYearMonthDay(year - 1980, month, day);
  return 1;
}

std::string Get_Date_String(int date) {
  Unpacked d = Unpack(date);
  if (date < 33 || date > 30111 || d.month < 1 || d.month > 12) d = {0, 1, 1};
  if (d.day == 0) d.day = 1;
  return Format("%02d-%s-%4d", d.day, Dates().month[d.month].c_str(), d.years + 1980);
}

std::string ShortenDate(std::string_view text) {
  int year = 0;
  if (text.size() != 11 || text[2] != '-' || text[6] != '-' || !FixedDigits(text, 7, 4, year)) {
    return std::string(text);
  }
  return std::string(text.substr(0, 7)) + std::string(text.substr(9));
}

int GetTodays_Date_Num() {
  int date = 0;
  Get_Date_Num(date, DDateString());
  return date;
}

int IncrementDateByPeriod(int date, int period) {
  if (date == 0) {
    if (LogSink sink = LogSinkSlot()) sink(1, "date=0");
    return 0;
  }
  const bool subtract = period < 0;
  const int size = std::abs(period);
  const bool months = size >= 1000 && size <= 1999;
  const bool days = size >= 2000 && size <= 2999;
  if (!months && !days) return date;

  const Unpacked d = Unpack(date);
  // Count in months from January 1980 so that a month field of 0 or above 12 carries as well.
  int month_count = d.years * 12 + d.month - 1;
  if (months) month_count += subtract ? -(size - 1000) : size - 1000;
  if (month_count < 0) return 0;
  int years = month_count / 12;
  int month = month_count % 12 + 1;
  int day = d.day;

  if (days && size != 2000) {
    day += subtract ? -(size - 2000) : size - 2000;
    while (day > MonthLength(years, month)) {
      day -= MonthLength(years, month);
      if (++month > 12) {
        month = 1;
        ++years;
      }
    }
    while (day < 1) {
      if (--month < 1) {
        month = 12;
        --years;
      }
      day += MonthLength(years, month);
    }
  }
  return PackOrZero(years, month, day);
}

int AddMonths(int date, int n) {
  const Unpacked d = Unpack(date);
  const int month_count = d.years * 12 + d.month - 1 + n;
  if (month_count < 0) return 0;
  int month = month_count % 12 + 1;
  int day = d.day;
  const bool short_month = month == 4 || month == 6 || month == 9 || month == 11;
  if ((short_month && day > 30) || (month == 2 && day >= 29)) {
    day = 1;
    ++month;  // never past December: the months moved from are April to November
  }
  return PackOrZero(month_count / 12, month, day);
}

int GetNextValidDate_after_X_Days(int date, int x) {
  int value = date + x;
  for (int tries = 0; tries < 100 && !IsPackedDateValid(value); ++tries) ++value;
  return value;
}

int GetDayOfTheWeek(int date) {
  if (!IsPackedDateValid(date)) return -1;
  return WeekdayOf(date);
}

int GetDayOfTheYear(int kind) {
  const platform::LocalTime now = platform::Now();
  const int years = now.year - 1980;
  const int first = GetDateValueFromYearMonthDay(years, 1, 1);
  const int span =
      CalculateDaysElapsed(first, GetDateValueFromYearMonthDay(years, now.month, now.day));
  const int first_weekday = WeekdayOf(first);
  int count = 0;
  for (int i = 0; i <= span; ++i) {
    const int weekday = (first_weekday + i) % 7;
    if (weekday == 0 || (weekday == 6 && kind == 0)) continue;
    ++count;
  }
  return count;
}

std::string DDateString() { return DateText(platform::Now()); }

std::string DTimeString() {
  const platform::LocalTime now = platform::Now();
  return Format("%02d:%02d", now.hour, now.minute);
}

std::string DTimeString_Secs() { return TimeWithSecondsText(platform::Now()); }

std::string GetCurrentDateTimeStampString() {
  // One reading of the clock, so that the date and the time belong together at midnight.
  const platform::LocalTime now = platform::Now();
  std::string stamp = DateText(now) + "+" + TimeWithSecondsText(now) + ":00";
  stamp.resize(std::min<std::size_t>(stamp.size(), 19));
  return stamp;
}

std::uint32_t GetCurrentDateTimeStampNum() {
  return Get_DateTime_Long(GetCurrentDateTimeStampString());
}

std::string Get_DateTime_String(std::uint32_t stamp) {
  const StampFields f = SplitStamp(stamp);
  return Format("%04d-%02d-%02d+%02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
                f.second);
}

std::uint32_t Get_DateTime_Long(std::string_view text) {
  text = TrimBlanks(text);
  StampFields f{};
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != '+' || text[13] != ':' ||
      text[16] != ':' || !FixedDigits(text, 0, 4, f.year) || !FixedDigits(text, 5, 2, f.month) ||
      !FixedDigits(text, 8, 2, f.day) || !FixedDigits(text, 11, 2, f.hour) ||
      !FixedDigits(text, 14, 2, f.minute) || !FixedDigits(text, 17, 2, f.second)) {
    return 0;
  }
  if (f.year < 2000 || f.year > 2063 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 ||
      f.hour > 23 || f.minute > 59 || f.second > 59) {
    return 0;
  }
  return static_cast<std::uint32_t>(f.year - 2000) << 26 |
         static_cast<std::uint32_t>(f.month) << 22 | static_cast<std::uint32_t>(f.day) << 17 |
         static_cast<std::uint32_t>(f.hour) << 12 | static_cast<std::uint32_t>(f.minute) << 6 |
         static_cast<std::uint32_t>(f.second);
}

std::string HHMM(long minutes, std::string_view prefix, bool show_zero) {
  minutes = std::max(minutes, 0L);
  if (minutes == 0 && !show_zero) return {};
  const long hours = minutes / 60;
  const std::string head(prefix);
  if (hours >= 1000) {
    return Format("%s%ld,%03ld:%02ld", head.c_str(), hours / 1000, hours % 1000, minutes % 60);
  }
  return Format("%s%02ld:%02ld", head.c_str(), hours, minutes % 60);
}

long HHMM_to_minutes(std::string_view text) {
  int hours = 0;
  int minutes = 0;
  if (text.size() != 5 || text[2] != ':' || !FixedDigits(text, 0, 2, hours) ||
      !FixedDigits(text, 3, 2, minutes)) {
    return 0;
  }
  return hours * 60L + minutes;
}

std::string SecondsToTime(long seconds) {
  seconds = std::max(seconds, 0L);
  if (seconds >= 3600) {
    return Format("%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return Format("%02ld:%02ld", seconds / 60, seconds % 60);
}

int CalculateMinutesElapsed(std::string_view from, std::string_view to) {
  const int from_hour = TimePart(from, 0, 23);
  int to_hour = TimePart(to, 0, 23);
  if (to_hour < from_hour) to_hour += 24;
  return (to_hour * 60 + TimePart(to, 3, 59)) - (from_hour * 60 + TimePart(from, 3, 59));
}

int CalculateSecondsElapsed(std::string_view from, std::string_view to) {
  const int from_hour = TimePart(from, 0, 23);
  int to_hour = TimePart(to, 0, 23);
  if (to_hour < from_hour) to_hour += 24;
  return (to_hour * 3600 + TimePart(to, 3, 59) * 60 + TimePart(to, 6, 59)) -
         (from_hour * 3600 + TimePart(from, 3, 59) * 60 + TimePart(from, 6, 59));
}

void TimeStampDayMinSec_elapsed(std::uint32_t stamp1, std::uint32_t stamp2, int& days, int& minutes,
                                int& seconds) {
  const StampFields a = SplitStamp(stamp1);
  const StampFields b = SplitStamp(stamp2);
  days = StampDayNumber(b) - StampDayNumber(a);
  if (days >= 2) {
    minutes = 1440;
    seconds = 86400;
    return;
  }
  minutes = days * 1440 + (b.hour * 60 + b.minute) - (a.hour * 60 + a.minute);
  seconds = days * 86400 + (b.hour * 3600 + b.minute * 60 + b.second) -
            (a.hour * 3600 + a.minute * 60 + a.second);
}

void Offset_UTCDateToLocalDate(std::string_view text, int& date) {
  if (date < 18801 || date > 21999) return;
  platform::LocalTime utc;
  platform::LocalTime local;
  if (!ReadUtcText(text, utc) || !platform::UtcToLocal(utc, local)) return;
  const int local_date = PackOrZero(local.year - 1980, local.month, local.day);
  if (local_date != 0 && local_date != date) date = local_date;
}

void Delay_Time(int hundredths) {
  if (hundredths <= 0) return;
  // Sleeping against a deadline keeps the total right however long the event turns take.
  const double deadline = platform::MonotonicSeconds() + hundredths / 100.0;
  for (;;) {
    const double left_ms = (deadline - platform::MonotonicSeconds()) * 1000.0;
    if (left_ms <= 0) break;
    platform::SleepMilliseconds(static_cast<int>(std::min(10.0, std::ceil(left_ms))));
    platform::PumpEvents();
  }
}

double timer() { return platform::MonotonicSeconds(); }

long long diff_tm(const std::tm& a, const std::tm& b) { return SecondsOf(a) - SecondsOf(b); }

void SetLogSink(LogSink sink) { LogSinkSlot() = sink; }

}  // namespace nuvel::text
