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
