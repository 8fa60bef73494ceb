#pragma once
// SystemPara: the library's one record of configuration values.
//
// Filled from the main configuration "QZMarkPara.cfg" (g_MainCfg) by SystemPara::InitPara each time
// the host applies the parameter file, and from the card's version at card opening; every subsystem
// reads it. A plain record: one global instance, zero at load.
//
// Every key is read the same way: its default formatted as text ("%d" for integers and flags,
// "%.8f" for reals), at most 255 bytes read, converted like the C runtime (CrtAtoi / CrtAtof). A
// missing key gets its default, an empty value 0. Each key has a field of the same name: int and
// flag keys are int32_t (a flag holds the converted number), real keys double. Keys read only under
// a condition keep their previous value when the condition is false.
//
// The record is written on the host's thread inside the parameter-file task; the monitor and
// watchdog threads read it without a lock: the fields the monitor thread reads are SharedInt32.
#include <atomic>
#include <cstdint>

// An int32_t field that the monitor thread reads while a host thread rewrites it (a second parameter
// file, the comparison switching itself off): one atomic word that copies and converts like a plain
// int32_t, so the record stays a plain record for everything else.
class SharedInt32 {
 public:
  constexpr SharedInt32() = default;
  SharedInt32(int32_t v) : v_(v) {}  // NOLINT: converts like the plain field it stands for
  SharedInt32(const SharedInt32& o) : v_(o.v_.load(std::memory_order_relaxed)) {}
  SharedInt32& operator=(const SharedInt32& o) {
    v_.store(o.v_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    return *this;
  }
  SharedInt32& operator=(int32_t v) {
    v_.store(v, std::memory_order_relaxed);
    return *this;
  }
  operator int32_t() const { return v_.load(std::memory_order_relaxed); }  // NOLINT

 private:
  std::atomic<int32_t> v_{0};
};
static_assert(sizeof(SharedInt32) == 4);

// Link configuration at the head of the record; filled by InitParaLink (cardlink/link_config.h) at card opening
// (with the driver link) and read by the link and the subsystems named beside each field.
struct CardLinkCfg {
  uint16_t PID;            // [HARDWARE] PID, default 32768
  uint16_t CARDNO;         // [HARDWARE] CARDNO, default 32768
  uint16_t CardType;       // [Main] CardType: 0 USB card, 1 PCIe card (others take the PCIe defaults)
  uint8_t bWaitLinkState;  // wait for the link-state ready bits around commands and bulk chunks
  uint8_t bUsbFlashPath;   // USB card (offline-file code)
  uint8_t bPcieCard;       // PCIe card (manual-mode test of the axis exports)
  uint8_t bSharedLock;     // stream blocks go under the command lock instead of the buffer lock
  uint8_t bPcieNoSlave;    // PCIe card without a secondary card (scanner epilogue)
  uint8_t bUsbCard;        // USB card (FIFO transfer, firmware check)
  uint16_t bSlaveCard;     // a secondary card is linked
  uint8_t bFrameHeader;    // command frames carry the 4-byte header and are 16 bytes long
  uint16_t QualityPeriod;  // [HARDWARE] QualityPeriod in ms, default 512; slave link only
  uint16_t nLostFail;      // QualityPeriod x [HARDWARE] dbLostRatio2Fail, truncated
  uint16_t nLostLink;      // QualityPeriod x [HARDWARE] dbLostRatio2Link, truncated
  uint32_t nReplyLen;      // bytes of a reply (and of a frame without header): 10 USB, 12 PCIe
  uint32_t nAxisCount;     // extra motion axes: 2 USB, 3 PCIe
};

struct SystemPara {
  struct CardLinkCfg CardLinkCfg;

  // ---- card version and run switches without a key of their own
  uint32_t nCardVersion;       // derived from the hardware version word at card opening
  uint32_t bOpenOnly;          // set by debug_OpenCard2GetMsg: opening stops after the version check
  uint32_t bScanFeedbackWait;  // set by the card-parameter list builder from nScanType; the dot
                               // list writes its scanner feedback wait when 1
  // Rotation marking's galvanometer axis that a motor axis replaces (0 X, 1 Y): the second argument
  // of QZ_SetRotateMarkPara, sent with the card parameters.
  SharedInt32 nRotateAxis;  // also set by QZ_SetRotateMarkPara, read by the parameter upload
  // Largest gap between two merged stream words, µs (merge of the word channels).
  static constexpr uint32_t nMaxMergeGapUs = 0x700000;

