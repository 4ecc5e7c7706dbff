// Packed dates, date-time stamps and the text forms of dates and times.
//
// A packed date is (year - 1980) * 512 + month * 32 + day: bits 9-15 the years since 1980,
// bits 5-8 the month, bits 0-4 the day. Records, classes and students store it in 16 bits; the
// functions here take and return it as an int, so that arithmetic on it never wraps silently.
// A date-time stamp is the 32-bit value
//   (year - 2000) << 26 | month << 22 | day << 17 | hour << 12 | minute << 6 | second.
//
// February's length lives in the module state: CheckForLeapYear() sets it for a year, and every
// function that needs a month length sets it first for the year it is looking at. A year is a
// leap year when it is divisible by 4 (true for every year the packed form can hold in practice).
//
// "Today" and "now" come from platform::Now(), so a test clock fixes them. Texts are returned by
// value; numbers that come with a success flag are written to int& out-parameters.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace nuvel::text {

/// The module's state: the month lengths (February follows the last CheckForLeapYear) and the
/// three-letter month names, both indexed 1 to 12 (index 0 is unused).
struct DatesState {
  std::array<int, 13> daysPerMonth = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  std::array<std::string, 13> month = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

  void reset() { *this = DatesState{}; }
};

DatesState& Dates();

/// 1 January 2040: "never" in expiry fields.
inline constexpr int kDateNever = 30753;
/// Packed dates below this value mean "no date".
inline constexpr int kDateNoneBelow = 10001;
/// The name of the text form Get_Date_Num reads and Get_Date_String writes, shown to users.
inline constexpr const char* kDateFormatName = "DD-MMM-YYYY";

// --- Packing and day counts ----------------------------------------------------------------

/// The packed date of a day; `years_since_1980` is the full year minus 1980.
int GetDateValueFromYearMonthDay(int years_since_1980, int month, int day);

/// Sets February's length in Dates() to 29 when `year` is divisible by 4, else 28. The year may
/// be a full year or the years since 1980: the test gives the same answer for both.
void CheckForLeapYear(int year);

/// The number of leap years from 1980 up to, but not including, 1980 + `years_since_1980`.
int GetLeapYearsSinceStartYear(int years_since_1980);

/// Unpacks `date` into day, month and years since 1980, and returns its day number:
/// 1 for 1 January 1980, counting up one per calendar day. A month field above 12 counts the
/// whole year before the day.
int GetDayMonthYear(int date, int& day, int& month, int& years);

/// The days from packed date `from` to packed date `to` (negative when `to` is earlier).
int CalculateDaysElapsed(int from, int to);

/// Counts the days from the first date to the second one day at a time (years as full years or
/// as years since 1980, the same for both). 0 when equal; -1 when the first date is after the
/// second or a month is outside 1 to 12.
int DaysElapsed(int d1, int m1, int y1, int d2, int m2, int y2);

/// DaysElapsed on two packed dates: -1 when `a` is after `b`, 0 when they are equal.
int DaysElapsed2(int a, int b);

/// A rough ordering number: years since 1980 * 365 + month * 31 + day.
int Get_Days(int date);

/// 1 when `year` (a full year) is 1981 to 2099, `month` 1 to 12 and `day` 1 to the month's
/// length in that year; otherwise 0.
int IsDateValid(int year, int month, int day);

// --- Text forms of dates -------------------------------------------------------------------

/// Reads a date in the form "DD-MMM-YYYY" (the month matched on its first three letters in any
/// case; the year 1981 to 2099; the day valid for the month) or "YYYY-MM-DD"; blanks anywhere
/// are ignored. On success stores the packed date in `date_out` and returns 1; an unreadable
/// text returns 0 and leaves `date_out` unchanged.
int Get_Date_Num(int& date_out, std::string_view text);

/// "DD-Mmm-YYYY" of a packed date. A value outside 33 to 30,111, or a month field outside 1 to 12,
/// is shown as "01-Jan-1980"; a day of 0 is shown as 01.
std::string Get_Date_String(int date);

/// "DD-MMM-YYYY" shortened to "DD-MMM-YY"; any other text is returned unchanged.
std::string ShortenDate(std::string_view text);

/// Today's packed date from the local clock; 0 when the clock's year is outside 1981 to 2099.
int GetTodays_Date_Num();

// --- Date arithmetic -----------------------------------------------------------------------

/// Moves a packed date by a period: 1,000 to 1,999 adds (period - 1,000) months, keeping the day
/// as it is (so 31 January plus one month is the packed value of 31 February); 2,000 to 2,999 adds
/// (period - 2,000) days with the real month lengths; the negatives of those subtract. Any other
/// period leaves the date unchanged. A date of 0 logs "date=0" (level 1) and gives 0; a result
/// before 1980 or beyond the packed range (year 2107) gives 0.
int IncrementDateByPeriod(int date, int period);

