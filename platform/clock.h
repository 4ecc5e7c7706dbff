// The local wall clock and the operating system's identity.
#pragma once

#include <functional>
#include <string>

namespace nuvel::platform {

struct LocalTime {
  int year = 0;    // full year, e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..60
  int weekday = 0; // 0 = Sunday
};

/// The local time now (or the test clock's time, see below).
LocalTime Now();

/// Seconds since the epoch as a floating value, for elapsed-time measurements.
double MonotonicSeconds();

/// Converts a UTC calendar time to the local time of the same moment; false when out of range.
bool UtcToLocal(const LocalTime& utc, LocalTime& local);

/// Replaces the clock for tests; an empty function restores the real one.
void SetClockForTesting(std::function<LocalTime()> clock);

/// The operating-system version text for the log banner, e.g. "Linux 6.1.0-18-amd64".
std::string OsVersionText();

/// The kernel release as major and minor numbers; false when unknown.
bool KernelVersion(int& major, int& minor);

}  // namespace nuvel::platform