  // ---- [Main] (InitParaMain)
  int32_t CardVertion;
  int32_t nHardWareVertionK;
  int32_t bRecordWhenMark;
  int32_t bUpdateParaInCardWhenOpen;
  SharedInt32 bRecordInThread;
  SharedInt32 bAutoCheckMarkInfoFB;  // also cleared at run time when too many expected records wait
  SharedInt32 bRecordCheck;
  SharedInt32 nRecordSleep;
  int32_t nRecordMask;
  int32_t bRecordScan;
  int32_t bRecordDA;
  int32_t wob;
  int32_t bKvxOSS;
  int32_t nCheckFlashType;
  int32_t bMessageBoxUsbLongTime;
  int32_t bIgnoreSubCard;

  // ---- card version keys of [Main] (CheckCardVersionCfg); bNewBoxCali is first read from [MAIN]
  // by the library's entry routine
  int32_t bConfiguration;
  int32_t bJustM25p64;
  int32_t bHaveNandFlash;
  int32_t bCmdWithNum;
  int32_t bNewBoxCali;
  int32_t nBufDataCheckType;

  // ---- [HARDWARE] keys read by the calibration code (not by InitPara)
  int32_t bHighPrecisionCali;
  int32_t bHighPrecisionCaliR;

  // ---- scanner keys (InitParaScan)
  int32_t BASETIME;
  double MarkEnd_X;
  double MarkEnd_Y;
  double MarkEnd_Z;
  int32_t bHaveScanZ;
  double dbZBox;
  double FRAME_SPEED;
  int32_t bCloseFeedback;
  int32_t nScanFeedbackDisLimit;
  int32_t nScanFeedbackTimeAllowMs;
  int32_t nArriveTime;
  int32_t nArriveNear;
  int32_t nScanType;
  int32_t nScanFeedBackAlarmOkV;
  int32_t nScanFbCheckMask;
  int32_t nScanFbCheckDst;
  int32_t bScanSpiClose;
  int32_t bCardNotGridel;
  int32_t bFiltLine;
  double dbFiltLineAng;
  double dbFiltLineLen;      // read as an integer
  int32_t bPolygonBreak;
  double dbPolygonBreakAng;  // configured in degrees, kept in radians
  double dbDisMaxTwoLineConnectMM;
  int32_t nScanStepLimit;
  int32_t bScanNotBack;
  int32_t MIRCO_MOVE_VEL;  // [SCAN], default 10: read when the parameter file is applied; command 1 of
                          // the card parameters
  int32_t nDashedlineLayNo;

  // ---- laser keys (InitParaLaser)
  int32_t LASER_TYPE;
  int32_t LASER_TYPE_pre;
  int32_t LASER_IPG100W_TYPE;
  int32_t OSS_TYPE;
  int32_t IoInFromOss;
  int32_t nIO_OSS_Energy_Trig_I;
  int32_t nIO_OSS_Energy_Host_Trig_O;
  int32_t nIO_OSS_Energy_Host_Ready_I;
  int32_t nIO_OSS_Energy_Dev_Ready_O;
  int32_t nRedModeNoOss;
  int32_t bIgnoreOssIdle;
  int32_t bOssCusApplyAckIO;
  int32_t nOssNeedApplyIO;
  int32_t nOssNeedAckIO;
  int32_t nAdFilter;
  int32_t bLockLaserAllow;
  int32_t nLockLaserSwitchIO;
  int32_t bForbidLaserIOEn;
  int32_t nForbidLaserIOMask;
  int32_t MarkEndResetDaToZero;
  int32_t LASER_OFF_ON_INTEVAL;
  int32_t nLaserDelayZoom;
  int32_t nDaOutBeforeLaserMS;
  int32_t TopSoftWareControlYlrEnable;
  int32_t bWaitLaserEnableReady;
  int32_t ChangeWaveNoDelay_ms;
  int32_t nPrrBeforeMoPaUS;
  int32_t nPowLockWidthUS;
  int32_t bForceSwitchLs;
  int32_t nPrePwmH;  // kept in 48 MHz ticks (configured value x 48, saturated)
  int32_t nPrePwmL;  // kept in 48 MHz ticks
  int32_t nPrePwmTimeMS;
  double dbFloatPwm;
  double dbFloatPwmHighRat;
  int32_t nIdlePwmH;  // [FIBER], fibre lasers only; kept in 48 MHz ticks
  int32_t nIdlePwmL;  // [FIBER], fibre lasers only; kept in 48 MHz ticks
  int32_t bAllowFiberPwmDutyChange;
  int32_t bLaserOverTimeAlarmEn;
  uint32_t dbLaserOverTimeAlarmCntMs;  // kept as the integer part of ms x 100 (10 µs units)
  int32_t nLaserOverTimeAlarmIO_idx;
  int32_t nLaserOverTimeAlarmSrcSel;
  int32_t bLaserOverTimeAlarmScanMvEn;
  SharedInt32 nSampleLaserIO;
  double dbLastPulseThreshold;
  int32_t powerBusSel;  // [eBUS]
  int32_t nTypeBus;     // [eBUS]
  int32_t bO29WaveNoSPI;  // [SPI]
  int32_t bYLS;
  int32_t nWaveNoLock;
  int32_t nWaveNo0Cus;

