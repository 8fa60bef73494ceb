#pragma once
// Unit tests inside one mark call: a fresh job on floor 0 with zeroed parameters, hold-back windows
// of 1 s and 0.6 s and a laser off-on interval of 3 ms; the floors and the pipeline are emptied
// afterwards.
#include <ostream>
#include <vector>

#include "frame/system_para.h"
#include "mark/mark_data2fifo.h"
#include "mark/mark_floor.h"
#include "mark/mark_job.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"

inline void PrintTo(const TimedWord& w, std::ostream* os) {
  *os << "{" << static_cast<int64_t>(w.time) << ", 0x" << std::hex << w.word << std::dec << "}";
}

namespace qztest {

using Words = std::vector<TimedWord>;

inline uint64_t T(int64_t t) { return static_cast<uint64_t>(t); }

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
