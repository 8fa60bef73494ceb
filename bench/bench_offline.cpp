// A 64 MB offline file downloaded into slot 0 of the simulated card at its fastest setting: every
// page erased (once a block), sent, programmed and read back through the driver link. Reported:
// file bytes per second and the exchanges with the card (command frames and bulk chunks) per page.
// The download reads the file one page at a time, so the host's memory stays flat in its size.
#include <benchmark/benchmark.h>

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
#include "sim_card.h"

namespace {

constexpr uint32_t kFilePages = 32768;  // 64 MB

// The simulated card, opened once, on the serial-flash map of version 85.
bool OpenCard() {
  static const bool opened = [] {
    if (!qzbench::OpenRawCard()) return false;
    SystemPara& p = g_SystemPara;
    p.nCardVersion = 85;
    p.nCheckFlashType = 2;
    p.bJustM25p64 = 1;
    p.bCmdWithNum = 1;
    g_FlashAreaMap = FlashAreaMapFor(true);
    return true;
  }();
  return opened;
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
  auto logCount = qzbench::SimFunction<decltype(&cardsim_log_count)>("cardsim_log_count");
  int64_t bytes = 0;
  uint64_t exchanges = 0, pages = 0;
  for (auto _ : state) {
    const uint32_t before = logCount();
    DownLoadOffFile(path, 0, true);
    exchanges += logCount() - before;
    pages += kFilePages;
    bytes += int64_t{kFilePages} * 2048;
  }
  plat::DeleteFilePath(path);
  state.SetBytesProcessed(bytes);
  state.counters["exchanges_per_page"] = static_cast<double>(exchanges) / static_cast<double>(pages);
}
BENCHMARK(BM_OfflineDownload64MB)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
