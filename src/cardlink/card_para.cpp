#include "cardlink/card_para.h"

#include <cstring>

#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

namespace {

constexpr const char* kTag = "ConformCompatible";

// Shifts on 32 bits without undefined behaviour for negative or wide values.
uint32_t Shl(int32_t v, uint32_t n) { return static_cast<uint32_t>(v) << (n & 31u); }
uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }

bool Refuse(const std::string& text) {
  ReportFailure(kTag, text);
  return false;
}

// Minimum versions an optical-switch card of version o asks for: the library and the KVX card.
struct OssMinimum {
  uint32_t library = 0;
  uint32_t card = 0;
};

OssMinimum OssMinimumOf(uint32_t o) {
  if (o >= 12) {
    CmdReply reply;
    CPortlane::SendCmd(CMD_OSS_VERSION, 0, 0, reply);
    return {reply.r1() & 0xFFFFu, reply.r1() >> 16};
  }
  if (o >= 10) return {0x3300, 0x3B};
  return {};
}

}  // namespace

uint32_t GalvoWordG(SystemPara& p) {
  uint32_t a = 0, b = 0, c = 0, d = 0, e = 1, f = 1, g = 0, h = 1;
  int32_t L = p.nScanFeedbackDisLimit;
  if (p.bCloseFeedback != 0 && p.nScanType >= 1 && p.nScanType <= 15) {
    switch (p.nScanType) {
      case 1: f = 0; L = 0; a = 1; e = 0; b = 1; break;
      case 2: b = 1; break;
      case 3: a = 1; L = 0; c = 1; break;
      case 4: h = 0; g = 1; b = 1; break;
      case 5: a = 1; L = 0; d = 1; break;
      case 6: a = 1; L = 0; c = 1; d = 1; break;
      case 15: L = 0; a = 1; e = 0; b = 1; break;
      default: break;  // 7 .. 14: the defaults
    }
  }
  p.nScanFeedbackDisLimit = L;
  p.bScanFeedbackWait = 1 - a;
  const uint32_t bits = (U(p.bCloseFeedback & 1) << 1) | (uint32_t{L > 0} << 2) | (b << 3) | (c << 4) | (a << 5) |
                        (e << 6) | (f << 7) | (g << 8) | (h << 9) | (d << 10) | Shl(p.nScanFeedBackAlarmOkV, 11);
  return bits | (U(p.nScanFeedbackTimeAllowMs) * 6553600u);
}

uint32_t RunStartUnits(double bufferSpace, int32_t nBufFullStartSize) {
  const double v = bufferSpace * 15.0 * nBufFullStartSize / 100.0 * 16.0;
  const int32_t n = RealToInt32(v);
  if (n < 1) return 1;
  return n > 255 ? 255u : static_cast<uint32_t>(n);
}

void BuildCardParaCommands(CmdBatch& batch, double bufferSpace) {
  SystemPara& p = g_SystemPara;
  auto add = [&batch](uint16_t cmd, uint32_t p1, uint32_t p2) { batch.emplace_back(cmd, p1, p2); };

  const uint32_t G = GalvoWordG(p);
  add(1, G, Shl(p.nScanFeedbackDisLimit, 16) | U(p.MIRCO_MOVE_VEL));
  add(7, 0, U(p.nScanFbCheckDst & p.nScanFbCheckMask) | Shl(p.nScanFbCheckMask, 8));
  add(8, U(p.nScanStepLimit), 0);
  add(6, 1, U(p.bCardNotGridel & 1));
  add(5, U(p.nArriveTime), (p.bScanSpiClose == 1 ? 0x10000u : 0u) + (U(p.nArriveNear) & 0xFFFFu));
  add(49, U(p.CCDCOMM_TIMEOUT) * 48000u,
      (((Shl(p.CCDCOMM_MODE & 7, 20) | U(p.nCCDEven1Odd0 & 1)) << 8) | (p.CCDCOMM_EParity == 0 ? 0x80000000u : 0u) |
       U(p.CCDCOMM_BAUD & 63)));
  add(113, 0, (p.Uart_EParity == 0 ? 0x80000000u : 0u) | Shl(p.nUartEven1Odd0 & 1, 8) | U(p.Uart_BAUD & 63));
  // The sampling period is masked with 47 on its way to the card, as the card expects it.
  add(36, Shl(p.bIgnoreSubCard & 1, 12) | U(p.IoInFromOss & 1),
      (((Shl(p.nOutRev, 8) | U(p.scanAdSampleFre10us & 47)) << 8) | U(p.nAdFilter)));
  add(40, U(p.nRecordMask), U(p.bRecordDA) * 2u | U(p.bRecordScan));
  add(43, 1, p.nTypeBus == 0 ? U(p.powerBusSel) : ((U(p.powerBusSel) & 6u) * 4u) | (U(p.powerBusSel) & 1u));
  add(43, 2, U(p.cntPcieLostSubMax));
  add(37, 2, U(p.bOut3IsSwClosed));
  add(37, 4, Shl(p.bForbidLaserIOEn & 1, 16) | (U(p.nForbidLaserIOMask) & 0xFFu));
  add(CMD_SET_FLAG, static_cast<uint32_t>(static_cast<int32_t>(p.nRotateAxis)), 0x200);
  add(CMD_SET_FLAG, U(p.bYLS), 0x800);
  add(CMD_SET_FLAG, OssCardConfigured(p) && p.IoInFromOss == 1 ? 1u : 0u, 0x1000);
  add(CMD_SET_FLAG, p.bForceSwitchLs != 0 ? 1u : 0u, 0x2000);
  add(20, 0, RunStartUnits(bufferSpace, p.nBufFullStartSize));
  add(CMD_HW_INFO2, 0, U(p.OverTimeAlarm));
  add(91,
      ((((Shl(p.nLaserOverTimeAlarmIO_idx, 4) | U(p.nLaserOverTimeAlarmSrcSel)) * 8u | U(p.bLaserOverTimeAlarmScanMvEn)) *
        2u) |
       U(p.bLaserOverTimeAlarmEn)),
      p.dbLaserOverTimeAlarmCntMs);
  add(CMD_SET_FLAG, p.bRecordWhenMark >= 2 ? 1u : 0u, FLAG_DEBUG_RECORD);
  add(CMD_SET_FLAG, U(p.bIn6IsErrorReset), 0x100000);
}

