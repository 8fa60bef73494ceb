#include "cardlink/card_cmd.h"

#include "cardlink/portlane.h"
#include "frame/bytes.h"

CmdPacket::CmdPacket(uint16_t cmd, uint32_t p1, uint32_t p2) {
  for (int i = 0; i < 6; ++i) bytes[i] = 0xA5;
  PutU16(&bytes[6], cmd);
  PutU32(&bytes[8], p1);
  PutU32(&bytes[12], p2);
}

uint16_t CmdPacket::Cmd() const { return GetU16(&bytes[6]); }
uint32_t CmdPacket::P1() const { return GetU32(&bytes[8]); }
uint32_t CmdPacket::P2() const { return GetU32(&bytes[12]); }

bool SendCmdNoReply(uint16_t cmd, uint32_t p1, uint32_t p2) {
  CmdReply reply;
  return CPortlane::SendCmd(cmd, p1, p2, reply);
}

bool SendOrQueueCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdBatch* batch) {
  if (!batch) return SendCmdNoReply(cmd, p1, p2);
  batch->emplace_back(cmd, p1, p2);
  return true;
}
