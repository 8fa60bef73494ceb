// The end of the full read: the light-path acknowledge pattern, the named waits and the two worker
// threads.
#include <atomic>
#include <thread>

#include "api/library_startup.h"
#include "cardlink/watchdog.h"
#include "monitor/monitor_thread.h"
#include "support/faults.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

void ExpectWait(const std::string& name, uint32_t kind, uint32_t mask, uint32_t value) {
  WaitDesc d{0xEE, 0xEE, 0xEE};
  EXPECT_TRUE(LookupWaitDesc(name, d)) << name;
  EXPECT_EQ(d.kind, kind) << name;
  EXPECT_EQ(d.mask, mask) << name;
  EXPECT_EQ(d.value, value) << name;
}

TEST_F(SystemParaTest, AcknowledgePatternAndLaserWaits) {
  struct Case { const char* cfg; uint32_t previous; uint32_t expected; } cases[] = {
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=1\n", 0x55, 0x6000000},
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=2\n", 0x55, 0xC00000},
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=3\n", 0x55, 0x55},  // kept
      {"[LASER]\nnOssNeedAckIO=5\n", 0x55, 0x20},
      {"[LASER]\nnOssNeedAckIO=35\n", 0x55, 0x8},  // shift count masked to 0..31
      {"[LASER]\nnOssNeedAckIO=-1\n", 0x55, 0x80000000},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.nOssAckMask = g_SystemPara.nOssAckValue = c.previous;
    g_SystemPara.InitPara();
    EXPECT_EQ(g_SystemPara.nOssAckMask, c.expected) << c.cfg;
    EXPECT_EQ(g_SystemPara.nOssAckValue, c.expected) << c.cfg;
    ExpectWait("等待激光器空闲", 1, c.expected, c.expected);
    ExpectWait("等待激光器响应", 1, c.expected, 0);
  }
}

TEST_F(SystemParaTest, EnergySplitWaits) {
  struct Case { const char* cfg; uint32_t S, T; } cases[] = {
      {"", 0, 0x800},  // no energy splitting: no slave inputs
      {"[LASER]\nOSS_TYPE=5\n", 0x3000, 0x800},
      {"[LASER]\nOSS_TYPE=6\nnIO_OSS_Energy_Host_Ready_I=30\nnIO_OSS_Energy_Trig_I=40\n", 0xC0000000, 0x100},
      {"[LASER]\nOSS_TYPE=4\nnIO_OSS_Energy_Host_Ready_I=-1\nnIO_OSS_Energy_Trig_I=31\n", 0x80000000, 0x80000000},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitPara();
    ExpectWait("等待能分从卡就绪", 1, c.S, 0);
    ExpectWait("等待能分从卡就绪释放", 1, c.S, c.S);
    ExpectWait("等待能分SynTrig", 1, c.T, 0);
    ExpectWait("等待能分SynTrig释放", 1, c.T, c.T);
  }
}

TEST_F(SystemParaTest, WaitTableIsRebuiltWithItsBaseEntries) {
  AddWaitDesc(2, 1, 1, "stale");
  AddWaitDesc(1, 1, 1, "等待平台到位");
  g_SystemPara.InitPara();
  auto table = WaitDescSnapshot();
  EXPECT_EQ(table->size(), 11u);
  EXPECT_EQ(table->count("stale"), 0u);
  ExpectWait("等待平台到位", 4, 0x11, 0x10);
  ExpectWait("等待分光卡通讯成功且空闲", 5, 0x10F, 0);
  ExpectWait("等待分光卡光路申请反馈", 5, 0x3F0F, 0x300);
  ExpectWait("等待串口发送开始", 5, 0x1000000, 0x1000000);
  ExpectWait("等待串口发送结束", 5, 0x1000000, 0);

  WaitDesc d{7, 7, 7};
  EXPECT_FALSE(LookupWaitDesc("stale", d));
  EXPECT_EQ(d.kind, 7u);
}

TEST_F(SystemParaTest, ReadersNeverSeeAHalfBuiltTable) {
  std::atomic<bool> done{false};
  std::atomic<int> badSizes{0};
  std::thread reader([&] {
    while (!done.load()) {
      const size_t n = WaitDescSnapshot()->size();
      if (n != 0 && n != 11) badSizes.fetch_add(1);
    }
  });
  for (int i = 0; i < 300; ++i) g_SystemPara.InitParaWaits();
  done.store(true);
  reader.join();
  EXPECT_EQ(badSizes.load(), 0);
  EXPECT_EQ(WaitDescSnapshot()->size(), 11u);
}

// ---- worker threads

class WorkerThreadsTest : public SystemParaTest {
 protected:
  void TearDown() override {
    qztest::FailThreadCreation(false);
    SystemParaTest::TearDown();
    g_bStopThreads.store(0);
  }
};

TEST_F(WorkerThreadsTest, StartStopAndFailedCreation) {
  auto expectRunning = [](int running) {
    EXPECT_EQ(g_bMonitorRunning.load(), running);
    EXPECT_EQ(g_bCheckRunning.load(), running);
  };
  g_bStopThreads.store(1);
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);
  EXPECT_EQ(g_bStopThreads.load(), 0);
  expectRunning(1);
  qztest::FailThreadCreation(true);                      // any creation attempt now fails and clears its flag
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);  // a second start attempts none
  expectRunning(1);

  StopWorkerThreads();  // returns when both have ended and cleared their flags
  EXPECT_EQ(g_bStopThreads.load(), 1);
  expectRunning(0);
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);
  expectRunning(0);
  qztest::FailThreadCreation(false);
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);  // the monitor is not running: the next start makes a new pair
  expectRunning(1);
}

TEST_F(WorkerThreadsTest, FullReadStartsThePairOnce) {
  ApplyParameterFile();
  EXPECT_EQ(g_bMonitorRunning.load(), 1);
  EXPECT_EQ(g_bCheckRunning.load(), 1);
  qztest::FailThreadCreation(true);
  ApplyParameterFile();
  EXPECT_EQ(g_bMonitorRunning.load(), 1);
  EXPECT_EQ(g_bCheckRunning.load(), 1);
}

}  // namespace
}  // namespace qztest
