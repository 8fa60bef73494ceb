#pragma once
// A clock that tests set by hand; installed for the lifetime of the object.
#include <cstdint>

#include "platform/clock.h"

namespace qztest {

class FakeClock : public plat::Clock {
 public:
  FakeClock() { plat::SetClock(this); }
  ~FakeClock() override { plat::SetClock(nullptr); }

  // With autoAdvanceMs set, every reading of the tick moves time on by that much, so that a loop
  // that polls without sleeping still reaches its time limit; perfStep does the same for the
  // performance counter.
  uint32_t TickMs() override {
    uint32_t t = tick;
    tick += autoAdvanceMs;
    return t;
  }
  double PerfMs() override { return perfStep != 0.0 ? perf += perfStep : perf; }
  plat::LocalTime Local() override { return local; }
  int64_t Now() override { return now; }
  void Sleep(uint32_t ms) override {
    tick += ms;
    perf += ms;
    slept += ms;
  }

  uint32_t tick = 0;
  double perf = 0.0;
  plat::LocalTime local;
  int64_t now = 1700000000;
  uint64_t slept = 0;
  uint32_t autoAdvanceMs = 0;
  double perfStep = 0.0;
};

}  // namespace qztest
