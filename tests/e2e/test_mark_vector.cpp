// QZ_MarkVector as a host calls it: no allocation per call once the job runs.

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "e2e/card_host.h"

// The count needs the process's own operator new: not on Windows (the library carries its own
// runtime) and not under the sanitizers (which keep their own).
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef QZ_COUNT_ALLOCATIONS
#define QZ_COUNT_ALLOCATIONS 1
#endif

#if QZ_COUNT_ALLOCATIONS
#include <dlfcn.h>

// While armed, every allocation of the host process outside the simulated card's own code is counted.
namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<long> g_allocations{0};

void* Allocate(std::size_t n, void* caller) {
  Dl_info info{};
  const bool card = dladdr(caller, &info) != 0 && info.dli_fname && std::strstr(info.dli_fname, "Portlane");
  if (g_countAllocations.load(std::memory_order_relaxed) && !card) ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n, __builtin_return_address(0)); }
void* operator new[](std::size_t n) { return Allocate(n, __builtin_return_address(0)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using qztest::CardHost;

TEST_F(CardHost, NoAllocationPerVectorOnceTheJobRuns) {
#if !QZ_COUNT_ALLOCATIONS
  GTEST_SKIP() << "the library's allocations are counted in the plain Linux builds";
#else
  // Blocks go to the card after 0.1 s of stream time.
  OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=0\n", 79);
  if (HasFatalFailure()) return;
  // Short zigzag vectors, each continuing the last: look-ahead, corners, merges and blocks all run.
  std::vector<std::vector<double>> calls;
  for (double k = 0, x = -30, dx = 0.3, y = 0.5; k < 4000; ++k, x += dx, y = -y) {
    if (std::fabs(x + dx) > 30) dx = -dx;
    calls.push_back({x, -y, 0, x + dx, y, 0});
  }
  // The same job twice: the second half of the second, with the buffers grown by the first, is counted.
  for (int job = 0; job < 2; ++job) {
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    for (size_t k = 0; k < 2000; ++k) ASSERT_EQ(QZ(MarkVector)(calls[k].data(), 2, 1), 0u);
    const uint32_t chunks = State().bulk_chunks;
    uint32_t failed = 0;
    g_countAllocations = job == 1;
    for (size_t k = 2000; k < calls.size(); ++k) failed += QZ(MarkVector)(calls[k].data(), 2, 1) != 0;
    g_countAllocations = false;
    EXPECT_EQ(failed, 0u);
    EXPECT_GT(State().bulk_chunks, chunks + 50);  // blocks went to the card meanwhile
    EXPECT_EQ(MarkEnd(0), 0u);
  }
  EXPECT_EQ(g_allocations.load(), 0);
#endif
}

}  // namespace
