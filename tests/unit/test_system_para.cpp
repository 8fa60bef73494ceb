// The full read of the system parameters: defaults, conversions, clamps and the keys of sections
// "Main", "OTHER", "MOTOR", "CCDCOMM" and "Uart".
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

struct Row {
  const char* name;
  double actual;
  double expected;
};

// Every field after a full read of an empty configuration. Values changed by a later step of the
// read are given as they end up: bEnableSwitchLaserParaWhenLaserOn (default 1) sets the laser
// off-on interval to 10 and clears pausing and IoInFromOss.
std::vector<Row> DefaultRows(const SystemPara& p) {
  return {
      {"CardVertion", double(p.CardVertion), 0}, {"nHardWareVertionK", double(p.nHardWareVertionK), 2},
      {"bRecordWhenMark", double(p.bRecordWhenMark), 0},
      {"bUpdateParaInCardWhenOpen", double(p.bUpdateParaInCardWhenOpen), 1},
      {"bRecordInThread", double(p.bRecordInThread), 0}, {"bAutoCheckMarkInfoFB", double(p.bAutoCheckMarkInfoFB), 0},
      {"bRecordCheck", double(p.bRecordCheck), 1}, {"nRecordSleep", double(p.nRecordSleep), 2},
      {"nRecordMask", double(p.nRecordMask), 2143289343}, {"bRecordScan", double(p.bRecordScan), 1},
      {"bRecordDA", double(p.bRecordDA), 1}, {"wob", double(p.wob), 0}, {"bKvxOSS", double(p.bKvxOSS), 0},
      {"nCheckFlashType", double(p.nCheckFlashType), 2},
      {"bMessageBoxUsbLongTime", double(p.bMessageBoxUsbLongTime), 1}, {"bIgnoreSubCard", double(p.bIgnoreSubCard), 0},
      // scanner
      {"BASETIME", double(p.BASETIME), 10}, {"MarkEnd_X", p.MarkEnd_X, 0}, {"MarkEnd_Y", p.MarkEnd_Y, 0},
      {"MarkEnd_Z", p.MarkEnd_Z, 0}, {"bHaveScanZ", double(p.bHaveScanZ), 0}, {"dbZBox", p.dbZBox, 100},
      {"FRAME_SPEED", p.FRAME_SPEED, 4000}, {"bCloseFeedback", double(p.bCloseFeedback), 0},
      {"nScanFeedbackDisLimit", double(p.nScanFeedbackDisLimit), 0},
      {"nScanFeedbackTimeAllowMs", double(p.nScanFeedbackTimeAllowMs), 10},
      {"nArriveTime", double(p.nArriveTime), 20}, {"nArriveNear", double(p.nArriveNear), 20},
      {"nScanType", double(p.nScanType), 0}, {"nScanFeedBackAlarmOkV", double(p.nScanFeedBackAlarmOkV), 0},
      {"nScanFbCheckMask", double(p.nScanFbCheckMask), 231}, {"nScanFbCheckDst", double(p.nScanFbCheckDst), 253},
      {"bScanSpiClose", double(p.bScanSpiClose), 0}, {"bCardNotGridel", double(p.bCardNotGridel), 0},
      {"bFiltLine", double(p.bFiltLine), 0}, {"dbFiltLineAng", p.dbFiltLineAng, 0.3},
      {"dbFiltLineLen", p.dbFiltLineLen, 2000}, {"bPolygonBreak", double(p.bPolygonBreak), 0},
      {"dbPolygonBreakAng", p.dbPolygonBreakAng, 0.7853981633974483},
      {"dbDisMaxTwoLineConnectMM", p.dbDisMaxTwoLineConnectMM, 0.001},
      {"nScanStepLimit", double(p.nScanStepLimit), 1000}, {"bScanNotBack", double(p.bScanNotBack), 0},
      {"nDashedlineLayNo", double(p.nDashedlineLayNo), -1},
      // laser
      {"LASER_TYPE", double(p.LASER_TYPE), 2}, {"LASER_TYPE_pre", double(p.LASER_TYPE_pre), 2},
      {"LASER_IPG100W_TYPE", double(p.LASER_IPG100W_TYPE), 0}, {"OSS_TYPE", double(p.OSS_TYPE), 0},
      {"IoInFromOss", double(p.IoInFromOss), 0}, {"nIO_OSS_Energy_Trig_I", double(p.nIO_OSS_Energy_Trig_I), 11},
      {"nIO_OSS_Energy_Host_Trig_O", double(p.nIO_OSS_Energy_Host_Trig_O), 3},
      {"nIO_OSS_Energy_Host_Ready_I", double(p.nIO_OSS_Energy_Host_Ready_I), 12},
      {"nIO_OSS_Energy_Dev_Ready_O", double(p.nIO_OSS_Energy_Dev_Ready_O), 3},
      {"nRedModeNoOss", double(p.nRedModeNoOss), 0}, {"bIgnoreOssIdle", double(p.bIgnoreOssIdle), 0},
      {"bOssCusApplyAckIO", double(p.bOssCusApplyAckIO), 1}, {"nOssNeedApplyIO", double(p.nOssNeedApplyIO), 30},
      {"nOssNeedAckIO", double(p.nOssNeedAckIO), 23}, {"nAdFilter", double(p.nAdFilter), 4},
      {"bLockLaserAllow", double(p.bLockLaserAllow), 0}, {"nLockLaserSwitchIO", double(p.nLockLaserSwitchIO), 7},
      {"bForbidLaserIOEn", double(p.bForbidLaserIOEn), 0}, {"nForbidLaserIOMask", double(p.nForbidLaserIOMask), 0},
      {"MarkEndResetDaToZero", double(p.MarkEndResetDaToZero), 0},
      {"LASER_OFF_ON_INTEVAL", double(p.LASER_OFF_ON_INTEVAL), 10}, {"nLaserDelayZoom", double(p.nLaserDelayZoom), 1},
      {"nDaOutBeforeLaserMS", double(p.nDaOutBeforeLaserMS), 4},
      {"TopSoftWareControlYlrEnable", double(p.TopSoftWareControlYlrEnable), 0},
      {"bWaitLaserEnableReady", double(p.bWaitLaserEnableReady), 0},
      {"ChangeWaveNoDelay_ms", double(p.ChangeWaveNoDelay_ms), 90}, {"nPrrBeforeMoPaUS", double(p.nPrrBeforeMoPaUS), 8000},
      {"nPowLockWidthUS", double(p.nPowLockWidthUS), 100}, {"bForceSwitchLs", double(p.bForceSwitchLs), 0},
      {"nPrePwmH", double(p.nPrePwmH), 0}, {"nPrePwmL", double(p.nPrePwmL), 20 * 48},
      {"nPrePwmTimeMS", double(p.nPrePwmTimeMS), 10}, {"dbFloatPwm", p.dbFloatPwm, 0.3},
      {"dbFloatPwmHighRat", p.dbFloatPwmHighRat, 0.2}, {"nIdlePwmH", double(p.nIdlePwmH), 4 * 48},
      {"nIdlePwmL", double(p.nIdlePwmL), 396 * 48}, {"bAllowFiberPwmDutyChange", double(p.bAllowFiberPwmDutyChange), 0},
      {"bLaserOverTimeAlarmEn", double(p.bLaserOverTimeAlarmEn), 0},
      {"dbLaserOverTimeAlarmCntMs", double(p.dbLaserOverTimeAlarmCntMs), 50000},
      {"nLaserOverTimeAlarmIO_idx", double(p.nLaserOverTimeAlarmIO_idx), 13},
      {"nLaserOverTimeAlarmSrcSel", double(p.nLaserOverTimeAlarmSrcSel), 0},
      {"bLaserOverTimeAlarmScanMvEn", double(p.bLaserOverTimeAlarmScanMvEn), 0},
      {"nSampleLaserIO", double(p.nSampleLaserIO), 1}, {"dbLastPulseThreshold", p.dbLastPulseThreshold, 0.5},
      {"powerBusSel", double(p.powerBusSel), 2}, {"nTypeBus", double(p.nTypeBus), 0},
      {"bO29WaveNoSPI", double(p.bO29WaveNoSPI), 0}, {"bYLS", double(p.bYLS), 0},
      {"nWaveNoLock", double(p.nWaveNoLock), -1}, {"nWaveNo0Cus", double(p.nWaveNo0Cus), -1},
      {"nLaserCount", double(p.nLaserCount), 1}, {"nPowerChannelCount", double(p.nPowerChannelCount), 1},
      {"nWaveNoMode", double(p.nWaveNoMode), 2}, {"nWaveNoMask", double(p.nWaveNoMask), 0xFFFF},
      {"nWaveNoBit0IO", double(p.nWaveNoBit0IO), 0}, {"bOssType1Or2", double(p.bOssType1Or2), 0},
      {"bOssEnergySplit", double(p.bOssEnergySplit), 0}, {"nEnergySplitSlaves", double(p.nEnergySplitSlaves), 0},
      // serial ports
      {"CCDCOMM_TIMEOUT", double(p.CCDCOMM_TIMEOUT), 1000}, {"CCDCOMM_BAUD", double(p.CCDCOMM_BAUD), 0},
      {"CCDCOMM_MODE", double(p.CCDCOMM_MODE), 0}, {"CCDCOMM_EParity", double(p.CCDCOMM_EParity), 1},
      {"nCCDEven1Odd0", double(p.nCCDEven1Odd0), 0},
      {"nSerialFor3YLPN2Red1CW0none", double(p.nSerialFor3YLPN2Red1CW0none), 0},
      {"Uart_BAUD", double(p.Uart_BAUD), 0}, {"Uart_EParity", double(p.Uart_EParity), 0},
      {"nUartEven1Odd0", double(p.nUartEven1Odd0), 0},
      // other keys
      {"nWobDocNoStableTmUs", double(p.nWobDocNoStableTmUs), 3000}, {"OverTimeAlarm", double(p.OverTimeAlarm), 10000},
      {"nThreadPriority", double(p.nThreadPriority), 2}, {"HowLongTimeFirstBuf", double(p.HowLongTimeFirstBuf), 1000000},
      {"nSteadyWindowUs", double(p.nSteadyWindowUs), 600000}, {"nYlogLevel", double(p.nYlogLevel), 1},
      {"bPrintTime", double(p.bPrintTime), 0}, {"bNewAxisFileName", double(p.bNewAxisFileName), 0},
      {"nOutRev", double(p.nOutRev), 0}, {"bOut0IsRun", double(p.bOut0IsRun), 1},
      {"bOut1IsLaser", double(p.bOut1IsLaser), 1}, {"bOut3IsSwClosed", double(p.bOut3IsSwClosed), 0},
      {"bIn6IsErrorReset", double(p.bIn6IsErrorReset), 0}, {"bMarkAllowPause", double(p.bMarkAllowPause), 0},
      {"bEnableSwitchLaserParaWhenLaserOn", double(p.bEnableSwitchLaserParaWhenLaserOn), 1},
      {"nDaOutBeforeLaserMS_OnLaserSwitch", double(p.nDaOutBeforeLaserMS_OnLaserSwitch), 1},
      {"nPrrBeforeMoPaUS_OnLaserSwitch", double(p.nPrrBeforeMoPaUS_OnLaserSwitch), 1500},
      {"nChangeWaveNoDelay_OnLaserSwitch", double(p.nChangeWaveNoDelay_OnLaserSwitch), 2},
      {"scanAdSampleFre10us", double(p.scanAdSampleFre10us), 8}, {"cntPcieLostSubMax", double(p.cntPcieLostSubMax), 100},
      {"nBufFullStartSize", double(p.nBufFullStartSize), 10},
      // acknowledge pattern of the default custom acknowledge input 23
      {"nOssAckMask", double(p.nOssAckMask), 0x800000}, {"nOssAckValue", double(p.nOssAckValue), 0x800000},
  };
}

