#include "cardlink/portlane.h"

#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/link_config.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/clock.h"
#include "platform/debug_out.h"

LinkState g_Link;

void LinkState::Reset() {
  plat::LockGuard g(g_csCardCmd);
  g_bConnected = 0;
  g_nCmdIssued = 0;
  g_nCmdDone = 0;
  g_LinkState = g_nLinkToggle = 0;
  nLinkLevel = bLinked = bSecondLink = nLinkError = 0;
  g_nCmdSeq = g_nCmdOk = g_bCmdSeqOn = 0;
  g_hCardMutex.Close();
}

namespace {

const CardLinkCfg& Link() { return g_SystemPara.CardLinkCfg; }

// Reads the status word; a failed read, or a secondary card that lost its link (reported), is a
// failure. 0 or 1.
uint32_t ReadLinkStateChecked() REQUIRES(g_csCardCmd) {
  if (CPortlane::getState() != 0) return 1;
  if (Link().bSlaveCard && !g_Link.bLinked) {
    CPortlane::printLinkFailWhy();
    return 1;
  }
  return 0;
}

// Polls the status word until `mask` is set; the bulk-chunk wait and WaitState share it. 0 or 1.
uint32_t PollLinkState(uint32_t mask) REQUIRES(g_csCardCmd) {
  const uint32_t start = plat::TickMs();
  for (;;) {
    if (ReadLinkStateChecked() != 0) return 1;
    if ((g_Link.g_LinkState & mask) == mask) return 0;
    if (plat::TickMs() - start >= kLinkWaitMs) {
      g_ErrorLog.Write("CPortlane::WaitState", LOG_ERROR, "link state %x: bits %x not ready within %u ms",
                       g_Link.g_LinkState, mask, kLinkWaitMs);
      return 1;
    }
  }
}


}  // namespace

uint32_t CPortlane::getState() {
  uint32_t word = 0;
  uint32_t returned = 0;
  if (!PortlaneApi.bLoaded ||
      PortlaneApi.QZ_DeviceIoControl(kIoctlLinkState, nullptr, 0, &word, 4, &returned) != 0) {
    g_ErrorLog.Write("CPortlane::getState", LOG_ERROR, "link state read failed");
    return 2;
  }
  g_Link.g_LinkState = word;
  const uint32_t nibble = word >> 28;
  if ((nibble != 0xA && nibble != 0x5) || nibble == g_Link.g_nLinkToggle) {
    g_ErrorLog.Write("CPortlane::getState", LOG_ERROR, "Flag Err %d", static_cast<int>(nibble));
    return 2;
  }
  g_Link.g_nLinkToggle = nibble;
  if (Link().bSlaveCard) {
    g_Link.nLinkLevel = (word >> 14) & 3;
    g_Link.bLinked = (word >> 13) & 1;
    g_Link.bSecondLink = (word >> 12) & 1;
    g_Link.nLinkError = (word >> 9) & 7;
  }
  return 0;
}

uint32_t CPortlane::WaitState(uint32_t mask) { return PollLinkState(mask); }

void CPortlane::printLinkFailWhy() {
  if (SendLinkWord(LINKW_LATCH_FAIL_WHY) != 0 || getState() != 0) return;
  const uint32_t r = (g_Link.g_LinkState >> 16) & 0xF;
  std::string why;
  if (r & 8) {
    if (!(r & 4)) why += "PeriodCon NG; ";
    if (r & 2) why += "OverTime NG; ";
    if (r & 1) why += "SlaveLink  NG; ";
  } else if (r == 1) {
    why += "Read NG; ";
  }
  g_ErrorLog.Write("CPortlane::printLinkFailWhy", LOG_ERROR, "linked = 0 : Why= %x %s", r, why.c_str());
}

uint32_t CPortlane::SendLinkWord(uint32_t word) {
  if (!PortlaneApi.bLoaded) return 1;
  uint8_t frame[4];
  PutU32(frame, word);
  return PortlaneApi.QZ_CmdSend(frame, 4) != 0 ? 1 : 0;
}

