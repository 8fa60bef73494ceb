#pragma once
// Laser fixture: a fresh configuration folder, a job opened inside a mark call, the lasers restored after.
#include <gtest/gtest.h>

#include "laser/laser.h"
#include "laser/wave_holder.h"
#include "markbase/job_state.h"
#include "markbase/mark_floor.h"
#include "mark/mark_job.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"
#include "test_mark_fixture.h"
#include "test_system_para_fixture.h"

namespace qztest {

class LaserTest : public SystemParaTest {
 protected:
  void SetUp() override {
    SystemParaTest::SetUp();
    g_SystemPara.nLaserCount = 2;
    g_SystemPara.nSteadyWindowUs = 600000;
    g_SystemPara.nLaserDelayZoom = 1;
    g_SystemPara.nPowLockWidthUS = 100;
    for (int i = 0; i < 2; ++i) {
      g_Laser[i] = CLaser{};
      g_Laser[i].nIndex = i;
      g_WaveHolder[i] = CWaveHolder(i);
      g_Laser[i].dbCurrentRangeDaOut = 10.0;
      g_Laser[i].dbCurrentRangeLaserIn = 10.0;
    }
    Job(0);
  }
  void TearDown() override {
    g_MarkJob.Reset();
    Job(1);  // binds floor 0 again
    g_MarkJob.g_bMarkCallBusy = 0;
    for (int i = 0; i < 2; ++i) {
      g_Laser[i] = CLaser{};
      g_WaveHolder[i] = CWaveHolder(i);
      for (auto& row : g_LaserTimingPara[i]) row = LaserTimingPara{};
    }
    SystemParaTest::TearDown();
  }
  // A new job inside a mark call: run mode 0 fires the laser, 1 does not.
  static void Job(uint32_t mode) {
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(mode);
  }
  static CMarkFloor& Floor() { return g_MarkFloor[0]; }
};

}  // namespace qztest