TEST_F(SystemParaTest, MissingFileGivesEveryDefault) {
  g_SystemPara.InitPara();
  for (const Row& r : DefaultRows(g_SystemPara)) EXPECT_DOUBLE_EQ(r.actual, r.expected) << r.name;
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ReadCfg(), "");  // nothing written back
}

TEST_F(SystemParaTest, ExampleConfigurationHoldsTheDefaults) {
  std::string example;
  ASSERT_TRUE(plat::ReadWholeFile(NativePath(QZ_SOURCE_DIR "/examples/ini/QZMarkPara.cfg"), example));
  WriteCfg(example);
  g_SystemPara.InitPara();
  for (const Row& r : DefaultRows(g_SystemPara)) EXPECT_DOUBLE_EQ(r.actual, r.expected) << r.name;
  EXPECT_EQ(ReadCfg(), example);
  EXPECT_EQ(ReadMainString("OTHER", "languageFile", ""), "QZ_zh.txt");
  EXPECT_EQ(ReadMainInt("Main", "CardType", 9), 0);
}

TEST_F(SystemParaTest, ValuesConvertLikeTheCRuntime) {
  WriteCfg(
      "[main]\nnRecordSleep=12abc\nbRecordCheck=\nnRecordMask=-4194305\n"
      "[HARDWARE]\nMarkEnd_Y=5\nFRAME_SPEED=1e3x\n"
      "[SCAN]\ndbFiltLineLen=2.75\ndbPolygonBreakAng=90\nnDashedlineLayNo= 7 \n");
  g_SystemPara.InitPara();
  const SystemPara& p = g_SystemPara;
  EXPECT_EQ(p.nRecordSleep, 12);
  EXPECT_EQ(p.bRecordCheck, 0);  // present but empty
  EXPECT_EQ(static_cast<uint32_t>(p.nRecordMask), 0xFFBFFFFFu);  // only laser kinds 0 and 1 widen it
  EXPECT_DOUBLE_EQ(p.MarkEnd_X, 0.0);
  EXPECT_DOUBLE_EQ(p.MarkEnd_Y, 5.0);
  EXPECT_DOUBLE_EQ(p.MarkEnd_Z, 5.0);  // defaults to Y
  EXPECT_DOUBLE_EQ(p.FRAME_SPEED, 1000.0);
  EXPECT_DOUBLE_EQ(p.dbFiltLineLen, 2.0);  // read as an integer
  EXPECT_NEAR(p.dbPolygonBreakAng, 1.5707963267948966, 1e-15);
  EXPECT_EQ(p.nDashedlineLayNo, 7);
}

