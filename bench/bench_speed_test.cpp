// The service speed tests through their exports against the simulated card (USB), with the card's
// reply and chunk latency at 0 and at 100 µs per exchange: the box's figures (buffer MB/s,
// commands/s, average command ms) and the optical switch's total times beside the model's delays
// (2, 4 and 6 ms for its three bits). Boxes go to a log file, read back after each run. Every
// transfer through the driver link is counted (driver_meter.h): transfers, the bulk chunks among
// them, and link_share, the part of the elapsed time spent inside the driver link.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardsim_api.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/system_para.h"
#include "platform/fault_point.h"
#include "platform/module.h"
#include "platform/files.h"
#include "qzmark.h"
#include "driver_meter.h"
#include "sim_card.h"

namespace {

// The message boxes go to a log in the temporary folder, read back after each run.
const std::string kBoxLog = plat::TempFolder() + "qz_bench_speed_boxes.txt";

// Set at every run: a benchmark before this one may have changed the parameters.
bool OpenCard() {
#if defined(_WIN32)
  _putenv_s("QZMARK_MSGBOX_LOG", kBoxLog.c_str());
#else
  setenv("QZMARK_MSGBOX_LOG", kBoxLog.c_str(), 1);
#endif
  if (!qzbench::OpenRawCard()) return false;
  g_CmdNumTable.Fill(true);  // numbered commands (card versions from 64, as 85 and 96)
  g_bCardSynced = 1;
  g_bParaAccepted = 1;
  return true;
}

// The last box shown, and the number after `key` in it.
std::string LastBox() {
  std::ifstream in(kBoxLog);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}
double After(const std::string& text, const std::string& key, size_t from = 0) {
  const size_t at = text.find(key, from);
  return at == std::string::npos ? -1.0 : CrtAtof(text.c_str() + at + key.size());
}

void BM_TestSpeed(benchmark::State& state) {
  if (!OpenCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  qzbench::SimFunction<decltype(&cardsim_set_latency_us)>("cardsim_set_latency_us")(static_cast<uint32_t>(state.range(0)));
  qzbench::DriverMeter meter;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (QZ_TestSpeed() != 0) state.SkipWithError("QZ_TestSpeed failed");
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const qzbench::DriverCounts& c = qzbench::DriverMeter::Counts();
  state.counters["transfers"] = static_cast<double>(c.Transfers());
  state.counters["bulk_chunks"] = static_cast<double>(c.bulkSends + c.bulkRecvs);
  state.counters["link_share"] = c.seconds / seconds;
  const std::string box = LastBox();
  state.counters["buffer_MBps"] = After(box, "Speed:");
  state.counters["commands_per_s"] = After(box, "Speed:", box.find("Immediate command count"));
  state.counters["command_avg_ms"] = After(box, "Average time spent");
  state.counters["ratio_buffer_to_10MBps"] = After(box, "Speed:") / 10.0;
  state.counters["ratio_commands_to_5000"] = After(box, "Speed:", box.find("Immediate command count")) / 5000.0;
  qzbench::SimFunction<decltype(&cardsim_set_latency_us)>("cardsim_set_latency_us")(0);
  // The buffer test's blocks are not in the card's check layout: the card ends it in its
  // stream-check alarm, which a host clears before its next job (so do the benchmarks after this).
  if (QZ_ClearAlarm() != 0) state.SkipWithError("QZ_ClearAlarm failed");
}
// The 100 µs link is a long run (QZ_BENCH_LONG=1).
[[maybe_unused]] const int registeredBM_TestSpeed = [] {
  auto* b = benchmark::RegisterBenchmark("BM_TestSpeed", BM_TestSpeed)->ArgName("latency_us")->Arg(0);
  if (qzbench::LongRuns()) b->Arg(100);
  b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  return 0;
}();

void BM_TestOssSwitchSpeed(benchmark::State& state) {
  if (!OpenCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  qzbench::SimFunction<decltype(&cardsim_set_latency_us)>("cardsim_set_latency_us")(static_cast<uint32_t>(state.range(0)));
  cardsim_oss oss{{3, 1, 4, 2}, 1, {2000, 4000, 6000}};
  qzbench::SimFunction<decltype(&cardsim_set_oss)>("cardsim_set_oss")(&oss);
  qzbench::DriverMeter meter;
  for (auto _ : state) {
    if (QZ_TestOssSwitchSpeed() != 0) state.SkipWithError("QZ_TestOssSwitchSpeed failed");
  }
  state.counters["transfers"] = static_cast<double>(qzbench::DriverMeter::Counts().Transfers());
  const std::string box = LastBox();
  state.counters["planned_ms(model 2)"] = After(box, "planning arrival time:");
  state.counters["feedback_ms(model 4)"] = After(box, "feedback arrival time:");
  state.counters["path1_total_ms(model 6)"] = After(box, "from path 1 to path 1:");
  state.counters["path4_total_ms(model 6)"] = After(box, "from path 4 to path 1:");
  qzbench::SimFunction<decltype(&cardsim_set_latency_us)>("cardsim_set_latency_us")(0);
}
BENCHMARK(BM_TestOssSwitchSpeed)->ArgName("latency_us")->Arg(0)->Arg(100)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
