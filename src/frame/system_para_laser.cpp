// SystemPara: the scanner keys and the laser keys with the light-path flags and the wave-number
// selection derived from them.
#include <cstdint>
#include <limits>

#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

namespace {

// Pulse widths are configured in µs and kept in 48 MHz ticks; the product saturates.
int32_t UsToTicks48(int32_t us) {
  const int64_t t = static_cast<int64_t>(us) * 48;
  if (t > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (t < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(t);
}

// Section of MarkEndResetDaToZero: fibre lasers keep it in "FIBER", every other kind (also a kind
// unknown to this library) in "Main".
const char* MarkEndResetSection(int32_t laserType) { return laserType == 2 ? "FIBER" : "Main"; }

// Section of LASER_OFF_ON_INTEVAL by laser kind; nullptr for a kind without one.
const char* LaserOffOnIntervalSection(int32_t laserType) {
  static const char* const kSections[8] = {"YAG", "YLR", "FIBER", "SPI", "EP", "LASER", "FIBER", "YLR"};
  if (laserType < 0 || laserType > 7) return nullptr;
  return kSections[laserType];
}

constexpr double kDegToRad = 0.017453292519943295;

}  // namespace

void SystemPara::InitParaScan() {
  BASETIME = ReadMainInt("SCAN", "BASETIME", 10);
  MarkEnd_X = ReadMainDouble("HARDWARE", "MarkEnd_X", 0.0);
  MarkEnd_Y = ReadMainDouble("HARDWARE", "MarkEnd_Y", MarkEnd_X);  // Y defaults to X,
  MarkEnd_Z = ReadMainDouble("HARDWARE", "MarkEnd_Z", MarkEnd_Y);  // Z to Y
  bHaveScanZ = ReadMainInt("SCAN", "bHaveScanZ", 0);
  dbZBox = ReadMainDouble("SCAN", "dbZBox", 100.0);
  FRAME_SPEED = ReadMainDouble("HARDWARE", "FRAME_SPEED", 4000.0);
  bCloseFeedback = ReadMainInt("SCAN", "bCloseFeedback", 0);
  nScanFeedbackDisLimit = ReadMainInt("SCAN", "nScanFeedbackDisLimit", 0);
  nScanFeedbackTimeAllowMs = ReadMainInt("SCAN", "nScanFeedbackTimeAllowMs", 10);
  nArriveTime = ReadMainInt("SCAN", "nArriveTime", 20);
  nArriveNear = ReadMainInt("SCAN", "nArriveNear", 20);
  nScanType = ReadMainInt("SCAN", "nScanType", 0);
  nScanFeedBackAlarmOkV = ReadMainInt("SCAN", "nScanFeedBackAlarmOkV", 0);
  nScanFbCheckMask = ReadMainInt("SCAN", "nScanFbCheckMask", 231);
  nScanFbCheckDst = ReadMainInt("SCAN", "nScanFbCheckDst", 253);
  bScanSpiClose = ReadMainInt("SCAN", "bScanSpiClose", 0);
  bCardNotGridel = ReadMainInt("SCAN", "bCardNotGridel", 0);
  bFiltLine = ReadMainInt("SCAN", "bFiltLine", 0);
  dbFiltLineAng = ReadMainDouble("SCAN", "dbFiltLineAng", 0.3);
  dbFiltLineLen = ReadMainInt("SCAN", "dbFiltLineLen", 2000);
  bPolygonBreak = ReadMainInt("SCAN", "bPolygonBreak", 0);
  dbPolygonBreakAng = ReadMainDouble("SCAN", "dbPolygonBreakAng", 45.0) * kDegToRad;
  dbDisMaxTwoLineConnectMM = ReadMainDouble("SCAN", "dbDisMaxTwoLineConnectMM", 0.001);
  nScanStepLimit = ReadMainInt("SCAN", "nScanStepLimit", 1000);
  bScanNotBack = ReadMainInt("SCAN", "bScanNotBack", 0);
  nDashedlineLayNo = ReadMainInt("SCAN", "nDashedlineLayNo", -1);
}

void SystemPara::SetLaserIoFlags(int32_t ossType) {
  bOssType2 = ossType == 2;
  bOssType1 = ossType == 1;
  bOssType1Or2 = ossType == 1 || ossType == 2;
  bOssType3 = ossType == 3;
  bOssEnergySplit = 0;
  if (ossType >= 4 && ossType <= 6) {
    bOssEnergySplit = 1;
    nEnergySplitSlaves = ossType - 3;
  }
  IoInFromOss = 0;
  if (bOssType1Or2) IoInFromOss = ReadMainInt("LASER", "IoInFromOss", 1);
}

void SystemPara::InitParaLaser() {
  const char* L = "LASER";
  LASER_TYPE = ReadMainInt(L, "LASER_TYPE", 2);
  LASER_TYPE_pre = ReadMainInt(L, "LASER_TYPE_pre", 2);
  if (LASER_TYPE_pre != LASER_TYPE) {
    WriteMainCfgInt(L, "LASER_TYPE_pre", LASER_TYPE);
    g_ErrorLog.Write("SystemPara::InitParaLaser", 1, "LASER_TYPE Change to %d", static_cast<int>(LASER_TYPE));
  }
  LASER_IPG100W_TYPE = ReadMainInt(L, "LASER_IPG100W_TYPE", 0);
  OSS_TYPE = ReadMainInt(L, "OSS_TYPE", 0);
  SetLaserIoFlags(OSS_TYPE);

  nIO_OSS_Energy_Trig_I = ReadMainInt(L, "nIO_OSS_Energy_Trig_I", 11);
  nIO_OSS_Energy_Host_Trig_O = ReadMainInt(L, "nIO_OSS_Energy_Host_Trig_O", 3);
  nIO_OSS_Energy_Host_Ready_I = ReadMainInt(L, "nIO_OSS_Energy_Host_Ready_I", 12);
  nIO_OSS_Energy_Dev_Ready_O = ReadMainInt(L, "nIO_OSS_Energy_Dev_Ready_O", 3);
  nRedModeNoOss = ReadMainInt(L, "nRedModeNoOss", 0);
  bIgnoreOssIdle = ReadMainInt(L, "bIgnoreOssIdle", 0);
  bOssCusApplyAckIO = ReadMainInt(L, "bOssCusApplyAckIO", 1);
  nOssNeedApplyIO = ReadMainInt(L, "nOssNeedApplyIO", 30);
  nOssNeedAckIO = ReadMainInt(L, "nOssNeedAckIO", 23);
  nAdFilter = ReadMainInt(L, "nAdFilter", 4);
  bLockLaserAllow = ReadMainInt(L, "bLockLaserAllow", 0);
  nLockLaserSwitchIO = ReadMainInt(L, "nLockLaserSwitchIO", 7);
  bForbidLaserIOEn = ReadMainInt(L, "bForbidLaserIOEn", 0);
  nForbidLaserIOMask = ReadMainInt(L, "nForbidLaserIOMask", 0);

  MarkEndResetDaToZero = ReadMainInt(MarkEndResetSection(LASER_TYPE), "MarkEndResetDaToZero", 0);
  // A laser kind without a section of its own takes the default interval without reading.
  const char* offOn = LaserOffOnIntervalSection(LASER_TYPE);
  LASER_OFF_ON_INTEVAL = offOn ? ReadMainInt(offOn, "LASER_OFF_ON_INTEVAL", 3000) : 3000;

  nLaserDelayZoom = ReadMainInt(L, "nLaserDelayZoom", 1);
  if (nLaserDelayZoom < 1) nLaserDelayZoom = 1;

  nDaOutBeforeLaserMS = ReadMainInt(L, "nDaOutBeforeLaserMS", 4);
  TopSoftWareControlYlrEnable = ReadMainInt(L, "TopSoftWareControlYlrEnable", 0);
  bWaitLaserEnableReady = ReadMainInt(L, "bWaitLaserEnableReady", 0);
  ChangeWaveNoDelay_ms = ReadMainInt(L, "ChangeWaveNoDelay_ms", 90);
  nPrrBeforeMoPaUS = ReadMainInt(L, "nPrrBeforeMoPaUS", 8000);
  nPowLockWidthUS = ReadMainInt(L, "nPowLockWidthUS", 100);
  bForceSwitchLs = ReadMainInt(L, "bForceSwitchLs", 0);
  nPrePwmH = UsToTicks48(ReadMainInt(L, "nPrePwmH", 0));
  nPrePwmL = UsToTicks48(ReadMainInt(L, "nPrePwmL", 20));
  nPrePwmTimeMS = ReadMainInt(L, "nPrePwmTimeMS", 10);
  dbFloatPwm = ReadMainDouble(L, "dbFloatPwm", 0.3);
  dbFloatPwmHighRat = ReadMainDouble(L, "dbFloatPwmHighRat", 0.2);

  if (LASER_TYPE == 2) {
    nIdlePwmH = UsToTicks48(ReadMainInt("FIBER", "nIdlePwmH", 4));
    nIdlePwmL = UsToTicks48(ReadMainInt("FIBER", "nIdlePwmL", 396));
    bAllowFiberPwmDutyChange = ReadMainInt("FIBER", "bAllowFiberPwmDutyChange", 0);
  }

  bLaserOverTimeAlarmEn = ReadMainInt(L, "bLaserOverTimeAlarmEn", 0);
  // Milliseconds to 10 µs units; saturating, NaN and negative values give 0.
  dbLaserOverTimeAlarmCntMs = RealToUInt32(ReadMainDouble(L, "dbLaserOverTimeAlarmCntMs", 500.0) * 100.0);
  nLaserOverTimeAlarmIO_idx = ReadMainInt(L, "nLaserOverTimeAlarmIO_idx", 13);
  nLaserOverTimeAlarmSrcSel = ReadMainInt(L, "nLaserOverTimeAlarmSrcSel", 0);
  bLaserOverTimeAlarmScanMvEn = ReadMainInt(L, "bLaserOverTimeAlarmScanMvEn", 0);
  nSampleLaserIO = ReadMainInt(L, "nSampleLaserIO", 1);

  if ((LASER_TYPE == 0 || LASER_TYPE == 1) && static_cast<uint32_t>(nRecordMask) == 0xFFBFFFFFu) {
    nRecordMask = -1;  // 0xFFFFFFFF
  }

  // Clamped into the open interval (0, 1); NaN takes the lower bound.
  dbLastPulseThreshold = ReadMainDouble(L, "dbLastPulseThreshold", 0.5);
  if (!(dbLastPulseThreshold >= 0.000000001)) dbLastPulseThreshold = 0.000000001;
  if (dbLastPulseThreshold > 0.9999999) dbLastPulseThreshold = 0.9999999;

  powerBusSel = ReadMainInt("eBUS", "powerBusSel", 2);
  nTypeBus = ReadMainInt("eBUS", "nTypeBus", 0);
  bO29WaveNoSPI = ReadMainInt("SPI", "bO29WaveNoSPI", 0);

  nLaserCount = (LASER_TYPE == 5 || LASER_TYPE == 6 || LASER_TYPE == 7) ? 2 : 1;
  nPowerChannelCount = nLaserCount;
  nWaveNoMode = -1;
  nWaveNoLock = -1;
  bYLS = 0;

  // How the wave number reaches the laser, by laser kind.
  switch (LASER_TYPE) {
    case 0:
      nWaveNoMode = 1;
      nWaveNoMask = 0x1F;
      nWaveNoBit0IO = 23;
      nWaveNoLock = ReadMainInt(L, "nWaveNoLock", -1);
      [[fallthrough]];  // the YLS variants of kinds 1 and 7 apply as well
    case 1:
    case 7:
      bYLS = ReadMainInt(L, "bYLS", 0);
      if (bYLS == 3) {
        nWaveNoMode = 1;
        nWaveNoMask = 7;
        nWaveNoBit0IO = 25;
      } else if (bYLS == 4) {
        nWaveNoMode = 1;
        nWaveNoMask = 0xF;
        nWaveNoBit0IO = 24;
      } else if (bYLS == 5) {
        nWaveNoMode = 1;
        nWaveNoMask = 1;
        nWaveNoBit0IO = 25;
      }
      break;
    case 2:
      nWaveNoMode = 2;
      nWaveNoMask = 0xFFFF;
      break;
    case 3:
      nWaveNoMode = 1;
      nWaveNoBit0IO = 23;
      nWaveNoMask = bO29WaveNoSPI ? 0x7F : 0x3F;
      break;
    case 5:
      nWaveNoMode = 3;
      break;
    default:  // 4, 6 and unknown kinds
      break;
  }

  nWaveNo0Cus = ReadMainInt(L, "nWaveNo0Cus", -1);
  if (nWaveNo0Cus != -1) nWaveNoBit0IO = nWaveNo0Cus;
}
