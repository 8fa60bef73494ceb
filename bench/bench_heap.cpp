// The library's peak heap over a job's length: dense jobs (0.1 mm vectors end to end, card version
// 96) of 2 and 20 s of stream, and of 200 s with QZ_BENCH_LONG=1 in the environment, online to the
// simulated card and as offline downloads. The heap must stay flat in the job's length: at most 1.1
// times from 2 s to 20 s and from 20 s to 200 s.
//
// The heap is counted by this program's own operator new and delete: live bytes and their peak. An
// allocation made from the simulated card's code (its traces and logs, which a real card keeps in
// its own memory) is told apart by the caller's address and not counted.
//
// Reported: peak_MB, the peak of the counted live heap during the job (the library's buffers held
// from the start included), job_bytes, that peak above the live heap at the job's start, and
// ratio_to_shorter, peak_MB over the peak of the next shorter job of the same mode.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>

#include "vector_jobs.h"

#if defined(__linux__)
#include <link.h>

#include <cstring>
#endif

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
// The simulated card's code, as address ranges (set once, before the jobs).
struct Range {
  uintptr_t from = 0, to = 0;
};
Range g_card[4];
int g_cardRanges = 0;

bool FromCard(const void* caller) {
  const auto a = reinterpret_cast<uintptr_t>(caller);
  for (int i = 0; i < g_cardRanges; ++i)
    if (a >= g_card[i].from && a < g_card[i].to) return true;
  return false;
}

constexpr size_t kHeader = 16;  // size and counted flag, keeping the 16-byte alignment

void* Allocate(size_t n, const void* caller) {
  auto* p = static_cast<uint8_t*>(std::malloc(n + kHeader));
  if (!p) return nullptr;
  const bool counted = !FromCard(caller);
  reinterpret_cast<size_t*>(p)[0] = n;
  reinterpret_cast<size_t*>(p)[1] = counted;
  if (counted) {
    const int64_t live = g_live.fetch_add(static_cast<int64_t>(n), std::memory_order_relaxed) + static_cast<int64_t>(n);
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
  }
  return p + kHeader;
}

void Release(void* q) {
  if (!q) return;
  auto* p = static_cast<uint8_t*>(q) - kHeader;
  if (reinterpret_cast<size_t*>(p)[1]) g_live.fetch_sub(static_cast<int64_t>(reinterpret_cast<size_t*>(p)[0]));
  std::free(p);
}

void FindCardCode() {
#if defined(__linux__)
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        if (!info->dlpi_name || !std::strstr(info->dlpi_name, "Portlane")) return 0;
        for (int i = 0; i < info->dlpi_phnum && g_cardRanges < 4; ++i) {
          const auto& ph = info->dlpi_phdr[i];
          if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X))
            g_card[g_cardRanges++] = {info->dlpi_addr + ph.p_vaddr, info->dlpi_addr + ph.p_vaddr + ph.p_memsz};
        }
        return 0;
      },
      nullptr);
#endif
}

using namespace qzbench;

void BM_PeakHeap(benchmark::State& state) {
  if (!OpenCardForJobs()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  if (g_cardRanges == 0) FindCardCode();
  const int64_t seconds = state.range(0);
  const auto mode = static_cast<uint32_t>(state.range(1));
  UseCardVersion(96);
  // One pattern of 10000 polylines, repeated to the job's length; the stream time of one pattern
  // from a first job, which also grows what the library keeps from its first job.
  const std::vector<Polyline> pattern = MakeJob(kJoined, 10000);
  const int64_t patternUs = RunJob(mode, pattern);
  if (patternUs <= 0) {
    state.SkipWithError("the first job failed");
    return;
  }
  const int repeat = static_cast<int>((seconds * 1000000 + patternUs - 1) / patternUs);
  double peakMb = 0, jobBytes = 0, streamS = 0;
  for (auto _ : state) {
    const int64_t start = g_live.load();
    g_peak = start;
    const int64_t us = RunJob(mode, pattern, repeat);
    if (us < 0) {
      state.SkipWithError("the job failed");
      break;
    }
    peakMb = static_cast<double>(g_peak.load()) / 1048576.0;
    jobBytes = static_cast<double>(g_peak.load() - start);
    streamS = static_cast<double>(us) / 1e6;
  }
  plat::DeleteFilePath(OfflineFile());
  static std::map<uint32_t, double> shorter;  // the previous length's peak, per mode
  state.SetLabel(mode == 1 ? "online" : "offline");
  state.counters["stream_s"] = streamS;
  state.counters["peak_MB"] = peakMb;
  state.counters["job_bytes"] = jobBytes;
  if (shorter.count(mode)) state.counters["ratio_to_shorter"] = peakMb / shorter[mode];
  shorter[mode] = peakMb;
}

[[maybe_unused]] const int registered = [] {
  for (int64_t mode : {1, 2}) {
    auto* b = benchmark::RegisterBenchmark("BM_PeakHeap", BM_PeakHeap);
    b->ArgNames({"stream_s", "mode"})->Args({2, mode})->Args({20, mode});
    if (LongRuns()) b->Args({200, mode});
    b->Iterations(1)->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

}  // namespace

void* operator new(size_t n) {
  void* p = Allocate(n, __builtin_return_address(0));
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) {
  void* p = Allocate(n, __builtin_return_address(0));
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n, __builtin_return_address(0)); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n, __builtin_return_address(0)); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
