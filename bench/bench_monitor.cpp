// One pass of the monitor over 100 io debug records from the simulated card: 100 exchanges of
// command 87 and the handling of each record. Reported beside the monitor's default period of 2 ms,
// which one pass must stay well under so that the outputs and the position keep their sampling.
#include <benchmark/benchmark.h>

#include <chrono>

#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "frame/system_para.h"
#include "monitor/monitor_thread.h"
#include "platform/fault_point.h"
#include "platform/module.h"
#include "sim_card.h"

namespace {

using qzbench::SimFunction;

void BM_MonitorPassOf100Records(benchmark::State& state) {
  if (!qzbench::OpenRawCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  const auto queue = SimFunction<decltype(&cardsim_debug_queue)>("cardsim_debug_queue");
  if (!queue) {
    state.SkipWithError("the simulated card has no debug records");
    return;
  }
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t i = 0; i < 100; ++i) queue(i % 2 ? 2 : 1, 3840, 0x08000800u + i);
    g_vecIoWords.clear();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    ReadIoDebugRecords();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  // The pass's share of the 2 ms period: a plain fraction (elapsed time per pass / 2 ms).
  state.counters["share_of_2ms"] = seconds / static_cast<double>(state.iterations()) / 0.002;
}
BENCHMARK(BM_MonitorPassOf100Records)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