  // ---- derived by InitParaLaser / SetLaserIoFlags
  int32_t nLaserCount;         // laser channels: 2 for LASER_TYPE 5, 6, 7, else 1
  int32_t nPowerChannelCount;  // power-wave channels, equal to nLaserCount
  int32_t nWaveNoMode;         // -1 none, 1 parallel output bits, 2 16-bit value, 3 type-5 mode
  int32_t nWaveNoMask;         // mask of the wave-number value
  int32_t nWaveNoBit0IO;       // output bit carrying bit 0 of the wave number
  // Light-path type flags from OSS_TYPE, read by the light-path handshakes of the laser code.
  uint8_t bOssType2;        // optical switch of type 2
  uint8_t bOssType1;        // optical switch of type 1
  uint8_t bOssType1Or2;     // an optical switch (type 1 or 2)
  uint8_t bOssType3;        // light path of type 3
  uint8_t bOssEnergySplit;  // energy splitting (types 4 to 6)
  int32_t nEnergySplitSlaves;  // energy-split slave cards: OSS_TYPE - 3 for types 4 to 6

  // ---- [CCDCOMM] camera serial port and the laser serial port (step 5 of InitPara). Both ports
  // have keys named BAUD and EParity, so these fields carry their section as a prefix.
  int32_t CCDCOMM_TIMEOUT;
  int32_t CCDCOMM_BAUD;
  int32_t CCDCOMM_MODE;
  int32_t CCDCOMM_EParity;
  int32_t nCCDEven1Odd0;
  int32_t nSerialFor3YLPN2Red1CW0none;  // [Uart]: section of Uart_BAUD / Uart_EParity
  int32_t Uart_BAUD;
  int32_t Uart_EParity;
  int32_t nUartEven1Odd0;

  // ---- InitParaOther
  int32_t nWobDocNoStableTmUs;
  int32_t OverTimeAlarm;
  int32_t nThreadPriority;
  uint32_t HowLongTimeFirstBuf;  // hold-back window of a job's first merge, µs
  // Steady hold-back window of the merge, µs: HowLongTimeFirstBuf x min([OTHER] dbBufLenCompFirst,
  // 0.95), truncated (dbBufLenCompFirst itself is not kept).
  uint32_t nSteadyWindowUs;
  int32_t nYlogLevel;
  int32_t bPrintTime;
  int32_t bNewAxisFileName;
  int32_t nOutRev;
  int32_t bOut0IsRun;
  int32_t bOut1IsLaser;
  int32_t bOut3IsSwClosed;
  int32_t bIn6IsErrorReset;
  int32_t bMarkAllowPause;
  int32_t bEnableSwitchLaserParaWhenLaserOn;
  int32_t nDaOutBeforeLaserMS_OnLaserSwitch;
  int32_t nPrrBeforeMoPaUS_OnLaserSwitch;
  int32_t nChangeWaveNoDelay_OnLaserSwitch;
  int32_t scanAdSampleFre10us;
  int32_t cntPcieLostSubMax;
  int32_t nBufFullStartSize;

  // ---- light-path acknowledge pattern (InitPara step 8), the mask and expected value of the
  // named waits "等待激光器空闲" / "等待激光器响应"
  uint32_t nOssAckMask;
  uint32_t nOssAckValue;

  // The record's part of the parameter file, in order: Main, scanner, laser, serial ports, other
  // keys, the acknowledge pattern, the named waits. The start-up's ApplyParameterFile adds what the
  // subsystems read from the same file (FIFO keys, the laser channels) and starts the worker threads.
  void InitPara();
  void InitParaMain();
  void InitParaScan();
  void InitParaLaser();
  void SetLaserIoFlags(int32_t ossType);
  void InitParaSerial();
  void InitParaOther();
  void InitParaAckPattern();
  void InitParaWaits() const;
  // Card opening: derives the card-version keys, records or verifies them, and sets the flash area
  // map and the extended command numbers (card_version.cpp).
  bool CheckCardVersionCfg(uint32_t cardVersion);
};

extern SystemPara g_SystemPara;
