#include "cardlink/link_config.h"

#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

namespace {

constexpr int32_t kDefaultQualityPeriod = 512;

// The link quality period in ms is a 16-bit count that the open also sleeps for: a value outside
// 1..65535 would become a period of 0 or a wrapped one (-1 gave 65535 ms, and an open that held both
// card locks for minutes), so it falls back to the default.
uint16_t QualityPeriodOf(int32_t v) {
  if (v >= 1 && v <= 65535) return static_cast<uint16_t>(v);
  g_ErrorLog.Write("SystemPara::InitParaLink", LOG_WARNING, "[HARDWARE] QualityPeriod %d is outside 1..65535; %d is used",
                   static_cast<int>(v), static_cast<int>(kDefaultQualityPeriod));
  return kDefaultQualityPeriod;
}

}  // namespace

void InitParaLink(int8_t slave) {
  ::CardLinkCfg& c = g_SystemPara.CardLinkCfg;
  c.CardType = static_cast<uint16_t>(ReadMainInt("Main", "CardType", 0));
  // Every card type but USB starts from the PCIe settings.
  c.bWaitLinkState = 1;
  c.bUsbFlashPath = 0;
  c.bPcieCard = 1;
  c.bSharedLock = 1;
  c.bPcieNoSlave = 0;
  c.bUsbCard = 0;
  c.bSlaveCard = 0;
  c.bFrameHeader = 0;
  c.nReplyLen = 12;
  c.nAxisCount = 3;
  if (c.CardType == 0) {
    c.bWaitLinkState = 0;
    c.bUsbFlashPath = 1;
    c.bPcieCard = 0;
    c.bSharedLock = 0;
    c.bUsbCard = 1;
    c.nReplyLen = 10;
    c.nAxisCount = 2;
  } else if (c.CardType == 1 && slave != 0) {
    c.bFrameHeader = 1;
    c.bSlaveCard = 1;
    c.QualityPeriod = QualityPeriodOf(ReadMainInt("HARDWARE", "QualityPeriod", kDefaultQualityPeriod));
    c.nLostFail = RealToUInt16(c.QualityPeriod * ReadMainDouble("HARDWARE", "dbLostRatio2Fail", 0.6));
    c.nLostLink = RealToUInt16(c.QualityPeriod * ReadMainDouble("HARDWARE", "dbLostRatio2Link", 0.1));
  } else if (c.CardType == 1) {
    c.bPcieNoSlave = 1;
  }
  c.PID = static_cast<uint16_t>(ReadMainInt("HARDWARE", "PID", 32768));
  c.CARDNO = static_cast<uint16_t>(ReadMainInt("HARDWARE", "CARDNO", 32768));
}