TEST_F(SystemParaTest, ClampsAndSaturatedConversions) {
  struct Case {
    const char* cfg;
    double (*field)(const SystemPara&);
    double expected;
  } cases[] = {
      {"[Main]\nnThreadPriority=7\n", [](const SystemPara& p) { return double(p.nThreadPriority); }, 2},
      {"[Main]\nnThreadPriority=-1\n", [](const SystemPara& p) { return double(p.nThreadPriority); }, 0},
      {"[HARDWARE]\nnBufFullStartSize=0\n", [](const SystemPara& p) { return double(p.nBufFullStartSize); }, 1},
      {"[HARDWARE]\nnBufFullStartSize=250\n", [](const SystemPara& p) { return double(p.nBufFullStartSize); }, 99},
      {"[LASER]\nnLaserDelayZoom=0\n", [](const SystemPara& p) { return double(p.nLaserDelayZoom); }, 1},
      {"[LASER]\nnLaserDelayZoom=-3\n", [](const SystemPara& p) { return double(p.nLaserDelayZoom); }, 1},
      {"[LASER]\nnLaserDelayZoom=5\n", [](const SystemPara& p) { return double(p.nLaserDelayZoom); }, 5},
      {"[LASER]\ndbLastPulseThreshold=0\n", [](const SystemPara& p) { return p.dbLastPulseThreshold; }, 0.000000001},
      {"[LASER]\ndbLastPulseThreshold=1.5\n", [](const SystemPara& p) { return p.dbLastPulseThreshold; }, 0.9999999},
      {"[LASER]\ndbLastPulseThreshold=nan\n", [](const SystemPara& p) { return p.dbLastPulseThreshold; }, 0.000000001},
      {"[LASER]\nnPrePwmH=100\n", [](const SystemPara& p) { return double(p.nPrePwmH); }, 4800},
      {"[LASER]\nnPrePwmH=100000000\n", [](const SystemPara& p) { return double(p.nPrePwmH); }, 2147483647.0},
      {"[LASER]\nnPrePwmL=-100000000\n", [](const SystemPara& p) { return double(p.nPrePwmL); }, -2147483648.0},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=2.567\n",
       [](const SystemPara& p) { return double(p.dbLaserOverTimeAlarmCntMs); }, 256},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=-1\n",
       [](const SystemPara& p) { return double(p.dbLaserOverTimeAlarmCntMs); }, 0},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=1e12\n",
       [](const SystemPara& p) { return double(p.dbLaserOverTimeAlarmCntMs); }, 4294967295.0},
      {"[LASER]\ndbLaserOverTimeAlarmCntMs=nan\n",
       [](const SystemPara& p) { return double(p.dbLaserOverTimeAlarmCntMs); }, 0},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitParaMain();
    g_SystemPara.InitParaLaser();
    g_SystemPara.InitParaOther();
    EXPECT_DOUBLE_EQ(c.field(g_SystemPara), c.expected) << c.cfg;
  }
}

