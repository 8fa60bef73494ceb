#pragma once
// Card commands: the 16-byte command packet in which commands are collected into
// batches (card parameter pages, correction tables, fly parameters) instead of being sent at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardlink/card_wire.h"

// A queued command: six 0xA5 bytes, the command number, p1, p2 (little-endian).
struct CmdPacket {
  static constexpr size_t kSize = 16;
  std::array<uint8_t, kSize> bytes{};

  CmdPacket() = default;
  CmdPacket(uint16_t cmd, uint32_t p1, uint32_t p2);
  uint16_t Cmd() const;
  uint32_t P1() const;
  uint32_t P2() const;
};
static_assert(sizeof(CmdPacket) == CmdPacket::kSize, "a command packet is 16 bytes");

// A batch keeps its packets in the order they were added.
using CmdBatch = std::vector<CmdPacket>;

// Sends a command and drops its reply: true, or MyException code 1 when the card is lost.
bool SendCmdNoReply(uint16_t cmd, uint32_t p1, uint32_t p2);
// Without a batch the command is sent at once; with one it is appended and the card is not touched.
bool SendOrQueueCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdBatch* batch);
