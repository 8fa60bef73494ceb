#pragma once
// Time: a 32-bit wrapping millisecond tick, a performance counter in milliseconds, local time with
// milliseconds, calendar time and sleeping, behind one interface that tests replace.
#include <cstdint>

namespace plat {

struct LocalTime {
  int year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int dayOfWeek = 4;  // 0 = Sunday
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickMs() = 0;       // milliseconds since some start, wrapping at 2^32
  virtual double PerfMs() = 0;         // high-resolution counter in milliseconds
  virtual LocalTime Local() = 0;       // local date and time now
  virtual int64_t Now() = 0;           // calendar time now, seconds since 1970-01-01 UTC
  virtual void Sleep(uint32_t ms) = 0;
};

// The clock in use: the system's unless a test installed its own.
Clock& GetClock();
// Installs `c` (not owned); nullptr restores the system clock.
void SetClock(Clock* c);

// Shorthands for the clock in use.
inline uint32_t TickMs() { return GetClock().TickMs(); }
inline double PerfMs() { return GetClock().PerfMs(); }
inline LocalTime LocalNow() { return GetClock().Local(); }
inline int64_t Now() { return GetClock().Now(); }
inline void Sleep(uint32_t ms) { GetClock().Sleep(ms); }

// The system clock, for a test clock that wants to fall back to real time.
Clock& SystemClock();

}  // namespace plat