namespace {

// One command frame as the driver link takes it: the command word (with the sequence nibble, which
// then advances, while sequencing is on), p1 and p2, behind the header word on a link that wants it.
struct CmdFrame {
  uint8_t bytes[16] = {};
  uint32_t length = 0;
  uint16_t word = 0;
};

CmdFrame BuildFrame(uint16_t cmd, uint32_t p1, uint32_t p2) REQUIRES(g_csCardCmd) {
  const CardLinkCfg& link = Link();
  CmdFrame f;
  f.word = cmd;
  if (g_Link.g_bCmdSeqOn) {
    f.word = static_cast<uint16_t>(((g_Link.g_nCmdSeq & 15u) << 12) + (cmd & 0x1FFu));
    ++g_Link.g_nCmdSeq;
  }
  if (link.bFrameHeader) {
    PutU32(f.bytes, kFrameHeaderWord);
    PutU16(f.bytes + 4, f.word);
    PutU32(f.bytes + 6, p1);
    PutU32(f.bytes + 10, p2);
    f.length = 16;
  } else {
    PutU16(f.bytes, f.word);
    PutU32(f.bytes + 2, p1);
    PutU32(f.bytes + 6, p2);
    f.length = link.nReplyLen;
  }
  return f;
}

}  // namespace

uint32_t CPortlane::SendCtrlCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) {
  ++g_Link.g_nCmdIssued;
  const CardLinkCfg& link = Link();
  const CmdFrame frame = BuildFrame(cmd, p1, p2);
  const uint16_t word = frame.word;
  const uint32_t replyLen = link.nReplyLen;
  bool ok = PortlaneApi.bLoaded && frame.length <= sizeof frame.bytes && replyLen <= sizeof reply.bytes;
  ok = ok && !(link.bWaitLinkState && WaitState(LINK_CMD_READY) != 0);
  ok = ok && PortlaneApi.QZ_CmdSend(frame.bytes, frame.length) == 0;
  ok = ok && !(link.bWaitLinkState && WaitState(LINK_REPLY_PENDING) != 0);
  ok = ok && PortlaneApi.QZ_CmdRecv(reply.bytes, replyLen) == 0;
  if (ok && reply.Echo() != word) {
    std::string text = StrFormat("USB Return err: code %x %x ", word, reply.Echo());
    plat::DebugOutput(text);
    g_ErrorLog.WriteText("CPortlane::SendCtrlCmd", LOG_ERROR, text);
    ok = false;
  }
  if (ok) ++g_Link.g_nCmdOk;
  ++g_Link.g_nCmdDone;
  return ok ? 0 : 1;
}

bool CPortlane::ReturnV(uint32_t result) {
  if (result == 0) return true;
  g_Link.g_bConnected = 0;
  LogFailure("CPortlane::ReturnV", "Card is not connected");
  throw MyException(RV_CARD_NOT_CONNECTED, 0);
}

bool CPortlane::SendCmdLocked(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) {
  if (!g_Link.g_bConnected) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  return ReturnV(SendCtrlCmd(cmd, p1, p2, reply));
}

bool CPortlane::SendCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) {
  plat::LockGuard g(g_csCardCmd);
  return SendCmdLocked(cmd, p1, p2, reply);
}

bool CPortlane::SendComCmd(uint32_t request, uint32_t, uint32_t, void* buffer, uint32_t length) {
  plat::LockGuard g(g_csCardCmd);
  if (!g_Link.g_bConnected) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  const uint32_t rc = PortlaneApi.bLoaded ? PortlaneApi.QZ_SendComCmd(0, request, 0, 0, buffer, length) : 1;
  return ReturnV(rc != 0 ? 1 : 0);
}

namespace {

// A USB card takes a block whole, a PCIe card in four 512-byte chunks.
uint32_t ChunkBytes() { return Link().CardType != 0 ? 512 : kStreamBlockBytes; }

}  // namespace

uint32_t CPortlane::BufSendRaw(const uint8_t* block) {
  if (!PortlaneApi.bLoaded) return 1;
  const uint32_t chunk = ChunkBytes();
  for (uint32_t off = 0; off < kStreamBlockBytes; off += chunk) {
    if (Link().bWaitLinkState && PollLinkState(LINK_BULK_READY) != 0) return 1;
    if (PortlaneApi.QZ_BufSend(block + off, chunk) != 0) return 1;
  }
  return 0;
}

