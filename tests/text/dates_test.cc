#include "text/dates.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "base/log.h"
#include "platform/clock.h"
#include "platform/events.h"

namespace nuvel::text {
namespace {

int Packed(int year, int month, int day) {
  return GetDateValueFromYearMonthDay(year - 1980, month, day);
}

std::tm Tm(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second, t.tm_isdst = -1;
  return t;
}

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override { Dates().reset(); }
  void TearDown() override {
    platform::SetClockForTesting({});
    Dates().reset();
  }
  static void FixClock(int year, int month, int day, int hour, int minute, int second) {
    platform::SetClockForTesting(
        [=] { return platform::LocalTime{year, month, day, hour, minute, second}; });
  }
};

// Sets TZ for the lifetime of the object and puts the old value back afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(DatesTest, DayNumbersLeapYearsAndValidDates) {
  int day = 0, month = 0, years = 0;
  EXPECT_EQ(GetDayMonthYear(Packed(1980, 1, 1), day, month, years), 1);
  EXPECT_EQ(GetDayMonthYear(Packed(1981, 1, 1), day, month, years), 367) << "1980 had 366 days";
  GetDayMonthYear(Packed(2024, 2, 29), day, month, years);
  EXPECT_EQ(day * 10000 + month * 100 + years, 290244);
  EXPECT_EQ(Get_Days(Packed(1981, 2, 3)), 365 + 2 * 31 + 3) << "years count from 1980";

  CheckForLeapYear(44);  // 2024 as years since 1980
  EXPECT_EQ(Dates().daysPerMonth[2], 29);
  CheckForLeapYear(2023);
  EXPECT_EQ(Dates().daysPerMonth[2], 28);
  // Leap years before the given one: 1980 counts from year 1, 1984 itself only from year 5.
  for (auto [since, leaps] : {std::pair{0, 0}, {1, 1}, {4, 1}, {5, 2}, {44, 11}}) {
    EXPECT_EQ(GetLeapYearsSinceStartYear(since), leaps) << since;
  }
  EXPECT_EQ(IsDateValid(2024, 2, 29), 1);
  for (auto [y, m, d] : {std::tuple{2023, 2, 29}, {2024, 4, 31}, {1980, 6, 1}, {2100, 6, 1},
                         {2024, 13, 1}}) {
    EXPECT_EQ(IsDateValid(y, m, d), 0) << y << "-" << m << "-" << d;
  }
}

TEST_F(DatesTest, DayByDayCountAgreesWithDayNumbers) {
  EXPECT_EQ(DaysElapsed(28, 2, 2024, 1, 3, 2024), 2);
  EXPECT_EQ(DaysElapsed(31, 12, 2023, 1, 1, 2024), 1);
  EXPECT_EQ(DaysElapsed(1, 1, 2024, 31, 12, 2023), -1);
  EXPECT_EQ(DaysElapsed2(Packed(2024, 5, 1), Packed(2024, 4, 30)), -1);
  EXPECT_EQ(CalculateDaysElapsed(Packed(2023, 3, 1), Packed(2024, 3, 1)), 366);
  EXPECT_EQ(CalculateDaysElapsed(Packed(2024, 3, 1), Packed(2024, 2, 28)), -2);

  const int start = Packed(2019, 11, 17);
  for (int period = 2001; period < 2999; period += 37) {
    const int end = IncrementDateByPeriod(start, period);
    EXPECT_EQ(DaysElapsed2(start, end), period - 2000) << Get_Date_String(end);
    EXPECT_EQ(CalculateDaysElapsed(start, end), period - 2000) << Get_Date_String(end);
  }
}

