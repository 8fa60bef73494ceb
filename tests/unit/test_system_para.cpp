// The full read of the system parameters, the laser reader, the acknowledge pattern, the named waits and the workers.
#include <atomic>
#include <thread>
#include <tuple>

#include "api/library_startup.h"
#include "cardlink/watchdog.h"
#include "monitor/monitor_thread.h"
#include "support/faults.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

#define FIELD(f) [](const SystemPara& p) { return static_cast<double>(p.f); }

// The example configuration holds every key's default: it reads as an empty one but for its version.
TEST_F(SystemParaTest, ExampleConfigurationDefaultsFirstBufferWindowSerialSectionAndConversions) {
  g_SystemPara.InitPara();
  // Static, so that its padding is zero like the global's (a memberwise copy keeps padding).
  static SystemPara fromDefaults{};
  fromDefaults = g_SystemPara;
  EXPECT_EQ(0, fromDefaults.CardVertion);
  fromDefaults.CardVertion = 6;
  std::string example;
  ASSERT_TRUE(plat::ReadWholeFile(NativePath(QZ_SOURCE_DIR "/examples/ini/QZMarkPara.cfg"), example));
  WriteCfg(example);
  g_SystemPara = SystemPara{};
  g_SystemPara.InitPara();
  const auto* a = reinterpret_cast<const unsigned char*>(&fromDefaults);
  const auto* b = reinterpret_cast<const unsigned char*>(&g_SystemPara);
  for (size_t i = 0; i < sizeof(SystemPara); ++i) ASSERT_EQ(a[i], b[i]) << "record offset " << i;
  EXPECT_EQ(ReadCfg(), example);  // nothing written back
  EXPECT_TRUE(Boxes().empty());
  // The first buffer window and its box.
  const std::string en =
      "topmost ok: The parameter nHowLongTimeFirstBuf cannot be set to be greater than 30000000";
  const std::string zh = "topmost ok: 参数nHowLongTimeFirstBuf设置不能大于30000000";
  struct Case { const char* cfg; uint8_t langZh; uint32_t first, window; std::string box; } cases[] = {
      {"[Main]\nHowLongTimeFirstBuf=40000000\n[OTHER]\ndbBufLenCompFirst=1.5\n", 0, 40000000, 38000000, en},
      {"[Main]\nHowLongTimeFirstBuf=40000000\n", 1, 40000000, 24000000, zh},
      {"[Main]\nHowLongTimeFirstBuf=30000000\n", 0, 30000000, 18000000, ""},
      {"[Main]\nHowLongTimeFirstBuf=1000001\n[OTHER]\ndbBufLenCompFirst=0.5\n", 0, 1000001, 500000, ""},
      {"[OTHER]\ndbBufLenCompFirst=nan\n", 0, 1000000, 0, ""}, {"[OTHER]\ndbBufLenCompFirst=-0.5\n", 0, 1000000, 0, ""},
      // A negative setting reads as a very long window: reported, used as read, no overflow.
      {"[Main]\nHowLongTimeFirstBuf=-1\n", 0, 4294967295u, 2576980377u, en},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    ClearLogs();
    g_bLangZh = c.langZh;
    g_SystemPara.InitParaOther();
    EXPECT_EQ(std::tuple(g_SystemPara.HowLongTimeFirstBuf, g_SystemPara.nSteadyWindowUs), std::tuple(c.first, c.window))
        << c.cfg;
    EXPECT_EQ(Boxes(), c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.box}) << c.cfg;
  }
  // The laser's serial section by its selector.
  WriteCfg("[Uart]\nBAUD=10\nEParity=20\nnUartEven1Odd0=1\n[UartCW]\nBAUD=11\nEParity=21\n"
           "[UartRed]\nBAUD=12\nEParity=22\n");
  struct SerialCase { int32_t selector, baud, parity; } serials[] = {
      {0, 10, 20}, {1, 11, 21}, {2, 12, 22}, {3, 11, 21}, {4, 10, 20}, {-1, 10, 20}};
  for (const SerialCase& c : serials) {
    WriteMainCfgInt("Uart", "nSerialFor3YLPN2Red1CW0none", c.selector);
    g_SystemPara.InitParaSerial();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.Uart_BAUD, p.Uart_EParity, p.nUartEven1Odd0), std::tuple(c.baud, c.parity, 1)) << c.selector;
  }
  // Conversions, clamps and keys read only under a condition.
  struct ConvCase { const char* cfg; double (*field)(const SystemPara&); double expected; } conversions[] = {
      {"[main]\nnRecordSleep=12abc\n", FIELD(nRecordSleep), 12},
      {"[Main]\nbRecordCheck=\n", FIELD(bRecordCheck), 0},  // present but empty
      {"[HARDWARE]\nMarkEnd_Y=5\n", FIELD(MarkEnd_Z), 5},  // Z defaults to Y, Y to X
      {"[HARDWARE]\nMarkEnd_X=-2.5\n", FIELD(MarkEnd_Z), -2.5},
      {"[SCAN]\ndbFiltLineLen=2.75\n", FIELD(dbFiltLineLen), 2},  // read as an integer
      {"[SCAN]\ndbPolygonBreakAng=90\n", FIELD(dbPolygonBreakAng), 1.5707963267948966},
      {"[Main]\nnThreadPriority=7\n", FIELD(nThreadPriority), 2},
      {"[Main]\nnThreadPriority=-1\n", FIELD(nThreadPriority), 0},
      {"[LASER]\nnLaserDelayZoom=0\n", FIELD(nLaserDelayZoom), 1},
      {"[LASER]\ndbLastPulseThreshold=0\n", FIELD(dbLastPulseThreshold), 0.000000001},
      {"[LASER]\ndbLastPulseThreshold=1.5\n", FIELD(dbLastPulseThreshold), 0.9999999},
      {"[LASER]\ndbLastPulseThreshold=nan\n", FIELD(dbLastPulseThreshold), 0.000000001},
      {"[LASER]\nnPrePwmH=100\n", FIELD(nPrePwmH), 4800},
      {"[LASER]\nnPrePwmH=100000000\n", FIELD(nPrePwmH), 2147483647.0},
      {"[LASER]\nnPrePwmL=-100000000\n", FIELD(nPrePwmL), -2147483648.0},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=-1\n", FIELD(dbLaserOverTimeAlarmCntMs), 0},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=1e12\n", FIELD(dbLaserOverTimeAlarmCntMs), 4294967295.0},
      // Comparing laser segments needs the monitor thread's records.
      {"[Main]\nbRecordInThread=0\nbAutoCheckMarkInfoFB=1\n", FIELD(bAutoCheckMarkInfoFB), 0},
      {"[Main]\nbRecordInThread=1\nbAutoCheckMarkInfoFB=1\n", FIELD(bAutoCheckMarkInfoFB), 1},
      // Fibre idle PWM only for fibre lasers (kind 2).
      {"[LASER]\nLASER_TYPE=2\n[FIBER]\nnIdlePwmH=5\n", FIELD(nIdlePwmH), 240},
      {"[LASER]\nLASER_TYPE=1\n[FIBER]\nnIdlePwmH=5\nbAllowFiberPwmDutyChange=1\n", FIELD(nIdlePwmH), 0},
      {"[LASER]\nLASER_TYPE=1\n[FIBER]\nbAllowFiberPwmDutyChange=1\n", FIELD(bAllowFiberPwmDutyChange), 0},
      // The record mask widens to every bit for kinds 0 and 1 only.
      {"[LASER]\nLASER_TYPE=0\n[Main]\nnRecordMask=-4194305\n", FIELD(nRecordMask), -1},
      {"[LASER]\nLASER_TYPE=1\n[Main]\nnRecordMask=-4194305\n", FIELD(nRecordMask), -1},
      {"[LASER]\nLASER_TYPE=2\n[Main]\nnRecordMask=-4194305\n", FIELD(nRecordMask), -4194305},
      {"[Main]\nnYlogLevel=3\n", FIELD(nYlogLevel), 3},  // last: its level goes to the daily log, below
  };
  for (const ConvCase& c : conversions) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitParaMain();
    g_SystemPara.InitParaScan();
    g_SystemPara.InitParaLaser();
    g_SystemPara.InitParaOther();
    EXPECT_DOUBLE_EQ(c.field(g_SystemPara), c.expected) << c.cfg;
  }
  EXPECT_EQ(g_InfoLog.MinLevel(), 3);
}