bool CPortlane::BufSend(const uint8_t* block, uint32_t) {
  if (Link().bSharedLock) {
    // PCIe: blocks share the command lock, since each chunk waits on the link status word.
    plat::LockGuard g(g_csCardCmd);
    if (!g_Link.g_bConnected) throw MyException(RV_CARD_NOT_CONNECTED, 0);
    return ReturnV(BufSendRaw(block));
  }
  // USB: the buffer lock lets a block and a command exchange run at once; nothing waits on the
  // link status word here.
  plat::LockGuard g(g_csCardBuf);
  if (!g_Link.g_bConnected) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  uint32_t rc = PortlaneApi.bLoaded ? 0 : 1;
  for (uint32_t off = 0; rc == 0 && off < kStreamBlockBytes; off += ChunkBytes())
    rc = PortlaneApi.QZ_BufSend(block + off, ChunkBytes()) != 0 ? 1 : 0;
  return ReturnV(rc);
}

bool CPortlane::ReadBlocks(uint32_t word, uint8_t* buffer, uint32_t length) {
  uint32_t off = 0;
  return ReadBulk(CMD_OPERATE, OP_FLASH, word, length / kBulkUnitBytes, [&](const uint8_t* unit) {
    std::memcpy(buffer + off, unit, kBulkUnitBytes);
    off += kBulkUnitBytes;
    return true;
  });
}

bool CPortlane::ReadBulk(uint16_t cmd, uint32_t p1, uint32_t p2, uint32_t units,
                         const std::function<bool(const uint8_t*)>& sink) {
  plat::LockGuard g(g_csCardCmd);
  if (!g_Link.g_bConnected) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  ++g_Link.g_nCmdIssued;
  const CardLinkCfg& link = Link();
  // The request has no reply: the card answers it on the bulk channel.
  const CmdFrame frame = BuildFrame(cmd, p1, p2);
  bool ok = PortlaneApi.bLoaded && frame.length <= sizeof frame.bytes;
  ok = ok && !(link.bWaitLinkState && WaitState(LINK_CMD_READY) != 0);
  ok = ok && PortlaneApi.QZ_CmdSend(frame.bytes, frame.length) == 0;
  uint8_t unit[kBulkUnitBytes];
  for (uint32_t i = 0; ok && i < units; ++i) {
    ok = !(link.bWaitLinkState && WaitState(LINK_BULK_PENDING) != 0);
    ok = ok && PortlaneApi.QZ_BufRecv(unit, kBulkUnitBytes) == 0;
    // A sink that cannot take a unit ends the read; the link itself is fine.
    if (ok && !sink(unit)) break;
  }
  ++g_Link.g_nCmdDone;
  return ReturnV(ok ? 0 : 1);
}

uint32_t CPortlane::LinkSlave() {
  const CardLinkCfg& link = Link();
  for (uint32_t w : {LINKW_QUALITY_PERIOD | link.QualityPeriod, LINKW_LOST_FAIL | link.nLostFail,
                     LINKW_LOST_LINK | link.nLostLink, LINKW_SETTING_0, LINKW_SETTING_1, LINKW_SETTING_2})
    if (SendLinkWord(w) != 0) return 1;
  plat::Sleep(link.QualityPeriod);
  if (getState() != 0) return 1;
  if (g_Link.nLinkLevel < 2) {
    ShowTopmostBox(Lang("副卡未连接，必须连接副卡才能打开卡",
                 "The secondary card is not connected, it must be connected to open the card"));
    return 1;
  }
  struct Step {
    uint32_t word;
    bool twoWords;  // step 1 goes first, 2 ms before the step's own word
    uint32_t linked, second;
  };
  const Step steps[] = {
      {LINKW_HANDSHAKE | 4, true, 0, 0}, {LINKW_HANDSHAKE | 5, false, 0, 1}, {LINKW_HANDSHAKE | 2, false, 1, 1}};
  for (const Step& s : steps) {
    if (s.twoWords) {
      if (SendLinkWord(LINKW_HANDSHAKE | 1) != 0) return 1;
      plat::Sleep(2);
    }
    if (SendLinkWord(s.word) != 0) return 1;
    plat::Sleep(2);
    if (getState() != 0) return 1;
    if (g_Link.nLinkLevel < 2 || g_Link.bLinked != s.linked || g_Link.bSecondLink != s.second) return 1;
  }
  if (SendLinkWord(LINKW_HANDSHAKE) != 0 || getState() != 0) return 1;
  return g_Link.nLinkError == 0 ? 0 : 1;
}

