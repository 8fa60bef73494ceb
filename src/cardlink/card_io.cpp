#include "cardlink/card_io.h"

#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"

uint32_t ReadOutputs() {
  CmdReply reply;
  CPortlane::SendCmd(CMD_OUTPUT, 0, 0, reply);
  return reply.r1();
}

uint32_t WriteOutputs(uint32_t mask, uint32_t values) {
  CmdReply reply;
  CPortlane::SendCmd(CMD_OUTPUT, mask, values, reply);
  return reply.r1();
}

void DecodeDebugRecord(uint32_t r0, uint32_t r1, DebugRecordWord& record) {
  record.kind = 0;
  record.value = r1;
  if ((r0 & 0xFF000000u) == 0xA5000000u) {
    // Short form: time in units of 6 ticks, kind in bits 23-20.
    record.dt = (r0 & 0xFFFFFu) * 6u;
    switch (r0 & 0xF00000u) {
      case 0xB00000u: record.kind = 1; break;
      case 0xC00000u: record.kind = 2; break;
      case 0xA00000u: record.kind = 3; break;
      default: break;
    }
  } else if ((r0 >> 28) == 0xAu) {
    record.dt = r0 & 0xFFFFFFu;
    switch (r0 & 0x0F000000u) {
      case 0x0B000000u: record.kind = 1; break;
      case 0x0C000000u: record.kind = 2; break;
      case 0x0A000000u: record.kind = 3; break;
      case 0x09000000u: record.kind = 4; break;
      default: break;
    }
  }
}

void ReadDebugRecord(DebugRecordWord& record) {
  record.kind = 0;
  CmdReply reply;
  CPortlane::SendCmd(CMD_DEBUG_RECORD, 0, 0, reply);
  DecodeDebugRecord(reply.r0(), reply.r1(), record);
}

void SwitchDebugRecords(uint32_t on) {
  CmdReply reply;
  CPortlane::SendCmd(CMD_SET_FLAG, on, FLAG_DEBUG_RECORD, reply);
}
