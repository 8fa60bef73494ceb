#pragma once
// Inside one mark call: a fresh job on floor 0, zeroed parameters, windows of 1 s and 0.6 s, off-on 3 ms.
#include <optional>
#include <ostream>
#include <vector>

#include "frame/system_para.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_job.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"

inline void PrintTo(const TimedWord& w, std::ostream* os) {
  *os << "{" << static_cast<int64_t>(w.time) << ", 0x" << std::hex << w.word << std::dec << "}";
}

namespace qztest {

using Words = std::vector<TimedWord>;

inline uint64_t T(int64_t t) { return static_cast<uint64_t>(t); }

// One register wait at t + 1..3: the lanes of mask a and value b, the time-out word, the set-up word, the marker.
inline void AddWait(Words& out, uint64_t t, uint32_t a, uint32_t b, std::optional<uint32_t> timeoutWord,
                    uint32_t setup, uint32_t marker) {
  for (uint32_t lane = 0; lane < 4; ++lane) {
    out.push_back({t + 1, 0x52000000u | lane});
    out.push_back({t + 1, 0x55000000u | ((a >> 8 * lane) & 0xFF) << 8 | ((b >> 8 * lane) & 0xFF)});
  }
  if (timeoutWord) out.push_back({t + 2, *timeoutWord});
  out.push_back({t + 2, setup});
  out.push_back({t + 3, marker});
}

// The compare values of the encoder waits among `words`, in order.
inline std::vector<uint32_t> EncoderWaitValues(const Words& words) {
  std::vector<uint32_t> values;
  uint32_t v = 0, lane = 0;
  for (const TimedWord& w : words) {
    if ((w.word & 0xFFFFFFF0) == 0x52000000) lane = w.word & 0xF;
    if ((w.word >> 24) == 0x55) v = (v & ~(0xFFu << 8 * lane)) | (w.word & 0xFF) << 8 * lane;
    if (w.word == 0x51630020) values.push_back(v);
  }
  return values;
}

inline void SetWindows(uint32_t first, uint32_t steady) {
  g_SystemPara.HowLongTimeFirstBuf = first;
  g_SystemPara.nSteadyWindowUs = steady;
}

class MarkCallTest : public LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_SystemPara = SystemPara();
    g_SystemPara.LASER_OFF_ON_INTEVAL = 3000;
    SetWindows(1000000, 600000);
    g_MarkJob.g_bMarkCallBusy = 1;  // as a mark call holds the guard
    CMarkJob::InitJob(1);
  }
  void TearDown() override {
    g_MarkJob.Reset();
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(1);  // empties the floors and the pipeline and binds floor 0
    g_MarkJob.g_bMarkCallBusy = 0;
    LibFolderTest::TearDown();
  }
  static CMarkFloor& F(int i) { return g_MarkFloor[i]; }
};

}  // namespace qztest
