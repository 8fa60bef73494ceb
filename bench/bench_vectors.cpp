// Dense vector jobs through the exports (one QZ_MarkVector call per polyline), written as offline
// downloads (run mode 2, the file in large buffered writes), so that the simulated card's own
// decoding is not part of the measure. Arguments: the job's kind (vector_jobs.h) and the card
// version (96: block layout 2; 85: layout 1). One job of the same kind runs before the timing, so
// that the library's buffers are grown and the pages of the file are warm.
//
// Reported: stream_s_per_cpu_s, the stream time the library generates per CPU second of the host
// thread, which is the ratio to the limit (the card runs 1 s of stream in 1 s; the goal is over
// 1000), and the library's CPU time per polyline.
#include <benchmark/benchmark.h>

#include "vector_jobs.h"

namespace {

using namespace qzbench;

int PolylinesOf(int kind) {
  switch (kind) {
    case kJoined: return 100000;
    case kSeparate: return 40000;
    case kHatch: return 2000;
    default: return 30000;
  }
}

void BM_DenseVectorJob(benchmark::State& state) {
  if (!OpenCardForJobs()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  const int kind = static_cast<int>(state.range(0));
  UseCardVersion(static_cast<int32_t>(state.range(1)));
  const std::vector<Polyline> job = MakeJob(kind, PolylinesOf(kind));
  if (RunJob(2, job) < 0) {  // the warm-up
    state.SkipWithError("the warm-up job failed");
    return;
  }
  double streamSeconds = 0.0;
  for (auto _ : state) {
    const int64_t us = RunJob(2, job);
    if (us < 0) {
      state.SkipWithError("the job failed");
      break;
    }
    streamSeconds += static_cast<double>(us) / 1e6;
  }
  UseCardVersion(96);
  plat::DeleteFilePath(OfflineFile());  // the download is not kept in the deploy folder
  state.SetLabel(JobKindName(kind));
  state.counters["stream_s_per_cpu_s"] = benchmark::Counter(streamSeconds, benchmark::Counter::kIsRate);
  state.counters["stream_s_per_job"] = streamSeconds / static_cast<double>(state.iterations());
  state.counters["cpu_s_per_polyline"] =
      benchmark::Counter(static_cast<double>(job.size()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DenseVectorJob)
    ->ArgNames({"kind", "version"})
    ->ArgsProduct({{kJoined, kSeparate, kHatch, kText}, {96, 85}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
