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
// flag keys hold an int32_t (a flag holds the converted number), real keys a double. Keys read only under
// a condition keep their previous value when the condition is false.
//
// Threads. The record is rewritten in place on a host thread inside the card opening and the
// parameter-file task, while other threads read it without a lock: the monitor and the watchdog, the
// immediate, fly and axis exports of another host thread, and a job's end after its task was released
// (the rest move). So every field is a Shared<T> (frame/shared_value.h): a read gives the old or the
// new value, never a torn one, and the record is otherwise used like a plain record.
#include <cstdint>

#include "frame/shared_value.h"

// Link configuration at the head of the record; filled by InitParaLink (cardlink/link_config.h) at card opening
// (with the driver link) and read by the link and the subsystems named beside each field.
struct CardLinkCfg {
  Shared<uint16_t> PID;            // [HARDWARE] PID, default 32768
  Shared<uint16_t> CARDNO;         // [HARDWARE] CARDNO, default 32768
  Shared<uint16_t> CardType;       // [Main] CardType: 0 USB card, 1 PCIe card (others take the PCIe defaults)
  Shared<uint8_t> bWaitLinkState;  // wait for the link-state ready bits around commands and bulk chunks
  Shared<uint8_t> bUsbFlashPath;   // USB card (offline-file code)
  Shared<uint8_t> bPcieCard;       // PCIe card (manual-mode test of the axis exports)
  Shared<uint8_t> bSharedLock;     // stream blocks go under the command lock instead of the buffer lock
  Shared<uint8_t> bPcieNoSlave;    // PCIe card without a secondary card (scanner epilogue)
  Shared<uint8_t> bUsbCard;        // USB card (FIFO transfer, firmware check)
  Shared<uint16_t> bSlaveCard;     // a secondary card is linked
  Shared<uint8_t> bFrameHeader;    // command frames carry the 4-byte header and are 16 bytes long
  Shared<uint16_t> QualityPeriod;  // [HARDWARE] QualityPeriod in ms, default 512; slave link only
  Shared<uint16_t> nLostFail;      // QualityPeriod x [HARDWARE] dbLostRatio2Fail, truncated
  Shared<uint16_t> nLostLink;      // QualityPeriod x [HARDWARE] dbLostRatio2Link, truncated
  Shared<uint32_t> nReplyLen;      // bytes of a reply (and of a frame without header): 10 USB, 12 PCIe
  Shared<uint32_t> nAxisCount;     // extra motion axes: 2 USB, 3 PCIe
};

struct SystemPara {
  struct CardLinkCfg CardLinkCfg;

  // ---- card version and run switches without a key of their own
  Shared<uint32_t> nCardVersion;       // derived from the hardware version word at card opening
  uint32_t bOpenOnly;                  // set by debug_OpenCard2GetMsg (read and written through
                                       // atomic_ref): opening stops after the version check
  Shared<uint32_t> bScanFeedbackWait;  // set by the card-parameter list builder from nScanType; the
                                       // dot list writes its scanner feedback wait when 1
  // Rotation marking's galvanometer axis that a motor axis replaces (0 X, 1 Y): the second argument
  // of QZ_SetRotateMarkPara, sent with the card parameters.
  Shared<int32_t> nRotateAxis;  // also set by QZ_SetRotateMarkPara, read by the parameter upload
  // Largest gap between two merged stream words, µs (merge of the word channels).
  static constexpr uint32_t nMaxMergeGapUs = 0x700000;

  // ---- [Main] (InitParaMain)
  Shared<int32_t> CardVertion;
  Shared<int32_t> nHardWareVertionK;
  Shared<int32_t> bRecordWhenMark;
  Shared<int32_t> bUpdateParaInCardWhenOpen;
  Shared<int32_t> bRecordInThread;
  Shared<int32_t> bAutoCheckMarkInfoFB;  // also cleared at run time when too many expected records wait
  Shared<int32_t> bRecordCheck;
  Shared<int32_t> nRecordSleep;
  Shared<int32_t> nRecordMask;
  Shared<int32_t> bRecordScan;
  Shared<int32_t> bRecordDA;
  Shared<int32_t> wob;
  Shared<int32_t> bKvxOSS;
  Shared<int32_t> nCheckFlashType;
  Shared<int32_t> bMessageBoxUsbLongTime;
  Shared<int32_t> bIgnoreSubCard;

  // ---- card version keys of [Main] (CheckCardVersionCfg); bNewBoxCali is first read from [MAIN]
  // by the library's entry routine
  Shared<int32_t> bConfiguration;
  Shared<int32_t> bJustM25p64;
  Shared<int32_t> bHaveNandFlash;
  Shared<int32_t> bCmdWithNum;
  Shared<int32_t> bNewBoxCali;
  Shared<int32_t> nBufDataCheckType;

