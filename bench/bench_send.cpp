// A whole job sent to the simulated card at its fastest setting (it takes in and runs everything
// at once): the flush pipeline, the block ring, the driver link's block sends with their FIFO
// pointer queries, and the end wait. Reported: stream words per second and block bytes per second.
#include <benchmark/benchmark.h>

#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "frame/system_para.h"
#include "mark/fifo_data.h"
#include "mark/mark_data2fifo.h"
#include "mark/mark_floor.h"
#include "mark/mark_job.h"
#include "mark/stream_words.h"
#include "platform/fault_point.h"
#include "platform/module.h"
#include "synthetic_job.h"
#include "sim_card.h"

namespace {

constexpr int64_t kJobUs = 1000000;

// The simulated card beside the built library, opened once.
bool OpenSimulatedCard() {
  static const bool opened = [] {
    if (!qzbench::OpenRawCard()) return false;
    const auto consume = qzbench::SimFunction<decltype(&cardsim_set_consume)>("cardsim_set_consume");
    if (!consume || consume(0) != 0) return false;
    g_SystemPara.nBufDataCheckType = 1;  // the simulated card's default version 85
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
  for (auto _ : state) {
    state.PauseTiming();
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(1);
    FillJob();
    state.ResumeTiming();
    g_FifoData.BufferStart(0);
    g_MarkData2Fifo.Flush(1);
    g_FifoData.WaitSendFinish();
    bytes += static_cast<int64_t>(g_FifoData.nSentUnits) * kFifoUnit;
  }
  g_MarkJob.g_bMarkCallBusy = 0;
  g_bRunFlag = 0;
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(bytes / 4);
}
BENCHMARK(BM_JobToSimulatedCard)->Unit(benchmark::kMillisecond);

}  // namespace
