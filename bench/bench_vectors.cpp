// A dense vector job through the exports: 10^5 short vectors (0.1 mm at 1000 mm/s, so 10 base steps
// each), one QZ_MarkVector call per vector, written as an offline download (run mode 2) so that the
// simulated card's own decoding is not part of the measure. Reported: the stream time the library
// generates per CPU second (the card marks 1 s of stream in 1 s: the ratio to that limit), and the
// library's CPU time per vector.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "api/library_startup.h"
#include "cardlink/portlane.h"
#include "frame/bytes.h"
#include "platform/fault_point.h"
#include "platform/files.h"
#include "qzmark.h"

namespace {

constexpr int kVectors = 100000;
constexpr uint32_t kParaKey = 0x7E21C4B9u;

std::string DeployDir() { return QZ_DEPLOY_DIR; }
std::string OfflineFile() { return std::string(QZ_DEPLOY_DIR) + "/OffLineFile.tmp"; }

// The card beside the built library, opened and configured once as a host does.
bool OpenCard() {
  static const bool opened = [] {
    static const plat::FaultPoint deployFolder{.moduleDir = DeployDir};  // the library's folder
    plat::SetFaultPoint(&deployFolder);
    CPortlane::LoadDll();
    if (!PortlaneApi.bLoaded || QZ_InitCard() != 0) return false;
    ApplyParameterFile();
    if (QZ_SetFlag(kParaKey, 0) != 0) return false;
    // Pen 0: 20 kHz at 50 %, mark and jump at 1000 mm/s (offsets of the host record).
    std::vector<uint8_t> pen(1696, 0);
    PutF64(&pen[28], 20.0);
    PutF64(&pen[36], 50.0);
    PutF64(&pen[432], 1000.0);
    PutF64(&pen[440], 1000.0);
    return QZ_SetMarkPara(pen.data(), 1) == 0;
  }();
  return opened;
}

void BM_DenseVectorJob(benchmark::State& state) {
  if (!OpenCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  // Short vectors on a 10 mm grid, each a polyline of its own.
  std::vector<double> points(static_cast<size_t>(kVectors) * 6);
  for (int i = 0; i < kVectors; ++i) {
    const double x = (i % 100) * 0.1 - 5.0, y = ((i / 100) % 100) * 0.1 - 5.0;
    const double v[6] = {x, y, 0.0, x + 0.1, y, 0.0};
    std::memcpy(&points[static_cast<size_t>(i) * 6], v, sizeof v);
  }
  double streamSeconds = 0.0;
  for (auto _ : state) {
    if (QZ_MarkStart(2, 0, 0) != 0) {
      state.SkipWithError("QZ_MarkStart failed");
      return;
    }
    for (int i = 0; i < kVectors; ++i) QZ_MarkVector(&points[static_cast<size_t>(i) * 6], 2, 0);
    if (QZ_MarkEnd(0) != 0) {
      state.SkipWithError("QZ_MarkEnd failed");
      return;
    }
    uint32_t us = 0;
    QZ_GetMarkTime(&us);
    streamSeconds += us / 1e6;
  }
  // Rates are per CPU second of this thread: stream seconds generated per CPU second (goal: over
  // 1000), and vectors per CPU second (its inverse is the CPU time per vector).
  plat::DeleteFilePath(OfflineFile());  // the download is not kept in the deploy folder
  state.counters["stream_s_per_cpu_s"] = benchmark::Counter(streamSeconds, benchmark::Counter::kIsRate);
  state.counters["vectors_per_s"] =
      benchmark::Counter(static_cast<double>(kVectors) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DenseVectorJob)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