  // ---- [HARDWARE] keys read by the calibration code (not by InitPara)
  Shared<int32_t> bHighPrecisionCali;
  Shared<int32_t> bHighPrecisionCaliR;

  // ---- scanner keys (InitParaScan)
  Shared<int32_t> BASETIME;
  Shared<double> MarkEnd_X;
  Shared<double> MarkEnd_Y;
  Shared<double> MarkEnd_Z;
  Shared<int32_t> bHaveScanZ;
  Shared<double> dbZBox;
  Shared<double> FRAME_SPEED;
  Shared<int32_t> bCloseFeedback;
  Shared<int32_t> nScanFeedbackDisLimit;
  Shared<int32_t> nScanFeedbackTimeAllowMs;
  Shared<int32_t> nArriveTime;
  Shared<int32_t> nArriveNear;
  Shared<int32_t> nScanType;
  Shared<int32_t> nScanFeedBackAlarmOkV;
  Shared<int32_t> nScanFbCheckMask;
  Shared<int32_t> nScanFbCheckDst;
  Shared<int32_t> bScanSpiClose;
  Shared<int32_t> bCardNotGridel;
  Shared<int32_t> bFiltLine;
  Shared<double> dbFiltLineAng;
  Shared<double> dbFiltLineLen;      // read as an integer
  Shared<int32_t> bPolygonBreak;
  Shared<double> dbPolygonBreakAng;  // configured in degrees, kept in radians
  Shared<double> dbDisMaxTwoLineConnectMM;
  Shared<int32_t> nScanStepLimit;
  Shared<int32_t> bScanNotBack;
  Shared<int32_t> MIRCO_MOVE_VEL;    // [SCAN], default 10: read when the parameter file is applied; command 1 of
                          // the card parameters
  Shared<int32_t> nDashedlineLayNo;

  // ---- laser keys (InitParaLaser)
  Shared<int32_t> LASER_TYPE;
  Shared<int32_t> LASER_TYPE_pre;
  Shared<int32_t> LASER_IPG100W_TYPE;
  Shared<int32_t> OSS_TYPE;
  Shared<int32_t> IoInFromOss;
  Shared<int32_t> nIO_OSS_Energy_Trig_I;
  Shared<int32_t> nIO_OSS_Energy_Host_Trig_O;
  Shared<int32_t> nIO_OSS_Energy_Host_Ready_I;
  Shared<int32_t> nIO_OSS_Energy_Dev_Ready_O;
  Shared<int32_t> nRedModeNoOss;
  Shared<int32_t> bIgnoreOssIdle;
  Shared<int32_t> bOssCusApplyAckIO;
  Shared<int32_t> nOssNeedApplyIO;
  Shared<int32_t> nOssNeedAckIO;
  Shared<int32_t> nAdFilter;
  Shared<int32_t> bLockLaserAllow;
  Shared<int32_t> nLockLaserSwitchIO;
  Shared<int32_t> bForbidLaserIOEn;
  Shared<int32_t> nForbidLaserIOMask;
  Shared<int32_t> MarkEndResetDaToZero;
  Shared<int32_t> LASER_OFF_ON_INTEVAL;
  Shared<int32_t> nLaserDelayZoom;
  Shared<int32_t> nDaOutBeforeLaserMS;
  Shared<int32_t> TopSoftWareControlYlrEnable;
  Shared<int32_t> bWaitLaserEnableReady;
  Shared<int32_t> ChangeWaveNoDelay_ms;
  Shared<int32_t> nPrrBeforeMoPaUS;
  Shared<int32_t> nPowLockWidthUS;
  Shared<int32_t> bForceSwitchLs;
  Shared<int32_t> nPrePwmH;                    // kept in 48 MHz ticks (configured value x 48, saturated)
  Shared<int32_t> nPrePwmL;                    // kept in 48 MHz ticks
  Shared<int32_t> nPrePwmTimeMS;
  Shared<double> dbFloatPwm;
  Shared<double> dbFloatPwmHighRat;
  Shared<int32_t> nIdlePwmH;                   // [FIBER], fibre lasers only; kept in 48 MHz ticks
  Shared<int32_t> nIdlePwmL;                   // [FIBER], fibre lasers only; kept in 48 MHz ticks
  Shared<int32_t> bAllowFiberPwmDutyChange;
  Shared<int32_t> bLaserOverTimeAlarmEn;
  Shared<uint32_t> dbLaserOverTimeAlarmCntMs;  // kept as the integer part of ms x 100 (10 µs units)
  Shared<int32_t> nLaserOverTimeAlarmIO_idx;
  Shared<int32_t> nLaserOverTimeAlarmSrcSel;
  Shared<int32_t> bLaserOverTimeAlarmScanMvEn;
  Shared<int32_t> nSampleLaserIO;
  Shared<double> dbLastPulseThreshold;
  Shared<int32_t> powerBusSel;                 // [eBUS]
  Shared<int32_t> nTypeBus;                    // [eBUS]
  Shared<int32_t> bO29WaveNoSPI;               // [SPI]
  Shared<int32_t> bYLS;
  Shared<int32_t> nWaveNoLock;
  Shared<int32_t> nWaveNo0Cus;

