#pragma once
// A pseudo-random source of 0..32767 behind one interface that tests replace, beside the clock.
// The library's own source is the runtime's classic linear congruence (x = x * 214013 + 2531011,
// bits 30..16), the same numbers on every platform for the same seed; it is seeded from the time
// at load.
#include <cstdint>

namespace plat {

class Random {
 public:
  virtual ~Random() = default;
  virtual int Next() = 0;  // 0..32767
};

// The source in use: the library's unless a test installed its own.
Random& GetRandom();
// Installs `r` (not owned); nullptr restores the library's source.
void SetRandom(Random* r);
// Seeds the library's own source.
void SeedRandom(uint32_t seed);

inline int NextRandom() { return GetRandom().Next(); }

}  // namespace plat