TEST_F(SystemParaTest, AutoCheckIsReadOnlyWithRecordsInTheThread) {
  struct Case {
    const char* cfg;
    int32_t expected;
  } cases[] = {
      {"[Main]\nbRecordInThread=0\nbAutoCheckMarkInfoFB=1\n", 0},
      {"[Main]\nbRecordInThread=1\nbAutoCheckMarkInfoFB=1\n", 1},
      {"[Main]\nbRecordInThread=2\n", 0},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara.bAutoCheckMarkInfoFB = 5;
    g_SystemPara.InitParaMain();
    EXPECT_EQ(g_SystemPara.bAutoCheckMarkInfoFB, c.expected) << c.cfg;
  }
}

TEST_F(SystemParaTest, FirstBufferWindowAndItsBox) {
  const std::string en =
      "topmost ok: The parameter nHowLongTimeFirstBuf cannot be set to be greater than 30000000";
  const std::string zh = "topmost ok: 参数nHowLongTimeFirstBuf设置不能大于30000000";
  struct Case {
    const char* cfg;
    uint8_t langZh;
    uint32_t first;
    uint32_t window;
    std::string box;
  } cases[] = {
      {"[Main]\nHowLongTimeFirstBuf=40000000\n[OTHER]\ndbBufLenCompFirst=1.5\n", 0, 40000000, 38000000, en},
      {"[Main]\nHowLongTimeFirstBuf=40000000\n", 1, 40000000, 24000000, zh},
      {"[Main]\nHowLongTimeFirstBuf=30000000\n", 0, 30000000, 18000000, ""},
      {"[Main]\nHowLongTimeFirstBuf=1000001\n[OTHER]\ndbBufLenCompFirst=0.5\n", 0, 1000001, 500000, ""},
      {"[OTHER]\ndbBufLenCompFirst=nan\n", 0, 1000000, 0, ""},
      {"[OTHER]\ndbBufLenCompFirst=-0.5\n", 0, 1000000, 0, ""},
      // A negative setting reads as a very long window: reported, used as read, no overflow.
      {"[Main]\nHowLongTimeFirstBuf=-1\n", 0, 4294967295u, 2576980377u, en},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    plat::DeleteFilePath(dir.File("boxes.txt"));
    g_bLangZh = c.langZh;
    g_SystemPara.InitParaOther();
    EXPECT_EQ(g_SystemPara.HowLongTimeFirstBuf, c.first) << c.cfg;
    EXPECT_EQ(g_SystemPara.nSteadyWindowUs, c.window) << c.cfg;
    std::vector<std::string> expected;
    if (!c.box.empty()) expected.push_back(c.box);
    EXPECT_EQ(Boxes(), expected) << c.cfg;
  }
}

