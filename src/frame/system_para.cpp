// SystemPara: the full read and the readers of sections "Main", "CCDCOMM"/"Uart" and the other
// keys. The scanner and laser readers are in system_para_laser.cpp, the card-version settings in
// card_version.cpp.
#include "frame/system_para.h"

#include <algorithm>
#include <utility>

#include "frame/wait_desc.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"

SystemPara g_SystemPara{};

namespace {

constexpr uint32_t kMaxFirstBufUs = 30000000;

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

}  // namespace

void SystemPara::InitPara() {
  InitParaMain();
  InitParaScan();
  InitParaLaser();
  InitParaSerial();
  InitParaOther();  // after the laser reader: it overrides some of the laser values
  InitParaAckPattern();
  InitParaWaits();
}

void SystemPara::InitParaMain() {
  const char* s = "Main";
  CardVertion = ReadMainInt(s, "CardVertion", 0);
  nHardWareVertionK = ReadMainInt(s, "nHardWareVertionK", 2);
  bRecordWhenMark = ReadMainInt(s, "bRecordWhenMark", 0);
  bUpdateParaInCardWhenOpen = ReadMainInt(s, "bUpdateParaInCardWhenOpen", 1);
  bRecordInThread = ReadMainInt(s, "bRecordInThread", 0);
  // Comparing expected and measured laser segments needs the records the monitor thread reads.
  bAutoCheckMarkInfoFB = bRecordInThread ? ReadMainInt(s, "bAutoCheckMarkInfoFB", 0) : 0;
  bRecordCheck = ReadMainInt(s, "bRecordCheck", 1);
  nRecordSleep = ReadMainInt(s, "nRecordSleep", 2);
  nRecordMask = ReadMainInt(s, "nRecordMask", 2143289343);
  bRecordScan = ReadMainInt(s, "bRecordScan", 1);
  bRecordDA = ReadMainInt(s, "bRecordDA", 1);
  wob = ReadMainInt(s, "wob", 0);
  bKvxOSS = ReadMainInt(s, "bKvxOSS", 0);
  nCheckFlashType = ReadMainInt(s, "nCheckFlashType", 2);
  bMessageBoxUsbLongTime = ReadMainInt(s, "bMessageBoxUsbLongTime", 1);
  bIgnoreSubCard = ReadMainInt(s, "bIgnoreSubCard", 0);
}

void SystemPara::InitParaSerial() {
  CCDCOMM_TIMEOUT = ReadMainInt("CCDCOMM", "TIMEOUT", 1000);
  CCDCOMM_BAUD = ReadMainInt("CCDCOMM", "BAUD", 0);
  CCDCOMM_MODE = ReadMainInt("CCDCOMM", "MODE", 0);
  CCDCOMM_EParity = ReadMainInt("CCDCOMM", "EParity", 1);
  nCCDEven1Odd0 = ReadMainInt("CCDCOMM", "nCCDEven1Odd0", 0);

  nSerialFor3YLPN2Red1CW0none = ReadMainInt("Uart", "nSerialFor3YLPN2Red1CW0none", 0);
  // The laser's serial settings live in a section per laser kind; a selector outside 0..3 names
  // no kind, and the settings are then read from the general section "Uart".
  const char* uart = "Uart";
  switch (nSerialFor3YLPN2Red1CW0none) {
    case 1:
    case 3:
      uart = "UartCW";
      break;
    case 2:
      uart = "UartRed";
      break;
    default:
      break;
  }
  Uart_BAUD = ReadMainInt(uart, "BAUD", 0);
  Uart_EParity = ReadMainInt(uart, "EParity", 0);
  nUartEven1Odd0 = ReadMainInt("Uart", "nUartEven1Odd0", 0);
}