// ---- the laser reader: LASER_TYPE_pre, light-path flags, sections by laser kind, wave numbers

TEST_F(SystemParaTest, LaserTypeChangeSectionsWaveNumbersAndLightPathFlagsByLaserKind) {
  WriteCfg("[LASER]\nLASER_TYPE=1\nLASER_TYPE_pre=2\n");
  g_SystemPara.InitParaLaser();
  EXPECT_EQ(g_SystemPara.LASER_TYPE_pre, 2);  // the field keeps what was read
  EXPECT_EQ(ReadMainInt("LASER", "LASER_TYPE_pre", -9), 1);
  const std::string afterFirst = ReadCfg();
  g_SystemPara.InitParaLaser();  // nothing changed: nothing written, nothing logged
  EXPECT_EQ(std::tuple(g_SystemPara.LASER_TYPE_pre, ReadCfg()), std::tuple(1, afterFirst));
  const auto log = ErrorLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("[INFO]", 0), 0u) << log[0];  // at level 1
  EXPECT_NE(log[0].find("SystemPara::InitParaLaser:LASER_TYPE Change to 1"), std::string::npos) << log[0];
  // The sections and the wave-number selection by laser kind.
  const std::string sections =
      "[Main]\nMarkEndResetDaToZero=11\n[FIBER]\nMarkEndResetDaToZero=12\nLASER_OFF_ON_INTEVAL=102\n"
      "[YAG]\nLASER_OFF_ON_INTEVAL=100\n[YLR]\nLASER_OFF_ON_INTEVAL=101\n[SPI]\nLASER_OFF_ON_INTEVAL=103\n"
      "[EP]\nLASER_OFF_ON_INTEVAL=104\n[LASER]\nLASER_OFF_ON_INTEVAL=105\nMarkEndResetDaToZero=13\n";
  struct Case { int32_t type, reset, offOn; } cases[] = {
      {0, 11, 100}, {1, 11, 101}, {2, 12, 102}, {3, 11, 103}, {4, 11, 104}, {5, 11, 105}, {6, 11, 102}, {7, 11, 101},
      // Kinds this library does not know: "Main" and the default interval, read from nowhere.
      {8, 11, 3000}, {9, 11, 3000}, {-1, 11, 3000},
  };
  for (const Case& c : cases) {
    WriteCfg(sections + "LASER_TYPE=" + std::to_string(c.type) + "\nLASER_TYPE_pre=" +
             std::to_string(c.type) + "\n");
    g_SystemPara.InitParaLaser();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.MarkEndResetDaToZero, p.LASER_OFF_ON_INTEVAL), std::tuple(c.reset, c.offOn)) << c.type;
  }
  // The wave-number selection by laser kind.
  constexpr int32_t kKeptMask = 77, kKeptBit0 = 88;
  // laser: the keys of [LASER] besides LASER_TYPE_pre.
  struct WaveCase { const char* laser; int32_t mode, mask, bit0, lock, yls, lasers; } waves[] = {
      {"LASER_TYPE=0\nnWaveNoLock=2\n", 1, 0x1F, 23, 2, 0, 1},
      {"LASER_TYPE=0\nnWaveNoLock=2\nbYLS=4\n", 1, 0xF, 24, 2, 4, 1},
      {"LASER_TYPE=1\nnWaveNoLock=2\nbYLS=3\n", 1, 7, 25, -1, 3, 1}, {"LASER_TYPE=7\nbYLS=5\n", 1, 1, 25, -1, 5, 2},
      {"LASER_TYPE=1\nbYLS=2\n", -1, kKeptMask, kKeptBit0, -1, 2, 1},
      {"LASER_TYPE=2\nbYLS=4\n", 2, 0xFFFF, kKeptBit0, -1, 0, 1}, {"LASER_TYPE=3\n", 1, 0x3F, 23, -1, 0, 1},
      {"LASER_TYPE=3\n[SPI]\nbO29WaveNoSPI=1\n", 1, 0x7F, 23, -1, 0, 1},
      {"LASER_TYPE=4\nbYLS=4\nnWaveNo0Cus=12\n", -1, kKeptMask, 12, -1, 0, 1},
      {"LASER_TYPE=5\n", 3, kKeptMask, kKeptBit0, -1, 0, 2}, {"LASER_TYPE=6\n", -1, kKeptMask, kKeptBit0, -1, 0, 2},
      {"LASER_TYPE=0\nbYLS=3\nnWaveNo0Cus=12\n", 1, 7, 12, -1, 3, 1},
  };
  for (const WaveCase& c : waves) {
    WriteCfg(std::string("[LASER]\nLASER_TYPE_pre=-5\n") + c.laser);
    g_SystemPara = SystemPara{};
    g_SystemPara.nWaveNoMask = kKeptMask;
    g_SystemPara.nWaveNoBit0IO = kKeptBit0;
    g_SystemPara.nWaveNoLock = 55;
    g_SystemPara.bYLS = 55;
    g_SystemPara.InitParaLaser();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.nWaveNoMode, p.nWaveNoMask, p.nWaveNoBit0IO, p.nWaveNoLock, p.bYLS, p.nLaserCount,
                         p.nPowerChannelCount),
              std::tuple(c.mode, c.mask, c.bit0, c.lock, c.yls, c.lasers, c.lasers)) << c.laser;
  }
  // The light-path flags from OSS_TYPE.
  WriteCfg("[LASER]\nIoInFromOss=6\n");
  struct LightCase { int32_t t; uint8_t type2, type1, type1Or2, type3, energy; int32_t slaves, ioIn; } lights[] = {
      {0, 0, 0, 0, 0, 0, 9, 0}, {1, 0, 1, 1, 0, 0, 9, 6}, {2, 1, 0, 1, 0, 0, 9, 6},
      {3, 0, 0, 0, 1, 0, 9, 0}, {4, 0, 0, 0, 0, 1, 1, 0}, {5, 0, 0, 0, 0, 1, 2, 0},
      {6, 0, 0, 0, 0, 1, 3, 0}, {7, 0, 0, 0, 0, 0, 9, 0}, {-1, 0, 0, 0, 0, 0, 9, 0},
  };
  for (const LightCase& c : lights) {
    g_SystemPara = SystemPara{};
    g_SystemPara.nEnergySplitSlaves = 9;  // kept unless an energy-split type is set
    g_SystemPara.IoInFromOss = 9;
    g_SystemPara.bOssEnergySplit = 1;
    g_SystemPara.SetLaserIoFlags(c.t);
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.bOssType2, p.bOssType1, p.bOssType1Or2, p.bOssType3, p.bOssEnergySplit, p.nEnergySplitSlaves,
                         p.IoInFromOss),
              std::tuple(c.type2, c.type1, c.type1Or2, c.type3, c.energy, c.slaves, c.ioIn)) << c.t;
  }
  // Switching the laser parameters while the laser is on overrides the light path.
  g_SystemPara = SystemPara{};
  struct SwitchCase { const char* cfg; uint8_t type1, type2, type1Or2; int32_t ioIn, pause, offOn; } switches[] = {
      {"[LASER]\nOSS_TYPE=2\nIoInFromOss=4\n[FIBER]\nLASER_OFF_ON_INTEVAL=70\n", 0, 0, 0, 0, 0, 10},
      {"[LASER]\nOSS_TYPE=1\nIoInFromOss=4\n", 1, 0, 0, 0, 0, 10},
      {"[LASER]\nOSS_TYPE=2\nIoInFromOss=4\n[FIBER]\nLASER_OFF_ON_INTEVAL=70\n"
       "[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n",
       0, 1, 1, 4, 1, 70},
  };
  for (const SwitchCase& c : switches) {
    WriteCfg(c.cfg);
    g_SystemPara.InitParaLaser();
    g_SystemPara.InitParaOther();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(std::tuple(p.bOssType1, p.bOssType2, p.bOssType1Or2, p.IoInFromOss, p.bMarkAllowPause,
                         p.LASER_OFF_ON_INTEVAL),
              std::tuple(c.type1, c.type2, c.type1Or2, c.ioIn, c.pause, c.offOn)) << c.cfg;
  }
}