TEST_F(SystemParaTest, LogLevelGoesToTheDailyLog) {
  WriteCfg("[Main]\nnYlogLevel=3\n");
  g_SystemPara.InitParaOther();
  EXPECT_EQ(g_InfoLog.MinLevel(), 3);
}

TEST_F(SystemParaTest, LaserSwitchWhileOnOverridesTheLightPath) {
  struct Case {
    const char* cfg;
    uint8_t type1, type2, type1Or2;
    int32_t ioIn, pause, offOn;
  } cases[] = {
      {"[LASER]\nOSS_TYPE=2\nIoInFromOss=4\n[FIBER]\nLASER_OFF_ON_INTEVAL=70\n", 0, 0, 0, 0, 0, 10},
      {"[LASER]\nOSS_TYPE=1\nIoInFromOss=4\n", 1, 0, 0, 0, 0, 10},
      {"[LASER]\nOSS_TYPE=2\nIoInFromOss=4\n[FIBER]\nLASER_OFF_ON_INTEVAL=70\n"
       "[OTHER]\nbEnableSwitchLaserParaWhenLaserOn=0\n",
       0, 1, 1, 4, 1, 70},
  };
  for (const Case& c : cases) {
    WriteCfg(c.cfg);
    g_SystemPara = SystemPara{};
    g_SystemPara.InitParaLaser();
    g_SystemPara.InitParaOther();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(p.bOssType1, c.type1) << c.cfg;
    EXPECT_EQ(p.bOssType2, c.type2) << c.cfg;
    EXPECT_EQ(p.bOssType1Or2, c.type1Or2) << c.cfg;
    EXPECT_EQ(p.IoInFromOss, c.ioIn) << c.cfg;
    EXPECT_EQ(p.bMarkAllowPause, c.pause) << c.cfg;
    EXPECT_EQ(p.LASER_OFF_ON_INTEVAL, c.offOn) << c.cfg;
  }
}