TEST_F(DatesTest, DateTextIsReadInBothFormsAndWrittenBack) {
  int date = 0;
  for (auto [text, expected] : {std::pair{"29-Feb-2024", Packed(2024, 2, 29)},
                                {"2024-03-07", Packed(2024, 3, 7)},
                                {" 5 - mAR - 2024 ", Packed(2024, 3, 5)}}) {
    EXPECT_EQ(Get_Date_Num(date, text), 1) << text;
    EXPECT_EQ(date, expected) << text;
  }
  date = 12345;
  for (const char* bad : {"29-Feb-2023", "2023-02-29", "2024-13-01", "01-Jan-1980", "01-Jan-2100",
                          "01-Foo-2024", "01-Jan-24", "01-Jan-2024x", "Jan-01-2024", ""}) {
    EXPECT_EQ(Get_Date_Num(date, bad), 0) << bad;
    EXPECT_EQ(date, 12345) << "an unreadable date must leave the value unchanged: " << bad;
  }

  // Out-of-range values show as the first of January 1980.
  for (auto [value, text] : {std::pair{0, "01-Jan-1980"}, {32, "01-Jan-1980"},
                             {30112, "01-Jan-1980"}, {30111, "31-Dec-2038"},
                             {Packed(2024, 3, 0), "01-Mar-2024"}, {Packed(2024, 13, 5), "01-Jan-1980"}}) {
    EXPECT_EQ(Get_Date_String(value), text) << value;
  }
  for (int packed : {Packed(1981, 1, 1), Packed(2024, 2, 29), Packed(2038, 12, 31)}) {
    EXPECT_EQ(Get_Date_Num(date, Get_Date_String(packed)), 1);
    EXPECT_EQ(date, packed) << Get_Date_String(packed);
  }
  EXPECT_EQ(ShortenDate("29-Feb-2024"), "29-Feb-24");
  EXPECT_EQ(ShortenDate("2024-02-29"), "2024-02-29");
}

TEST_F(DatesTest, DateArithmeticCarriesOverMonthEndsAndSkipsImpossibleDays) {
  const int jan31 = Packed(2024, 1, 31);
  // Periods: 1000 + months or 2000 + days, negative to go back; other values change nothing.
  const std::tuple<int, int, int> periods[] = {
      {jan31, 1001, 44 * 512 + 2 * 32 + 31},  // 31 February, as packed
      {jan31, -2001, Packed(2024, 1, 30)},
      {Packed(2024, 2, 28), 2002, Packed(2024, 3, 1)},
      {Packed(2024, 3, 1), -2001, Packed(2024, 2, 29)},
      {Packed(2024, 1, 1), -2001, Packed(2023, 12, 31)},
      {Packed(2023, 11, 15), 1003, Packed(2024, 2, 15)},
      {Packed(2024, 2, 15), -1003, Packed(2023, 11, 15)},
      {jan31, 500, jan31},
      {jan31, 3000, jan31},
      {Packed(1980, 1, 1), -2001, 0},
  };
  for (auto [from, period, expected] : periods) {
    EXPECT_EQ(IncrementDateByPeriod(from, period), expected) << from << " + " << period;
  }
  base::Log().reset();
  EXPECT_EQ(IncrementDateByPeriod(0, 1001), 0);
  ASSERT_EQ(base::Log().held.size(), 1u) << "date 0 is logged";
  EXPECT_EQ(base::Log().held[0], (std::pair<int, std::string>{1, "date=0"}));
  base::Log().reset();

  // AddMonths moves impossible days to the next first.
  const std::tuple<int, int, int> months[] = {
      {Packed(2024, 3, 31), 1, Packed(2024, 5, 1)},   {Packed(2024, 3, 30), 1, Packed(2024, 4, 30)},
      {Packed(2024, 1, 29), 1, Packed(2024, 3, 1)},   {Packed(2024, 10, 31), 3, Packed(2025, 1, 31)},
      {Packed(2024, 8, 31), -2, Packed(2024, 7, 1)},  {Packed(2024, 12, 15), -12, Packed(2023, 12, 15)},
  };
  for (auto [from, count, expected] : months) {
    EXPECT_EQ(AddMonths(from, count), expected) << Get_Date_String(from) << " + " << count;
  }
  EXPECT_EQ(GetNextValidDate_after_X_Days(Packed(2023, 2, 28), 1), Packed(2023, 3, 1));
  EXPECT_EQ(GetNextValidDate_after_X_Days(Packed(2024, 2, 28), 1), Packed(2024, 2, 29));
  EXPECT_EQ(GetNextValidDate_after_X_Days(Packed(2024, 5, 9), 0), Packed(2024, 5, 9));
  // 1980 is never valid: the search gives up after 100 steps.
  EXPECT_EQ(GetNextValidDate_after_X_Days(Packed(1980, 1, 1), 0), Packed(1980, 1, 1) + 100);
}

