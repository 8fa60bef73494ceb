// The system clock on POSIX: CLOCK_MONOTONIC for the tick and the performance counter,
// CLOCK_REALTIME with localtime_r for the local time.
#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace plat {

namespace {

class PosixClock final : public Clock {
 public:
  uint32_t TickMs() override {
    const timespec ts = Read(CLOCK_MONOTONIC);
    // Milliseconds since boot, kept to 32 bits: wraps like the Windows tick.
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
  }

  double PerfMs() override {
    const timespec ts = Read(CLOCK_MONOTONIC);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
  }

  LocalTime Local() override {
    const timespec ts = Read(CLOCK_REALTIME);
    const time_t secs = ts.tv_sec;
    struct tm tm {};
    localtime_r(&secs, &tm);
    LocalTime lt;
    lt.year = tm.tm_year + 1900;
    lt.month = tm.tm_mon + 1;
    lt.day = tm.tm_mday;
    lt.hour = tm.tm_hour;
    lt.minute = tm.tm_min;
    lt.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second reads as :59, as on Windows
    lt.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    lt.dayOfWeek = tm.tm_wday;
    return lt;
  }

  int64_t Now() override { return static_cast<int64_t>(Read(CLOCK_REALTIME).tv_sec); }

  void Sleep(uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
  }

 private:
  static timespec Read(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return ts;
  }
};

}  // namespace

Clock& SystemClock() {
  // Never destroyed: threads and destructors of other globals may still read the time at exit.
  static PosixClock& clock = *new PosixClock;
  return clock;
}

}  // namespace plat
