// A whole job sent to the simulated card at its fastest setting (it takes in and runs everything
// at once): the flush pipeline, the block ring, the driver link's block sends with their FIFO
// pointer queries, and the end wait. The simulated card's work happens inside the driver-link calls,
// which are timed apart (driver_meter.h); so is the end wait, most of which is the library's 1 ms
// sleeps between the card's status replies while the card finishes the run.
//
// Reported: stream words and block bytes per second of the whole; card_share, the part of the
// elapsed time spent inside the driver link (the simulated card's); library_Bps, block bytes per
// second of the library's own time up to the end wait (the rest of the sending); end_wait_ms, the
// end wait per job, and end_wait_card_ms, its part inside the driver link; transfers, the
// driver-link calls per job.
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

// The simulated card and what this benchmark needs of it and of the parameters (set at every run:
// a benchmark before this one may have set others).
bool OpenSimulatedCard() {
  if (!qzbench::OpenRawCard()) return false;
  const auto consume = qzbench::SimFunction<decltype(&cardsim_set_consume)>("cardsim_set_consume");
  if (!consume || consume(0) != 0) return false;
  // Card version 96, block layout 2 (the card checks the layout of its version).
  qzbench::SimFunction<decltype(&cardsim_set_card_version)>("cardsim_set_card_version")(96);
  g_SystemPara.nBufDataCheckType = 2;
  g_SystemPara.HowLongTimeFirstBuf = 1000000;
  g_SystemPara.nSteadyWindowUs = 600000;
  return true;
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
  double sendSeconds = 0, sendCardSeconds = 0, waitSeconds = 0, waitCardSeconds = 0;
  qzbench::DriverMeter meter;
  const qzbench::DriverCounts& c = qzbench::DriverMeter::Counts();
  using Clock = std::chrono::steady_clock;
  const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  for (auto _ : state) {
    state.PauseTiming();
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(1);
    FillJob();
    state.ResumeTiming();
    const double card0 = c.seconds;
    const auto t0 = Clock::now();
    g_FifoData.BufferStart(0);
    g_MarkData2Fifo.Flush(1);
    sendSeconds += since(t0);
    const double card1 = c.seconds;
    const auto t1 = Clock::now();
    g_FifoData.WaitSendFinish();
    waitSeconds += since(t1);
    sendCardSeconds += card1 - card0;
    waitCardSeconds += c.seconds - card1;
    bytes += static_cast<int64_t>(g_FifoData.nSentUnits) * kFifoUnit;
  }
  g_MarkJob.g_bMarkCallBusy = 0;
  g_bRunFlag = 0;
  const auto jobs = static_cast<double>(state.iterations());
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(bytes / 4);
  state.counters["card_share"] = (sendCardSeconds + waitCardSeconds) / (sendSeconds + waitSeconds);
  state.counters["library_Bps"] = static_cast<double>(bytes) / (sendSeconds - sendCardSeconds);
  state.counters["end_wait_ms"] = waitSeconds * 1000.0 / jobs;
  state.counters["end_wait_card_ms"] = waitCardSeconds * 1000.0 / jobs;
  state.counters["transfers"] = static_cast<double>(c.Transfers()) / jobs;
}
BENCHMARK(BM_JobToSimulatedCard)->Unit(benchmark::kMillisecond);

}  // namespace