/// Adds `n` months (negative: subtracts). A day above 30 that lands in April, June, September or
/// November, or a day of 29 or more that lands in February, becomes the 1st of the next month.
/// A result before 1980 or beyond the packed range gives 0.
int AddMonths(int date, int n);

/// Adds `x` to the packed value, then adds 1 until the value is a valid date (at most 100 times;
/// the last value tried is returned when none was valid).
int GetNextValidDate_after_X_Days(int date, int x);

/// The weekday of a packed date, 0 (Sunday) to 6 (Saturday); -1 for an invalid date. The weekday
/// is computed from the day number rather than read from a per-year table, so it serves every
/// date IsDateValid accepts (1981 to 2099), which includes the years 2006 to 2029.
int GetDayOfTheWeek(int date);

/// The number of days from 1 January to today, both included, leaving out Sundays and, when
/// `kind` is 0, Saturdays too.
int GetDayOfTheYear(int kind);

// --- Today and now as text; date-time stamps -------------------------------------------------

/// Today as "YYYY-MM-DD".
std::string DDateString();
/// Now as "HH:MM".
std::string DTimeString();
/// Now as "HH:MM:SS".
std::string DTimeString_Secs();
/// Now as "YYYY-MM-DD+HH:MM:SS" (19 characters).
std::string GetCurrentDateTimeStampString();
/// Now as a date-time stamp.
std::uint32_t GetCurrentDateTimeStampNum();

/// "YYYY-MM-DD+HH:MM:SS" of a date-time stamp.
std::string Get_DateTime_String(std::uint32_t stamp);

/// Reads "YYYY-MM-DD+HH:MM:SS" (surrounding blanks ignored) into a date-time stamp. 0 when the
/// text has another form or a field is out of range (year 2000 to 2063, month 1 to 12, day 1 to
/// 31, hour 0 to 23, minute and second 0 to 59).
std::uint32_t Get_DateTime_Long(std::string_view text);

// --- Durations and times of day --------------------------------------------------------------

/// `prefix` followed by "HH:MM" of a number of minutes, or "H,HHH:MM" once the hours reach 1,000.
/// Negative minutes count as 0; 0 gives "" unless `show_zero` is set.
std::string HHMM(long minutes, std::string_view prefix = "", bool show_zero = true);

/// The minutes of an "HH:MM" text (hours may exceed 23); 0 unless the text is five characters,
/// ":" at the third and digits elsewhere.
long HHMM_to_minutes(std::string_view text);

/// "H:MM:SS" from one hour up, else "MM:SS". Negative values count as 0.
std::string SecondsToTime(long seconds);

/// The minutes from one "HH:MM" time of day to another. A part that is not two digits or is out
/// of range (hour above 23, minute above 59) counts as 0. A `to` hour earlier than the `from` hour
/// is taken as the next day; within the same hour an earlier minute gives a negative result.
int CalculateMinutesElapsed(std::string_view from, std::string_view to);

/// As CalculateMinutesElapsed, in seconds, on "HH:MM:SS" times of day.
int CalculateSecondsElapsed(std::string_view from, std::string_view to);

/// The days between the dates of two date-time stamps (negative when `stamp2` is earlier). When
/// that is below 2, `minutes` and `seconds` are the whole time from `stamp1` to `stamp2`;
/// otherwise they are 1,440 and 86,400.
void TimeStampDayMinSec_elapsed(std::uint32_t stamp1, std::uint32_t stamp2, int& days, int& minutes,
                                int& seconds);

/// For a packed date from 18,801 to 21,999: reads `text` as a UTC time "D Month YYYY HH:MM:SS"
/// (the month's English name in full or in three letters, any case; anything after the time is
/// ignored) and replaces `date` by the local date of that moment when the two differ. An
/// unreadable text, or a date outside that range, leaves `date` unchanged.
void Offset_UTCDateToLocalDate(std::string_view text, int& date);

// --- Waiting and measuring time --------------------------------------------------------------

/// Waits `hundredths` of a second in steps of at most 10 ms, running the UI's queued events after
/// every step.
void Delay_Time(int hundredths);

/// The current time in seconds as a floating value, for measuring elapsed time.
double timer();

/// The seconds from broken-down time `b` to broken-down time `a` (a - b), both read as calendar
/// times in the same zone (year, month, day, hour, minute, second; other fields ignored).
long long diff_tm(const std::tm& a, const std::tm& b);

/// Where the module writes its log lines (a date of 0 given to IncrementDateByPeriod). The
/// base layer's log connects itself here when it is first used; until then the lines go
/// nowhere.
using LogSink = void (*)(int level, const char* line);
void SetLogSink(LogSink sink);

}  // namespace nuvel::text
