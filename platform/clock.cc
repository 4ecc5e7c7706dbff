#include "platform/clock.h"

#include <sys/utsname.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace nuvel::platform {
namespace {

// Not run state: a test sets the clock around the runs it makes.
std::function<LocalTime()>& TestClock() {
  static std::function<LocalTime()> clock;
  return clock;
}

LocalTime FromTm(const std::tm& tm) {
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

}  // namespace

LocalTime Now() {
  if (TestClock()) return TestClock()();
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return FromTm(tm);
}

double MonotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool UtcToLocal(const LocalTime& utc, LocalTime& local) {
  std::tm tm{};
  tm.tm_year = utc.year - 1900;
  tm.tm_mon = utc.month - 1;
  tm.tm_mday = utc.day;
  tm.tm_hour = utc.hour;
  tm.tm_min = utc.minute;
  tm.tm_sec = utc.second;
  std::time_t t = ::timegm(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  std::tm out{};
  if (!::localtime_r(&t, &out)) return false;
  local = FromTm(out);
  return true;
}

void SetClockForTesting(std::function<LocalTime()> clock) { TestClock() = std::move(clock); }

std::string OsVersionText() {
  utsname u{};
  if (::uname(&u) != 0) return "";
  return std::string(u.sysname) + " " + u.release;
}

bool KernelVersion(int& major, int& minor) {
  utsname u{};
  if (::uname(&u) != 0) return false;
  return std::sscanf(u.release, "%d.%d", &major, &minor) == 2;
}

}  // namespace nuvel::platform
