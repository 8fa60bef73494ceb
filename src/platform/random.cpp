// The replaceable random source: the library's linear congruence unless a test installed its own.
#include "platform/random.h"

#include <atomic>

namespace plat {

namespace {

class LcgRandom final : public Random {
 public:
  int Next() override {
    // One state word advanced atomically: two threads drawing at once each get their own number.
    uint32_t x = state_.load(std::memory_order_relaxed);
    uint32_t next = 0;
    do {
      next = x * 214013u + 2531011u;
    } while (!state_.compare_exchange_weak(x, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & 0x7FFFu);
  }
  void Seed(uint32_t seed) { state_.store(seed, std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> state_{1};
};

LcgRandom& Own() {
  static LcgRandom r;
  return r;
}

std::atomic<Random*> g_random{nullptr};

}  // namespace

Random& GetRandom() {
  Random* r = g_random.load(std::memory_order_acquire);
  return r ? *r : Own();
}

void SetRandom(Random* r) { g_random.store(r, std::memory_order_release); }

void SeedRandom(uint32_t seed) { Own().Seed(seed); }

}  // namespace plat
