// A whole job sent to the simulated card at its fastest setting (it takes in and runs everything
// at once): the flush pipeline, the block ring, the driver link's block sends with their FIFO
// pointer queries, and the end wait. The simulated card's work happens inside the driver-link calls,
// which are timed apart (driver_meter.h).
//
// Reported: stream words and block bytes per second of the whole; card_share, the part of the
// elapsed time spent inside the driver link (the simulated card's); library_Bps, block bytes per
// second of the library's own time (the rest); transfers, the driver-link calls per job.
#include <benchmark/benchmark.h>

#include <chrono>

#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "frame/system_para.h"
#include "mark/fifo_data.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_job.h"
#include "markbase/stream_words.h"
#include "platform/fault_point.h"
#include "platform/module.h"
#include "driver_meter.h"
#include "sim_card.h"
#include "synthetic_job.h"

namespace {

constexpr int64_t kJobUs = 1000000;

// The simulated card beside the built library, opened once.
bool OpenSimulatedCard() {
  static const bool opened = [] {
    if (!qzbench::OpenRawCard()) return false;
    const auto consume = qzbench::SimFunction<decltype(&cardsim_set_consume)>("cardsim_set_consume");
    if (!consume || consume(0) != 0) return false;
    // Card version 96, block layout 2 (the card checks the layout of its version).
    qzbench::SimFunction<decltype(&cardsim_set_card_version)>("cardsim_set_card_version")(96);
    g_SystemPara.nBufDataCheckType = 2;
    g_SystemPara.HowLongTimeFirstBuf = 1000000;
    g_SystemPara.nSteadyWindowUs = 600000;
    return true;
  }();
  return opened;
}

// The synthetic job with its end word, so that the card's run ends.
void FillJob() {
  FillSyntheticJob(kJobUs);
  g_MarkFloor[0].ch3.push_back({static_cast<uint64_t>(kJobUs) + 10, SW_END});
  g_MarkFloor[0].clock = static_cast<uint64_t>(kJobUs) + 10;
}

void BM_JobToSimulatedCard(benchmark::State& state) {
  if (!OpenSimulatedCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  int64_t bytes = 0;
  double seconds = 0;
  qzbench::DriverMeter meter;
  for (auto _ : state) {
    state.PauseTiming();
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(1);
    FillJob();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    g_FifoData.BufferStart(0);
    g_MarkData2Fifo.Flush(1);
    g_FifoData.WaitSendFinish();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    bytes += static_cast<int64_t>(g_FifoData.nSentUnits) * kFifoUnit;
  }
  g_MarkJob.g_bMarkCallBusy = 0;
  g_bRunFlag = 0;
  const qzbench::DriverCounts& c = qzbench::DriverMeter::Counts();
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(bytes / 4);
  state.counters["card_share"] = c.seconds / seconds;
  state.counters["library_Bps"] = static_cast<double>(bytes) / (seconds - c.seconds);
  state.counters["transfers"] = static_cast<double>(c.Transfers()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_JobToSimulatedCard)->Unit(benchmark::kMillisecond);

}  // namespace
