// Rotation marking's rewrite of a merged queue: a synthetic 10-s job with X and Y position words
// every 10 µs and a segment every 5 ms (start marker, ramp from 10 µs to 4 ms), its Y positions
// rising by 20 codes per segment, a non-vector kind marker closing a run every 100 segments. One
// iteration rewrites the whole queue at the final flush: 2 M queue entries in, the motor moves and
// ramps of 20 runs added.
//
// Reported: queue entries per second (items); goal 20 M per second on one core.
#include <benchmark/benchmark.h>

#include <vector>

#include "frame/wait_desc.h"
#include "mark/rot_mark.h"
#include "markbase/stream_words.h"

namespace {

constexpr uint64_t kJobUs = 10000000;
constexpr uint64_t kSegmentUs = 5000;

std::vector<TimedWord> SyntheticQueue() {
  std::vector<TimedWord> q;
  q.reserve(2 * kJobUs / 10 + 4 * kJobUs / kSegmentUs);
  uint32_t y = 1000;
  uint64_t segments = 0;
  for (uint64_t t = 0; t < kJobUs; t += 10) {
    const uint64_t inSeg = t % kSegmentUs;
    if (inSeg == 0) {
      if (segments % 100 == 0 && segments != 0) q.push_back({t, SW_KIND_MARKER | KIND_IO});
      q.push_back({t, SW_ROT_SEGMENT_1});
      ++segments;
      y += 20;
    }
    if (inSeg == 10) q.push_back({t, SW_ROT_SEGMENT_2});
    if (inSeg == 4000) q.push_back({t, SW_ROT_SEGMENT_3});
    q.push_back({t, 0x01000000u | static_cast<uint32_t>(t & 0xFFFF)});
    q.push_back({t, 0x01010000u | (y & 0xFFFF)});
  }
  q.push_back({kJobUs, SW_KIND_MARKER | KIND_END});
  return q;
}

void BM_RotMarkProcess(benchmark::State& state) {
  InitWaitDescs();
  RotMarkSettings s;
  s.axis = 1;
  s.speedLimit = 100;
  s.rampFactor = 1;
  const std::vector<TimedWord> job = SyntheticQueue();
  std::vector<TimedWord> queue, out;
  RotMark rot;
  size_t outSize = 0;
  for (auto _ : state) {
    state.PauseTiming();
    queue = job;
    out.clear();
    rot.Begin(s);
    state.ResumeTiming();
    rot.Process(true, queue, out);
    benchmark::DoNotOptimize(out.data());
    outSize = out.size();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * job.size()));
  state.counters["out_entries"] = static_cast<double>(outSize);
}
BENCHMARK(BM_RotMarkProcess)->Unit(benchmark::kMillisecond);

}  // namespace
