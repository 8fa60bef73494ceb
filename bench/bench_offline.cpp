// A 64 MB offline file downloaded into slot 0 of the simulated card: every page erased (once a
// block), sent, programmed and read back through the driver link. The argument is the card's latency
// per exchange in µs (0, and 100 as a real link answers), so that the rate means the link's.
// The download reads the file one page at a time, so the host's memory stays flat in its size.
//
// Reported (elapsed time): file bytes per second; per page, every transfer through the driver link
// (command frames sent and received, bulk chunks out and read back in, control requests), the bulk
// chunks out and in alone; link_share, the part of the time spent inside the driver link.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "flash/off_file_download.h"
#include "frame/card_version.h"
#include "frame/system_para.h"
#include "platform/fault_point.h"
#include "platform/files.h"
#include "platform/module.h"
#include "driver_meter.h"
#include "sim_card.h"

namespace {

constexpr uint32_t kFilePages = 32768;  // 64 MB

// The simulated card on the serial-flash map of version 85 (set at every run: a benchmark before
// this one may have set other parameters).
bool OpenCard() {
  if (!qzbench::OpenRawCard()) return false;
  SystemPara& p = g_SystemPara;
  p.nCardVersion = 85;
  p.nCheckFlashType = 2;
  p.bJustM25p64 = 1;
  p.bCmdWithNum = 1;
  g_FlashAreaMap = FlashAreaMapFor(true);
  return true;
}

std::string WriteFile() {
  const std::string path = plat::TempFolder() + "qz_bench_offline.bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  std::vector<uint8_t> page(2048);
  for (uint32_t i = 0; i < kFilePages; ++i) {
    for (size_t b = 0; b < page.size(); ++b) page[b] = static_cast<uint8_t>(i * 7 + b);
    std::fwrite(page.data(), 1, page.size(), f);
  }
  std::fclose(f);
  return path;
}

void BM_OfflineDownload64MB(benchmark::State& state) {
  if (!OpenCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  const std::string path = WriteFile();
  if (path.empty()) {
    state.SkipWithError("no temporary file");
    return;
  }
  const auto latency = qzbench::SimFunction<decltype(&cardsim_set_latency_us)>("cardsim_set_latency_us");
  latency(static_cast<uint32_t>(state.range(0)));
  int64_t bytes = 0;
  uint64_t pages = 0;
  qzbench::DriverMeter meter;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    DownLoadOffFile(path, 0, true);
    pages += kFilePages;
    bytes += int64_t{kFilePages} * 2048;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  latency(0);
  plat::DeleteFilePath(path);
  const qzbench::DriverCounts& c = qzbench::DriverMeter::Counts();
  const auto perPage = [&](uint64_t n) { return static_cast<double>(n) / static_cast<double>(pages); };
  state.SetBytesProcessed(bytes);
  state.counters["transfers_per_page"] = perPage(c.Transfers());
  state.counters["bulk_out_per_page"] = perPage(c.bulkSends);
  state.counters["bulk_in_per_page"] = perPage(c.bulkRecvs);
  state.counters["link_share"] = c.seconds / seconds;
}
// The 100 µs link is a long run (QZ_BENCH_LONG=1).
[[maybe_unused]] const int registeredBM_OfflineDownload64MB = [] {
  auto* b = benchmark::RegisterBenchmark("BM_OfflineDownload64MB", BM_OfflineDownload64MB)->ArgName("latency_us")->Arg(0);
  if (qzbench::LongRuns()) b->Arg(100);
  b->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  return 0;
}();

}  // namespace