void MakeCardParaBlock(const CmdBatch& batch, uint8_t* page) {
  if (batch.size() > kCardParaMaxPackets) {
    g_ErrorLog.Write("MakeCardParaBlock", LOG_ERROR, "%u packets do not fit the card-parameter page",
                     static_cast<unsigned>(batch.size()));
    throw MyException(RV_ERROR, 1);
  }
  std::memset(page, 0, kFlashPageBytes);
  for (size_t i = 0; i < batch.size(); ++i) std::memcpy(page + i * CmdPacket::kSize, batch[i].bytes.data(), CmdPacket::kSize);
  page[kFlashPageBytes - 1] = kCardParaMarker;
}

int32_t UsbFirmwareValue(uint8_t b0, uint8_t b1) {
  const int32_t v = static_cast<int8_t>(b0);
  return static_cast<int32_t>(static_cast<uint32_t>(v) << ((b1 + 8u) & 31u));
}

bool OssCardConfigured(const SystemPara& p) { return p.OSS_TYPE == 1 || p.OSS_TYPE == 2; }

bool ConformCompatible() {
  const SystemPara& p = g_SystemPara;
  if (p.CardLinkCfg.bUsbCard) {
    uint8_t fw[2] = {};
    CPortlane::SendComCmd(REQ_USB_FIRMWARE, 0, 0, fw, 2);
    if (UsbFirmwareValue(fw[0], fw[1]) < kMinUsbFirmware) return Refuse("板卡USB固件版本太旧，请联系供应商换卡");
  }
  if (p.CardVertion != kConfigCardVertion) return Refuse("配置文件不是V6版本，请重新打补丁");

  CmdReply hw;
  CPortlane::SendCmd(CMD_HW_VERSION, 0, 0, hw);
  const uint32_t v = p.nCardVersion;
  g_InfoLog.Write(kTag, LOG_INFO, "KVX版本:%x", v);
  uint32_t minOss = 0;  // the oldest optical-switch card this card works with
  if (v >= 0x44) {
    const uint32_t minLibrary = hw.r1() & 0xFFFFu;
    minOss = (hw.r1() >> 16) & 0xFFu;
    if (minLibrary > kLibraryVersion)
      return Refuse(StrFormat("库版本 (%x) 过低，不兼容当前KVX1000卡版本\r\n请下载最新库 ( 版本 ≥ %x )", kLibraryVersion,
                              minLibrary));
  } else if (v >= 0x40) {
    minOss = 10;
  }
  if (p.LASER_TYPE == 2 && v < 0x35) return Refuse("Fiber卡版本过低，不兼容，请使用旧补丁，或升级板卡！");

  if (OssCardConfigured(p)) {
    CmdReply oss;
    CPortlane::SendCmd(static_cast<uint16_t>(g_CmdNumTable.Of(kCmdOssStatus)), 0, 0, oss);
    if ((oss.r1() >> 28) & 1u) {
      const uint32_t o = (oss.r1() >> 20) & 0x3Fu;
      const bool eBus = (oss.r1() >> 26) & 1u;
      g_InfoLog.Write(kTag, LOG_INFO, "OSS版本:%x", o);
      if (o == 9) return Refuse("该分光卡版本09存在设计错误，请联系供应商升级");
      const bool softwareBus = p.bYLS == 1 || p.LASER_TYPE == 5;
      if (eBus && p.bYLS == 0 && p.LASER_TYPE != 5)
        return Refuse("分光卡配置为YLS(eBus)，软件未配置为YLS或总线，请确认使用");
      if (!eBus && softwareBus) return Refuse("分光卡未配置为YLS(eBus)，软件配置为YLS或总线，请确认使用");
      const OssMinimum min = OssMinimumOf(o);
      if (minOss > o)
        return Refuse(StrFormat("OSS卡版本 (%x) 过低，不兼容当前KVX1000卡版本（%x），请升级OSS卡！", o, v));
      if (min.library > kLibraryVersion)
        return Refuse(StrFormat("库版本 (%x) 过低，不兼容当前OSS卡版本\r\n请下载最新库 ( 版本 ≥ %x )", kLibraryVersion,
                                min.library));
      if (min.card > v) return Refuse("KVX1000卡版本过低，不兼容当前OSS卡版本，请升级KVX1000卡！");
    }
  }
  return true;
}
