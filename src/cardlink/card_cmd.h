#pragma once
// Card commands: the numbers the library uses, the flag masks of the flag command, the operations
// of the operation command, and the 16-byte command packet in which commands are collected into
// batches (card parameter pages, correction tables, fly parameters) instead of being sent at once.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint16_t CMD_BOX_TABLE_SCALE = 2;
constexpr uint16_t CMD_GALVO_STATUS = 3;
constexpr uint16_t CMD_SCAN_MOVE = 4;
constexpr uint16_t CMD_SCAN_POS = 6;
constexpr uint16_t CMD_WAIT_DETAIL = 17;
constexpr uint16_t CMD_WAIT_STATE = 18;
constexpr uint16_t CMD_WAIT_REASON = 19;
constexpr uint16_t CMD_INPUT = 33;
constexpr uint16_t CMD_OUTPUT = 34;
constexpr uint16_t CMD_SET_DA = 35;
constexpr uint16_t CMD_GET_ADDA = 39;
constexpr uint16_t CMD_LINK_INFO = 41;
constexpr uint16_t CMD_LASER_BUS = 42;
constexpr uint16_t CMD_HW_VERSION = 81;
constexpr uint16_t CMD_SET_FLAG = 82;
constexpr uint16_t CMD_OPERATE = 83;
constexpr uint16_t CMD_HW_INFO2 = 84;
constexpr uint16_t CMD_STATUS = 85;
constexpr uint16_t CMD_DEBUG_RECORD = 87;
constexpr uint16_t CMD_RECEIVED_COUNT = 86;
constexpr uint16_t CMD_FIFO_POINTERS = 89;
constexpr uint16_t CMD_UNIQUE_ID = 90;
constexpr uint16_t CMD_FLASH_READBACK = 256;
// Extended numbers sent as plain numbers whatever the card's command form.
constexpr uint16_t CMD_OSS_VERSION = 334;
constexpr uint16_t CMD_LASER_BUS_WRITE = 336;
constexpr uint16_t CMD_LASER_BUS_READ = 337;

// Masks of CMD_SET_FLAG (p1 the value, p2 one mask bit).
constexpr uint32_t FLAG_PAUSE = 0x1;
constexpr uint32_t FLAG_RESUME = 0x2;
constexpr uint32_t FLAG_STOP = 0x4;
constexpr uint32_t FLAG_FLUSH = 0x8;
constexpr uint32_t FLAG_DEBUG_RECORD = 0x10;
constexpr uint32_t FLAG_OFFLINE = 0x20;
constexpr uint32_t FLAG_RUN_CONTROL_80 = 0x80;
constexpr uint32_t FLAG_RUN_CONTROL_100 = 0x100;
constexpr uint32_t FLAG_CLEAR_ALARM = 0x400;
constexpr uint32_t FLAG_LINK_OPEN = 0x4000;
constexpr uint32_t FLAG_TASK_ID = 0x8000;
constexpr uint32_t FLAG_PARA_VALID = 0x10000;
constexpr uint32_t FLAG_FINISH_FLASH_WRITE = 0x20000;
constexpr uint32_t FLAG_START_BUFFERED_RUN = 0x40000;
constexpr uint32_t FLAG_ABORT_CARD_INIT = 0x80000;
constexpr uint32_t FLAG_ERROR_OUTPUT = 0x200000;
constexpr uint32_t FLAG_FLY = 0x400000;

// Operations of CMD_OPERATE (p1), with their arguments (p2).
constexpr uint32_t OP_START_RUN = 1;
constexpr uint32_t OP_FLASH = 2;
constexpr uint32_t OP_COMMIT = 4;
constexpr uint32_t OP_ARG_OFFLINE_DOC = 0x100;
constexpr uint32_t OP_ARG_COMMIT_CARD_PARA = 0x20000004;
constexpr uint32_t OP_ARG_COMMIT_SECOND_PARA = 0x30000008;
constexpr uint32_t OP_ARG_COMMIT_ALL = 0xF00000FF;

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
