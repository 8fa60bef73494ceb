// The flush pipeline over the words real moves write: an X and a Y galvanometer word every 10 µs on
// channel 0 (1.2 MB of stream per second, the card's densest), through the real send path of an
// offline download: merge, time advances, blocks in the layout given (layout 2 with a CRC-16 per
// 124-byte sub-block), padding of the last block, the block ring, the same-data history and the
// file's 1 MB writes. One iteration is one job's final flush.
//
// Arguments: the layout, and the job's stream time in ms: 50 ms keeps everything in the cache,
// 4000 ms (about 60 MB of queues, stream and file) does not. The limit is a memcpy of the same bytes
// measured in the same run, in the cache (one buffer copied again and again) or out of it (each copy
// to and from fresh places of two 64 MB arenas) to match.
//
// Reported: stream words per second (items), stream bytes per second, memcpy_Bps, and of_memcpy,
// the pipeline's bytes per second over memcpy's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "frame/system_para.h"
#include "mark/crc16.h"
#include "mark/fifo_data.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_job.h"
#include "markbase/stream_words.h"
#include "platform/files.h"
#include "sim_card.h"
#include "synthetic_job.h"

namespace {

// X and Y of one step at the same time, as the vector generator writes them.
void FillMoves(int64_t jobUs) {
  CMarkFloor& f = g_MarkFloor[0];
  uint32_t n = 0;
  for (int64_t t = 0; t < jobUs; t += 10, ++n) {
    const auto ut = static_cast<uint64_t>(t);
    f.ch0.push_back({ut, SW_GALVO_X | (n & 0xFFFF)});
    f.ch0.push_back({ut, SW_GALVO_Y | ((n * 7) & 0xFFFF)});
  }
  f.clock = static_cast<uint64_t>(jobUs);
}

// Bytes per second of memcpy over `bytes`, the best of several rounds.
double MemcpyBps(size_t bytes, bool outOfCache) {
  constexpr size_t kArena = size_t{64} << 20;
  const size_t span = outOfCache ? std::max(kArena, bytes) : bytes;
  std::vector<uint8_t> src(span, 0x5A), dst(span, 0);
  size_t at = 0;
  double best = 1e30;
  for (int round = 0; round < 7; ++round) {
    const int reps = outOfCache ? 4 : 200;
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; ++r) {
      if (at + bytes > span) at = 0;
      std::memcpy(dst.data() + at, src.data() + at, bytes);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
      if (outOfCache) at += bytes;
    }
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps);
  }
  return static_cast<double>(bytes) / best;
}

void BM_FlushPipeline(benchmark::State& state) {
  if (!qzbench::OpenRawCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  const auto layout = static_cast<int32_t>(state.range(0));
  const int64_t jobUs = state.range(1) * 1000;
  g_SystemPara.nBufDataCheckType = layout;
  int64_t words = 0, bytes = 0;
  double seconds = 0;  // of the flushes, on the same clock as memcpy's
  g_MarkJob.g_bMarkCallBusy = 1;
  for (auto _ : state) {
    state.PauseTiming();
    CMarkJob::InitJob(2);
    FillMoves(jobUs);
    g_FifoData.BufferStart(0);
    words += static_cast<int64_t>(g_MarkFloor[0].ch0.size()) * 3 / 2;  // with one time advance a step
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    g_MarkData2Fifo.Flush(1);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.PauseTiming();
    bytes += static_cast<int64_t>(g_FifoData.nSentUnits) * kFifoUnit;
    g_FifoData.WaitSendFinish();
    state.ResumeTiming();
  }
  g_MarkJob.g_bMarkCallBusy = 0;
  g_bRunFlag = 0;
  plat::DeleteFilePath(qzbench::LibraryDir() + "/OffLineFile.tmp");
  const size_t jobBytes = static_cast<size_t>(bytes / std::max<int64_t>(1, state.iterations()));
  const double memcpyBps = MemcpyBps(jobBytes, jobUs > 1000000);
  state.SetItemsProcessed(words);
  state.SetBytesProcessed(bytes);
  state.counters["memcpy_Bps"] = memcpyBps;
  state.counters["of_memcpy"] = static_cast<double>(bytes) / seconds / memcpyBps;
}
BENCHMARK(BM_FlushPipeline)
    ->ArgNames({"layout", "ms"})
    ->ArgsProduct({{0, 1, 2}, {50, 4000}})
    ->Unit(benchmark::kMillisecond);

// The merge alone (the part that scales with the channel count), over the synthetic job of four
// channels.
void BM_MergeChannels(benchmark::State& state) {
  int64_t words = 0;
  g_MarkJob.g_bMarkCallBusy = 1;
  for (auto _ : state) {
    state.PauseTiming();
    g_MarkFloor[0].Reset();
    g_MarkData2Fifo.Reset();
    FillSyntheticJob(1000000);
    state.ResumeTiming();
    g_MarkData2Fifo.MergeChannels(0);
    words += static_cast<int64_t>(g_MarkData2Fifo.vMerged.size());
  }
  g_MarkFloor[0].Reset();
  g_MarkData2Fifo.Reset();
  g_MarkJob.g_bMarkCallBusy = 0;
  state.SetItemsProcessed(words);
}
BENCHMARK(BM_MergeChannels)->Unit(benchmark::kMillisecond);

// CRC-16 of one sub-block.
void BM_Crc16SubBlock(benchmark::State& state) {
  uint8_t sub[kCrc16Bytes];
  for (size_t i = 0; i < sizeof sub; ++i) sub[i] = static_cast<uint8_t>(i * 37);
  uint16_t init = 0;
  for (auto _ : state) benchmark::DoNotOptimize(CalcCrc16(sub, kStreamCrcPoly, init++, 0, 0, 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kCrc16Bytes);
}
BENCHMARK(BM_Crc16SubBlock);

}  // namespace