// ---- the acknowledge pattern and the named waits

void ExpectWait(const std::string& name, uint32_t kind, uint32_t mask, uint32_t value) {
  WaitDesc d{0xEE, 0xEE, 0xEE};
  EXPECT_TRUE(LookupWaitDesc(name, d)) << name;
  EXPECT_EQ(std::tuple(d.kind, d.mask, d.value), std::tuple(kind, mask, value)) << name;
}

TEST_F(SystemParaTest, AcknowledgePatternLaserWaitsAndTheWaitTableRebuiltNeverHalfBuilt) {
  // The acknowledge pattern (previous 0x55), the slave-ready inputs S and the trigger input T.
  struct Case { const char* cfg; uint32_t ack, S, T; } cases[] = {
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=1\n", 0x6000000, 0, 0x800},
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=2\n", 0xC00000, 0, 0x800},
      {"[LASER]\nbOssCusApplyAckIO=0\n[Main]\nnHardWareVertionK=3\n", 0x55, 0, 0x800},  // kept
      {"[LASER]\nnOssNeedAckIO=5\n", 0x20, 0, 0x800},
      {"[LASER]\nnOssNeedAckIO=35\n", 0x8, 0, 0x800},  // shift count masked to 0..31
      {"[LASER]\nnOssNeedAckIO=-1\n", 0x80000000, 0, 0x800},
      {"[LASER]\nOSS_TYPE=5\n", 0x800000, 0x3000, 0x800},
      {"[LASER]\nOSS_TYPE=6\nnIO_OSS_Energy_Host_Ready_I=30\nnIO_OSS_Energy_Trig_I=40\n", 0x800000, 0xC0000000, 0x100},
      {"[LASER]\nOSS_TYPE=4\nnIO_OSS_Energy_Host_Ready_I=-1\nnIO_OSS_Energy_Trig_I=31\n", 0x800000, 0x80000000,
       0x80000000},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.nOssAckMask = g_SystemPara.nOssAckValue = 0x55;
    g_SystemPara.InitPara();
    ExpectWait("等待激光器空闲", 1, c.ack, c.ack);
    ExpectWait("等待激光器响应", 1, c.ack, 0);
    ExpectWait("等待能分从卡就绪", 1, c.S, 0);
    ExpectWait("等待能分从卡就绪释放", 1, c.S, c.S);
    ExpectWait("等待能分SynTrig", 1, c.T, 0);
    ExpectWait("等待能分SynTrig释放", 1, c.T, c.T);
  }
  // The wait table is rebuilt with its base entries.
  WriteCfg("");
  AddWaitDesc(2, 1, 1, "stale");
  AddWaitDesc(1, 1, 1, "等待平台到位");
  g_SystemPara.InitPara();
  auto table = WaitDescSnapshot();
  EXPECT_EQ(table->size(), 11u);
  ExpectWait("等待平台到位", 4, 0x11, 0x10);
  ExpectWait("等待分光卡通讯成功且空闲", 5, 0x10F, 0);
  ExpectWait("等待分光卡光路申请反馈", 5, 0x3F0F, 0x300);
  ExpectWait("等待串口发送开始", 5, 0x1000000, 0x1000000);
  ExpectWait("等待串口发送结束", 5, 0x1000000, 0);
  WaitDesc d{7, 7, 7};
  EXPECT_FALSE(LookupWaitDesc("stale", d));
  EXPECT_EQ(d.kind, 7u);
  // Readers never see a half-built table.
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
}

