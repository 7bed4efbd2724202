#pragma once
// A local calendar time as the reporter stamps its trace lines and reports with it. Plain fields,
// so that text building can be tested (and built) without the platform.

namespace pelloran::crashlog {

struct TLocalTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Milliseconds = 0;
};

// The local time now (GetLocalTime).
TLocalTime LocalTimeNow() noexcept;

}  // namespace pelloran::crashlog
