#include "mark/scan_sequences.h"

#include "frame/system_para.h"
#include "mark/mark_floor.h"
#include "mark/job_state.h"
#include "mark/stream_words.h"

void AppendMarkStartSeq() {
  const SystemPara& p = g_SystemPara;
  if (p.bNewBoxCali)
    AppendStreamWord(1, 0, 0x04000000u | static_cast<uint32_t>(p.bCardNotGridel & 1) << 1 | (g_MarkJob.bLaserJob ? 0u : 1u));
  AppendStreamWord(1, 0, p.bOut0IsRun ? 0x20001001u : SW_NOP);
  if (g_MarkJob.bLaserJob) AppendStreamWord(1, 0, 0x15000001u);
}

void AppendMarkEndSeq(uint32_t, uint8_t) {
  const SystemPara& p = g_SystemPara;
  AppendStreamWord(1, 0, p.bOut1IsLaser ? 0x20002000u : SW_NOP);
  AppendStreamWord(1, 0, p.bOut0IsRun ? 0x20001000u : SW_NOP);
  AppendStreamWord(1, 0, SW_END);
  AppendStreamWord(1, 0, SW_NOP);
}

void MoveScannerToRest(int) {}
