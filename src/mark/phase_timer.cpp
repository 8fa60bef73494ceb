#include "mark/phase_timer.h"

#include "frame/conv.h"
#include "frame/system_para.h"
#include "platform/clock.h"

CPhaseTimer g_PhaseTimer;

namespace {
bool Timing() { return g_SystemPara.bPrintTime == 1; }
}  // namespace

double NowMs() { return plat::PerfMs(); }

void CPhaseTimer::Reset() {
  plat::LockGuard g(cs_);
  for (auto& p : phase) p[0] = p[1] = 0.0;
  for (auto& r : bRunning) r = 0;
}

void CPhaseTimer::Start(PhaseId p) {
  if (!Timing()) return;
  plat::LockGuard g(cs_);
  phase[p][0] = NowMs();
  bRunning[p] = 1;
}

void CPhaseTimer::End(PhaseId p) {
  if (!Timing()) return;
  plat::LockGuard g(cs_);
  // A phase that was not started (an end without a job, a job ended twice) adds nothing.
  if (!bRunning[p]) return;
  phase[p][1] += NowMs() - phase[p][0];
  bRunning[p] = 0;
}

std::array<double, PHASE_COUNT> CPhaseTimer::Totals() const {
  plat::LockGuard g(cs_);
  std::array<double, PHASE_COUNT> t{};
  for (int p = 0; p < PHASE_COUNT; ++p) t[p] = phase[p][1];
  return t;
}

void CPhaseTimer::StartJob(uint32_t tick) {
  bFirstCall = 1;
  nStartTick = nFirstBlockTick = nLastBlockTick = tick;
  nMaxGapMs = 0;
}

void CPhaseTimer::Switch(uint32_t tick) {
  if (bFirstCall) {
    nFirstBlockTick = tick;
    End(PHASE_DOWN_PRE);
    Start(PHASE_DOWN);
    bFirstCall = 0;
  } else if (tick - nLastBlockTick > nMaxGapMs) {
    nMaxGapMs = tick - nLastBlockTick;
  }
  nLastBlockTick = tick;
}

void ResetPhaseTimer() {
  g_PhaseTimer.Reset();
  g_PhaseTimer.StartJob(0);
}

void AppendTimingReport(std::string& text) {
  if (!Timing()) return;
  const std::array<double, PHASE_COUNT> t = g_PhaseTimer.Totals();
  text += StrFormat("downPre = %.1f\r\ndown = %.1f\r\ndownAfter = %.1f\r\nmark = %.1f\r\nend = %.1f\r\n ",
                    t[PHASE_DOWN_PRE], t[PHASE_DOWN], t[PHASE_DOWN_AFTER], t[PHASE_MARK], t[PHASE_END]);
}