  // ---- derived by InitParaLaser / SetLaserIoFlags
  Shared<int32_t> nLaserCount;         // laser channels: 2 for LASER_TYPE 5, 6, 7, else 1
  Shared<int32_t> nPowerChannelCount;  // power-wave channels, equal to nLaserCount
  Shared<int32_t> nWaveNoMode;         // -1 none, 1 parallel output bits, 2 16-bit value, 3 type-5 mode
  Shared<int32_t> nWaveNoMask;         // mask of the wave-number value
  Shared<int32_t> nWaveNoBit0IO;       // output bit carrying bit 0 of the wave number
  // Light-path type flags from OSS_TYPE, read by the light-path handshakes of the laser code.
  Shared<uint8_t> bOssType2;           // optical switch of type 2
  Shared<uint8_t> bOssType1;           // optical switch of type 1
  Shared<uint8_t> bOssType1Or2;        // an optical switch (type 1 or 2)
  Shared<uint8_t> bOssType3;           // light path of type 3
  Shared<uint8_t> bOssEnergySplit;     // energy splitting (types 4 to 6)
  Shared<int32_t> nEnergySplitSlaves;  // energy-split slave cards: OSS_TYPE - 3 for types 4 to 6

  // ---- [CCDCOMM] camera serial port and the laser serial port (step 5 of InitPara). Both ports
  // have keys named BAUD and EParity, so these fields carry their section as a prefix.
  Shared<int32_t> CCDCOMM_TIMEOUT;
  Shared<int32_t> CCDCOMM_BAUD;
  Shared<int32_t> CCDCOMM_MODE;
  Shared<int32_t> CCDCOMM_EParity;
  Shared<int32_t> nCCDEven1Odd0;
  Shared<int32_t> nSerialFor3YLPN2Red1CW0none;  // [Uart]: section of Uart_BAUD / Uart_EParity
  Shared<int32_t> Uart_BAUD;
  Shared<int32_t> Uart_EParity;
  Shared<int32_t> nUartEven1Odd0;

  // ---- InitParaOther
  Shared<int32_t> nWobDocNoStableTmUs;
  Shared<int32_t> OverTimeAlarm;
  Shared<int32_t> nThreadPriority;
  Shared<uint32_t> HowLongTimeFirstBuf;  // hold-back window of a job's first merge, µs
  // Steady hold-back window of the merge, µs: HowLongTimeFirstBuf x min([OTHER] dbBufLenCompFirst,
  // 0.95), truncated (dbBufLenCompFirst itself is not kept).
  Shared<uint32_t> nSteadyWindowUs;
  Shared<int32_t> nYlogLevel;
  Shared<int32_t> bPrintTime;
  Shared<int32_t> bNewAxisFileName;
  Shared<int32_t> nOutRev;
  Shared<int32_t> bOut0IsRun;
  Shared<int32_t> bOut1IsLaser;
  Shared<int32_t> bOut3IsSwClosed;
  Shared<int32_t> bIn6IsErrorReset;
  Shared<int32_t> bMarkAllowPause;
  Shared<int32_t> bEnableSwitchLaserParaWhenLaserOn;
  Shared<int32_t> nDaOutBeforeLaserMS_OnLaserSwitch;
  Shared<int32_t> nPrrBeforeMoPaUS_OnLaserSwitch;
  Shared<int32_t> nChangeWaveNoDelay_OnLaserSwitch;
  Shared<int32_t> scanAdSampleFre10us;
  Shared<int32_t> cntPcieLostSubMax;
  Shared<int32_t> nBufFullStartSize;

  // ---- light-path acknowledge pattern (InitPara step 8), the mask and expected value of the
  // named waits "等待激光器空闲" / "等待激光器响应"
  Shared<uint32_t> nOssAckMask;
  Shared<uint32_t> nOssAckValue;

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
