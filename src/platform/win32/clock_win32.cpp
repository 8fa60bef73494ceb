// The system clock on Win32: GetTickCount, the performance counter, GetLocalTime.
#include <windows.h>

#include "platform/clock.h"

namespace plat {

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDiff = 116444736000000000LL;

class Win32Clock final : public Clock {
 public:
  Win32Clock() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    freq_ = f.QuadPart > 0 ? f.QuadPart : 1;
  }

  uint32_t TickMs() override { return GetTickCount(); }

  double PerfMs() override {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    // Whole seconds and the rest apart, so that no precision is lost to a large counter.
    return static_cast<double>(c.QuadPart / freq_) * 1000.0 +
           static_cast<double>(c.QuadPart % freq_) * 1000.0 / static_cast<double>(freq_);
  }

  LocalTime Local() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    LocalTime lt;
    lt.year = st.wYear;
    lt.month = st.wMonth;
    lt.day = st.wDay;
    lt.hour = st.wHour;
    lt.minute = st.wMinute;
    lt.second = st.wSecond;
    lt.millisecond = st.wMilliseconds;
    lt.dayOfWeek = st.wDayOfWeek;
    return lt;
  }

  int64_t Now() override {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (t - kEpochDiff) / 10000000;
  }

  void Sleep(uint32_t ms) override { ::Sleep(ms); }

 private:
  int64_t freq_ = 1;
};

}  // namespace

Clock& SystemClock() {
  // Never destroyed: threads and destructors of other globals may still read the time at exit.
  static Win32Clock& clock = *new Win32Clock;
  return clock;
}

}  // namespace plat
