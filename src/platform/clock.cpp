// The replaceable clock: the system's clock unless a test installed its own.
#include "platform/clock.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<Clock*> g_clock{nullptr};
}  // namespace

Clock& GetClock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : SystemClock();
}

void SetClock(Clock* c) { g_clock.store(c, std::memory_order_release); }

}  // namespace plat
