// QZ_Input round trips against the simulated card at zero latency, beside the bare driver-link
// exchange of the same frame: what the library adds to one immediate command (goal: at most 2 µs).
#include <benchmark/benchmark.h>

#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "frame/bytes.h"
#include "frame/system_para.h"
#include "platform/fault_point.h"
#include "platform/module.h"
#include "qzmark.h"
#include "sim_card.h"

namespace {

void BM_QZ_Input(benchmark::State& state) {
  if (!qzbench::OpenRawCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  uint32_t bits = 0;
  for (auto _ : state) {
    if (QZ_Input(&bits) != 0) {
      state.SkipWithError("QZ_Input failed");
      return;
    }
    benchmark::DoNotOptimize(bits);
  }
}
BENCHMARK(BM_QZ_Input);

// The same frame (command 33, sequence nibble 0) straight through the driver link: no lock, no
// status checks, no echo check.
void BM_BareExchange(benchmark::State& state) {
  if (!qzbench::OpenRawCard()) {
    state.SkipWithError("the simulated card is not beside the library");
    return;
  }
  uint8_t frame[10] = {};
  uint8_t reply[16] = {};
  PutU16(frame, CMD_INPUT);
  for (auto _ : state) {
    if (PortlaneApi.QZ_CmdSend(frame, 10) != 0 || PortlaneApi.QZ_CmdRecv(reply, 10) != 0) {
      state.SkipWithError("exchange failed");
      return;
    }
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_BareExchange);

}  // namespace