// ---- worker threads

class WorkerThreadsTest : public SystemParaTest {
 protected:
  void TearDown() override {
    qztest::FailThreadCreation(false);
    SystemParaTest::TearDown();
    g_bStopThreads.store(0);
  }
  static void ExpectRunning(int running) {
    EXPECT_EQ(std::tuple(g_bMonitorRunning.load(), g_bCheckRunning.load()), std::tuple(running, running));
  }
};

TEST_F(WorkerThreadsTest, StartStopAndFailedCreation) {
  g_bStopThreads.store(1);
  ApplyParameterFile();  // the full read starts the pair
  EXPECT_EQ(g_bStopThreads.load(), 0);
  ExpectRunning(1);
  qztest::FailThreadCreation(true);  // any creation attempt now fails and clears its flag
  ApplyParameterFile();              // a second start attempts none
  ExpectRunning(1);
  StopWorkerThreads();  // returns when both have ended and cleared their flags
  EXPECT_EQ(g_bStopThreads.load(), 1);
  ExpectRunning(0);
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);
  ExpectRunning(0);
  qztest::FailThreadCreation(false);
  StartWorkerThreads(MonitorThreadProc, UsbCheckStock);  // the monitor is not running: the next start makes a new pair
  ExpectRunning(1);
}

}  // namespace
}  // namespace qztest
