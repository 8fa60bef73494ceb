// The fault point: one atomic pointer, null unless a program that links the core installs one.
#include "platform/fault_point.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<const FaultPoint*> g_point{nullptr};
}  // namespace

void SetFaultPoint(const FaultPoint* point) { g_point.store(point, std::memory_order_release); }

const FaultPoint* CurrentFaultPoint() { return g_point.load(std::memory_order_acquire); }

}  // namespace plat
