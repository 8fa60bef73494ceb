// The flush pipeline over a synthetic job: galvanometer words every 10 µs on channel 0, laser words
// every 100 µs on laser 0's list, power words every 500 µs on its power-wave list and IO words every
// 1 ms on the main stream. One iteration merges one second of stream, encodes its time advances and
// builds every 2048-byte block in the layout given (layout 2 with a CRC-16 per 124-byte sub-block).
// The send step (block ring and card) is not part of it: it is bounded by the card, not the host.
//
// Reported: stream words per second (items), block bytes per second, and the job's stream time made
// per second of CPU ("stream_s_per_s"); BM_MemcpyReference copies the same bytes for comparison.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "frame/system_para.h"
#include "mark/crc16.h"
#include "mark/mark_data2fifo.h"
#include "mark/mark_floor.h"
#include "mark/mark_job.h"
#include "mark/stream_words.h"
#include "synthetic_job.h"

namespace {

constexpr int64_t kJobUs = 1000000;

void FillJob() { FillSyntheticJob(kJobUs); }

void ResetJob() {
  g_MarkJob.g_bMarkCallBusy = 1;
  g_SystemPara.nBufDataCheckType = 0;
  g_MarkFloor[0].Reset();
  g_MarkData2Fifo.Reset();
}

// Merges and encodes the filled job; the stream words.
const std::vector<uint32_t>& MergeAndEncode() {
  g_MarkData2Fifo.MergeChannels(0);
  g_MarkData2Fifo.EncodeDeltas(0, g_MarkData2Fifo.vMerged);
  return g_MarkData2Fifo.vStreamWords;
}

size_t StreamWordsOfJob() {
  ResetJob();
  FillJob();
  const size_t n = MergeAndEncode().size();
  ResetJob();
  return n;
}

void BM_FlushPipeline(benchmark::State& state) {
  const auto layout = static_cast<uint32_t>(state.range(0));
  const uint32_t payloadWords = StreamPayloadBytes(layout) / 4;
  std::vector<uint8_t> blocks;
  int64_t words = 0, blockBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ResetJob();
    FillJob();
    state.ResumeTiming();
    const std::vector<uint32_t>& stream = MergeAndEncode();
    const size_t nBlocks = (stream.size() + payloadWords - 1) / payloadWords;
    blocks.resize(nBlocks * 2048);
    uint32_t seq = 0;
    for (size_t b = 0; b < nBlocks; ++b) {
      const size_t off = b * payloadWords;
      const size_t take = std::min<size_t>(payloadWords, stream.size() - off);
      BuildStreamBlockFromWords(stream.data() + off, take, layout, seq, &blocks[b * 2048]);
      seq += SequenceStep(layout);
    }
    benchmark::DoNotOptimize(blocks.data());
    words += static_cast<int64_t>(stream.size());
    blockBytes += static_cast<int64_t>(blocks.size());
  }
  ResetJob();
  g_MarkJob.g_bMarkCallBusy = 0;
  state.SetItemsProcessed(words);
  state.SetBytesProcessed(blockBytes);
  state.counters["stream_s_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kJobUs / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FlushPipeline)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The merge alone (the part that scales with the channel count).
void BM_MergeChannels(benchmark::State& state) {
  int64_t words = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ResetJob();
    FillJob();
    state.ResumeTiming();
    g_MarkData2Fifo.MergeChannels(0);
    words += static_cast<int64_t>(g_MarkData2Fifo.vMerged.size());
  }
  ResetJob();
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

// Reference: a plain copy of the stream bytes of the same job.
void BM_MemcpyReference(benchmark::State& state) {
  const size_t bytes = StreamWordsOfJob() * 4;
  std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (bytes / 4)));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

}  // namespace