TEST_F(SystemParaTest, LaserSerialSectionBySelector) {
  WriteCfg(
      "[CCDCOMM]\nTIMEOUT=7\nBAUD=5\nMODE=3\nEParity=0\nnCCDEven1Odd0=1\n"
      "[Uart]\nBAUD=10\nEParity=20\nnUartEven1Odd0=1\n"
      "[UartCW]\nBAUD=11\nEParity=21\n"
      "[UartRed]\nBAUD=12\nEParity=22\n");
  struct Case {
    int32_t selector, baud, parity;
  } cases[] = {{0, 10, 20}, {1, 11, 21}, {2, 12, 22}, {3, 11, 21}, {4, 10, 20}, {-1, 10, 20}};
  for (const Case& c : cases) {
    WriteMainCfgInt("Uart", "nSerialFor3YLPN2Red1CW0none", c.selector);
    g_SystemPara.InitParaSerial();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(p.nSerialFor3YLPN2Red1CW0none, c.selector);
    EXPECT_EQ(p.Uart_BAUD, c.baud) << c.selector;
    EXPECT_EQ(p.Uart_EParity, c.parity) << c.selector;
    EXPECT_EQ(p.nUartEven1Odd0, 1);
    EXPECT_EQ(p.CCDCOMM_TIMEOUT, 7);
    EXPECT_EQ(p.CCDCOMM_BAUD, 5);
    EXPECT_EQ(p.CCDCOMM_MODE, 3);
    EXPECT_EQ(p.CCDCOMM_EParity, 0);
    EXPECT_EQ(p.nCCDEven1Odd0, 1);
  }
}

TEST_F(SystemParaTest, SectionNamesIgnoreCase) {
  WriteCfg("[MAIN]\nnRecordSleep=9\n[other]\nnOutRev=3\n[motor]\nbNewAxisFileName=1\n");
  g_SystemPara.InitParaMain();
  g_SystemPara.InitParaOther();
  EXPECT_EQ(g_SystemPara.nRecordSleep, 9);
  EXPECT_EQ(g_SystemPara.nOutRev, 3);
  EXPECT_EQ(g_SystemPara.bNewAxisFileName, 1);
}

}  // namespace
}  // namespace qztest