TEST_F(DatesTest, WeekdaysMatchTheCalendar) {
  EXPECT_EQ(GetDayOfTheWeek(Packed(2023, 2, 29)), -1);
  for (int year = 2006; year <= 2029; ++year) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 13, 28}) {
        std::tm noon = Tm(year, month, day, 12);
        std::mktime(&noon);
        ASSERT_EQ(GetDayOfTheWeek(Packed(year, month, day)), noon.tm_wday)
            << year << "-" << month << "-" << day;
      }
    }
  }
}

TEST_F(DatesTest, TodayAndNowComeFromTheClock) {
  FixClock(2024, 1, 5, 9, 0, 0);  // Friday; 1 January 2024 was a Monday
  EXPECT_EQ(GetDayOfTheYear(0), 5);
  FixClock(2024, 1, 7, 9, 0, 0);  // Sunday: weekends are left out
  EXPECT_EQ(GetDayOfTheYear(0), 5);
  EXPECT_EQ(GetDayOfTheYear(1), 6);
  FixClock(2023, 1, 1, 9, 0, 0);  // a Sunday
  EXPECT_EQ(GetDayOfTheYear(1), 0);

  FixClock(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(DDateString() + " " + DTimeString() + " " + DTimeString_Secs(),
            "2024-03-05 07:08 07:08:09");
  EXPECT_EQ(GetTodays_Date_Num(), Packed(2024, 3, 5));
  EXPECT_EQ(GetCurrentDateTimeStampString(), "2024-03-05+07:08:09");
  EXPECT_EQ(Get_DateTime_String(GetCurrentDateTimeStampNum()), "2024-03-05+07:08:09");
}

TEST_F(DatesTest, StampsRoundTripThroughText) {
  const std::uint32_t expected = 31u << 26 | 12u << 22 | 31u << 17 | 23u << 12 | 59u << 6 | 58u;
  EXPECT_EQ(Get_DateTime_Long("2031-12-31+23:59:58"), expected);
  EXPECT_EQ(Get_DateTime_String(expected), "2031-12-31+23:59:58");
  EXPECT_EQ(Get_DateTime_Long(" 2000-01-01+00:00:00 "), 1u << 22 | 1u << 17);
  for (const char* bad : {"2024-03-05 07:08:09", "1999-12-31+23:59:59", "2024-13-05+07:08:09",
                          "2024-03-05+24:00:00", "2024-03-05+07:08", ""}) {
    EXPECT_EQ(Get_DateTime_Long(bad), 0u) << bad;
  }
}

TEST_F(DatesTest, DurationsAsText) {
  EXPECT_EQ(HHMM(0, "", false), "");
  EXPECT_EQ(HHMM(0, "", true), "00:00");
  EXPECT_EQ(HHMM(-5, "", false), "");
  EXPECT_EQ(HHMM(61), "01:01");
  EXPECT_EQ(HHMM(12345 * 60 + 7, "Total "), "Total 12,345:07");
  EXPECT_EQ(HHMM_to_minutes(HHMM(99 * 60 + 59)), 99 * 60 + 59);
  for (const char* bad : {"1:30", "01-30", "01:3x", "001:30", ""}) {
    EXPECT_EQ(HHMM_to_minutes(bad), 0) << bad;
  }
  for (auto [seconds, text] : {std::pair{-5, "00:00"}, {3599, "59:59"}, {3600, "1:00:00"},
                               {90061, "25:01:01"}}) {
    EXPECT_EQ(SecondsToTime(seconds), text) << seconds;
  }
}

TEST_F(DatesTest, ElapsedTimesOfDayWrapPastMidnight) {
  EXPECT_EQ(CalculateMinutesElapsed("23:50", "00:10"), 20);
  EXPECT_EQ(CalculateMinutesElapsed("10:75", "11:00"), 60) << "minute 75 counts as 0";
  EXPECT_EQ(CalculateSecondsElapsed("23:59:50", "00:00:10"), 20);
  EXPECT_EQ(CalculateSecondsElapsed("ab:cd:ef", "00:00:30"), 30);

  // Differences of stamps stop counting time at two days.
  int days = -9, minutes = -9, seconds = -9;
  TimeStampDayMinSec_elapsed(Get_DateTime_Long("2024-02-28+23:50:00"),
                             Get_DateTime_Long("2024-02-29+00:10:30"), days, minutes, seconds);
  EXPECT_EQ(std::tuple(days, minutes, seconds), std::tuple(1, 20, 1230));
  TimeStampDayMinSec_elapsed(Get_DateTime_Long("2024-02-28+10:00:00"),
                             Get_DateTime_Long("2024-03-01+09:00:00"), days, minutes, seconds);
  EXPECT_EQ(std::tuple(days, minutes, seconds), std::tuple(2, 1440, 86400))
      << "2024 has a 29 February";

  const std::tm a = Tm(2024, 3, 1, 0, 0, 10);
  const std::tm b = Tm(2024, 2, 28, 23, 59, 50);
  EXPECT_EQ(diff_tm(a, b), 86400 + 20) << "29 February lies between";
  EXPECT_EQ(diff_tm(b, a), -(86400 + 20));
  EXPECT_EQ(diff_tm(Tm(2024, 1, 1), Tm(2023, 13, 1)), 0) << "month 13 carries into the year";
}

TEST_F(DatesTest, UtcTextMovesTheDateToTheLocalDay) {
  {
    ScopedTimeZone zone("Pacific/Auckland");  // UTC+12 in July
    int date = Packed(2021, 7, 14);
    Offset_UTCDateToLocalDate("14 Jul 2021 23:30:00 GMT", date);
    EXPECT_EQ(date, Packed(2021, 7, 15));
    date = Packed(2021, 7, 14);
    // The same local day, an unreadable month, an impossible day: the date stays.
    for (const char* text :
         {"14 july 2021 10:00:00", "14 Jully 2021 23:30:00", "31 Jun 2021 23:30:00"}) {
      Offset_UTCDateToLocalDate(text, date);
      EXPECT_EQ(date, Packed(2021, 7, 14)) << text;
    }
    date = Packed(2023, 7, 14);  // beyond the range the conversion serves
    Offset_UTCDateToLocalDate("14 Jul 2023 23:30:00", date);
    EXPECT_EQ(date, Packed(2023, 7, 14));
  }
  ScopedTimeZone zone("America/Los_Angeles");
  int date = Packed(2021, 7, 15);
  Offset_UTCDateToLocalDate("15 JULY 2021 02:00:00", date);
  EXPECT_EQ(date, Packed(2021, 7, 14));
}

TEST(DelayTimeTest, WaitsInShortStepsRunningEvents) {
  int pumps = 0;
  platform::SetEventPump([&] { ++pumps; });
  const double start = timer();
  Delay_Time(5);
  const double elapsed = timer() - start;
  platform::SetEventPump({});
  EXPECT_GE(elapsed, 0.049);
  EXPECT_GE(pumps, 2) << "events must run during the wait, not only once at its end";
}

}  // namespace
}  // namespace nuvel::text