void SystemPara::InitParaOther() {
  nWobDocNoStableTmUs = ReadMainInt("HARDWARE", "nWobDocNoStableTmUs", 3000);
  OverTimeAlarm = ReadMainInt("HARDWARE", "OverTimeAlarm", 10000);
  nThreadPriority = Clamp(ReadMainInt("Main", "nThreadPriority", 2), 0, 2);

  HowLongTimeFirstBuf = static_cast<uint32_t>(ReadMainInt("Main", "HowLongTimeFirstBuf", 1000000));
  if (HowLongTimeFirstBuf > kMaxFirstBufUs) {
    // Reported only; the value is used as read.
    ShowTopmostBox(Lang("参数nHowLongTimeFirstBuf设置不能大于30000000",
                        "The parameter nHowLongTimeFirstBuf cannot be set to be greater than "
                        "30000000"));
  }
  const double ratio = ReadMainDouble("OTHER", "dbBufLenCompFirst", 0.6);
  // NaN stays NaN through min and becomes 0 in the conversion; a negative product gives 0.
  nSteadyWindowUs = RealToUInt32(static_cast<double>(HowLongTimeFirstBuf) * std::min(ratio, 0.95));

  nYlogLevel = ReadMainInt("Main", "nYlogLevel", 1);
  g_InfoLog.SetMinLevel(nYlogLevel);
  bPrintTime = ReadMainInt("Main", "bPrintTime", 0);
  bNewAxisFileName = ReadMainInt("MOTOR", "bNewAxisFileName", 0);
  nOutRev = ReadMainInt("OTHER", "nOutRev", 0);
  bOut0IsRun = ReadMainInt("OTHER", "bOut0IsRun", 1);
  bOut1IsLaser = ReadMainInt("OTHER", "bOut1IsLaser", 1);
  bOut3IsSwClosed = ReadMainInt("OTHER", "bOut3IsSwClosed", 0);
  bIn6IsErrorReset = ReadMainInt("OTHER", "bIn6IsErrorReset", 0);
  bMarkAllowPause = ReadMainInt("OTHER", "bMarkAllowPause", 1);
  bEnableSwitchLaserParaWhenLaserOn = ReadMainInt("OTHER", "bEnableSwitchLaserParaWhenLaserOn", 1);
  if (bEnableSwitchLaserParaWhenLaserOn) {
    // Switching laser parameters while the laser is on: no optical-switch handshake, no pause,
    // and a short laser off-on interval.
    bOssType2 = 0;
    bOssType1Or2 = 0;
    IoInFromOss = 0;
    bMarkAllowPause = 0;
    LASER_OFF_ON_INTEVAL = 10;
  }
  nDaOutBeforeLaserMS_OnLaserSwitch = ReadMainInt("OTHER", "nDaOutBeforeLaserMS_OnLaserSwitch", 1);
  nPrrBeforeMoPaUS_OnLaserSwitch = ReadMainInt("OTHER", "nPrrBeforeMoPaUS_OnLaserSwitch", 1500);
  nChangeWaveNoDelay_OnLaserSwitch = ReadMainInt("OTHER", "nChangeWaveNoDelay_OnLaserSwitch", 2);
  scanAdSampleFre10us = ReadMainInt("OTHER", "scanAdSampleFre10us", 8);
  cntPcieLostSubMax = ReadMainInt("OTHER", "cntPcieLostSubMax", 100);
  nBufFullStartSize = Clamp(ReadMainInt("HARDWARE", "nBufFullStartSize", 10), 1, 99);
}

void SystemPara::InitParaAckPattern() {
  if (bOssCusApplyAckIO == 0) {
    // The hardware variant fixes the acknowledge inputs; other variants keep the previous pattern.
    if (nHardWareVertionK == 1) {
      nOssAckMask = nOssAckValue = 0x6000000;
    } else if (nHardWareVertionK == 2) {
      nOssAckMask = nOssAckValue = 0xC00000;
    }
  } else {
    nOssAckMask = nOssAckValue = 1u << ShiftCount(nOssNeedAckIO);
  }
}

void SystemPara::InitParaWaits() const {
  // One slave-ready input per energy-split slave card, from nIO_OSS_Energy_Host_Ready_I upward.
  const uint32_t slaves = static_cast<uint32_t>(std::clamp<int32_t>(nEnergySplitSlaves, 0, 32));
  const uint32_t slaveBits = slaves >= 32 ? 0xFFFFFFFFu : (1u << slaves) - 1u;
  const uint32_t S = slaveBits << ShiftCount(nIO_OSS_Energy_Host_Ready_I);
  const uint32_t T = 1u << ShiftCount(nIO_OSS_Energy_Trig_I);

  WaitDescMap table = BaseWaitDescs();
  AddWaitDesc(table, 1, nOssAckMask, nOssAckValue, "等待激光器空闲");
  AddWaitDesc(table, 1, nOssAckMask, 0, "等待激光器响应");
  AddWaitDesc(table, 1, S, 0, "等待能分从卡就绪");
  AddWaitDesc(table, 1, S, S, "等待能分从卡就绪释放");
  AddWaitDesc(table, 1, T, 0, "等待能分SynTrig");
  AddWaitDesc(table, 1, T, T, "等待能分SynTrig释放");
  g_mapWaitDesc.Publish(std::move(table));
}