uint32_t CPortlane::ClearUSB() {
  const CardLinkCfg& link = Link();
  if (!PortlaneApi.bLoaded) return 1;
  const char* clearZh = "清除一次读缓冲区!!! ";
  const char* clearEn = "Clear the read buffer once!!!";
  if (link.CardType != 0) {
    if (link.bSlaveCard && LinkSlave() != 0) return 1;
    uint8_t scratch[512];
    uint32_t quiet = 0;
    for (int round = 0; round < 100; ++round) {
      plat::Sleep(link.bSlaveCard ? link.QualityPeriod / 5u : 10u);
      ++quiet;
      if (ReadLinkStateChecked() != 0) return 1;
      if (g_Link.g_LinkState & LINK_REPLY_PENDING) {
        g_ErrorLog.Write("CPortlane::ClearUSB", LOG_ERROR, "%s", Lang(clearZh, clearEn));
        if (PortlaneApi.QZ_CmdRecv(scratch, link.nReplyLen) != 0) return 1;
        quiet = 0;
      }
      if (ReadLinkStateChecked() != 0) return 1;
      if (g_Link.g_LinkState & LINK_BULK_PENDING) {
        g_ErrorLog.Write("CPortlane::ClearUSB", LOG_ERROR, "%s", Lang(clearZh, clearEn));
        if (PortlaneApi.QZ_BufRecv(scratch, 512) != 0) return 1;
        quiet = 0;
      } else if (quiet >= 10) {
        break;
      }
    }
    if (!link.bSlaveCard) return 0;
    if (getState() != 0) return 1;
    return (g_Link.nLinkLevel >= 2 && g_Link.bLinked == 1 && g_Link.bSecondLink == 1) ? 0 : 1;
  }
  uint8_t status[4] = {};
  for (int round = 0; round < 20; ++round) {
    std::memset(status, 0, sizeof status);
    if (PortlaneApi.QZ_SendComCmd(0, 0xDF, 0, 0, status, 4) != 0) {
      ShowTopmostBox(Lang("usb控制通道通讯失败！", "USB control channel communication failed!"));
      return 1;
    }
    if (status[0] != '[') {
      ShowTopmostBox(StrFormat(Lang("板卡初始化未完成%x", "Board initialization incomplete %x"),
                        static_cast<int>(static_cast<int8_t>(status[0]))));
      return 1;
    }
    if ((status[1] & 0x51) == 0x51) return 0;
    uint8_t scratch[512];
    PortlaneApi.QZ_CmdRecv(scratch, 512);
    g_ErrorLog.Write("CPortlane::ClearUSB", LOG_ERROR, "%s", Lang(clearZh, clearEn));
  }
  ShowTopmostBox(StrFormat(Lang("打开失败，268通道异常%x", "Open failed, 268 channel exception %x"), status[1]));
  return 1;
}

uint32_t CPortlane::Open(uint32_t index) {
  if (!PortlaneApi.bLoaded || PortlaneApi.QZ_OpenDriver(index) != 0) return 1;
  if (g_SystemPara.CardLinkCfg.CardType != 0) {
    // The driver writes the "secondary card linked" byte. A 32-bit build passes its address as the
    // request's value; a 64-bit address does not fit there, so it goes in the buffer argument.
    uint8_t slave = 0;
    if (sizeof(void*) == 4)
      PortlaneApi.QZ_SendComCmd(0, 0xA2, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&slave)), 0, nullptr, 0);
    else
      PortlaneApi.QZ_SendComCmd(0, 0xA2, 0, 0, &slave, 1);
    InitParaLink(static_cast<int8_t>(slave));
  }
  ++g_Link.nLinkSerial;
  g_Link.g_nCmdSeq = 0;
  g_Link.g_nCmdOk = 0;
  g_Link.g_bCmdSeqOn = 1;
  g_Link.g_nLinkToggle = 0;
  g_Link.g_nCmdIssued = 0;
  g_Link.g_nCmdDone = 0;
  if (ClearUSB() != 0) return 1;
  CmdReply reply;
  return SendCtrlCmd(CMD_SET_FLAG, 0, FLAG_LINK_OPEN, reply) != 0 ? 1 : 0;
}

void CPortlane::CloseLocked() {
  g_Link.g_bConnected = 0;
  ++g_Link.nLinkSerial;
  if (PortlaneApi.bLoaded) PortlaneApi.QZ_CloseDriver();
  g_Link.g_hCardMutex.Close();
}

uint32_t CPortlane::Close() {
  plat::LockGuard cmd(g_csCardCmd);
  plat::LockGuard buf(g_csCardBuf);
  CloseLocked();
  return 0;
}
