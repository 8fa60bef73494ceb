#pragma once
// The synthetic job of the benchmarks, written straight into floor 0: galvanometer words every
// 10 µs on channel 0, laser words every 100 µs on laser 0's list, power words every 500 µs on its
// power-wave list and IO words every 1 ms on the main stream.
#include <cstdint>

#include "markbase/mark_floor.h"
#include "markbase/stream_words.h"

inline void FillSyntheticJob(int64_t jobUs) {
  CMarkFloor& f = g_MarkFloor[0];
  uint32_t n = 0;
  for (int64_t t = 0; t < jobUs; t += 10) {
    const auto ut = static_cast<uint64_t>(t);
    f.ch0.push_back({ut, SW_GALVO_X | (n++ & 0xFFFF)});
    if (t % 100 == 0) f.ch1.push_back({ut, (t / 100) % 2 ? SW_PULSE_START_L0 : SW_PULSE_STOP_L0});
    if (t % 500 == 0) f.ch2.push_back({ut + 3, SW_POWER_DA | (n & 0xFFFF)});
    if (t % 1000 == 0) f.ch3.push_back({ut + 5, 0x20001000 | (n & 1)});
  }
  f.clock = static_cast<uint64_t>(jobUs);
}
