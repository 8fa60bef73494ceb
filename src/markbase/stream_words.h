#pragma once
// The words of the card's data stream.
//
// A stream word is 32 bits: bits 31 to 24 the opcode, bits 23 to 0 the operand (for opcode 0x51
// bits 23 to 16 are a sub-code). A word carries no time: the delta encoder puts an explicit time
// advance (0x57) in front of a word that is later than its predecessor. Every opcode and fixed word
// the library writes is named here; a generator ORs its operand into the base word named for it.
// Words whose meaning on the card lies outside the library (the program frames, the trigger arming,
// the follower words of waits) are named after the place their writer puts them.
#include <cstdint>
#include <type_traits>

// ---- layout of a word
constexpr uint32_t SW_OPCODE_SHIFT = 24;
constexpr uint32_t SW_OPERAND_MASK = 0x00FFFFFF;
constexpr uint32_t SW_SUBCODE_MASK = 0x00FF0000;  // opcode 0x51: bits 23 to 16
constexpr uint32_t SwOpcode(uint32_t word) { return word >> SW_OPCODE_SHIFT; }
constexpr uint32_t SwOperand(uint32_t word) { return word & SW_OPERAND_MASK; }
constexpr uint32_t SwMake(uint32_t opcode, uint32_t operand) {
  return opcode << SW_OPCODE_SHIFT | (operand & SW_OPERAND_MASK);
}

// ---- 0x01: galvanometer, Z, rotation and laser-module positions
// Vector steps (16-bit codes; unlit forms while the job does not fire the laser).
constexpr uint32_t SW_GALVO_X = 0x01000000;
constexpr uint32_t SW_GALVO_Y = 0x01010000;
constexpr uint32_t SW_GALVO_X_UNLIT = 0x01040000;
constexpr uint32_t SW_GALVO_Y_UNLIT = 0x01050000;
// Vector steps with 21-bit codes, lit or unlit (X uses SW_GALVO_X).
constexpr uint32_t SW_GALVO21_X = 0x01000000;
constexpr uint32_t SW_GALVO21_Y = 0x01400000;
// Direct jumps (CScan::JumpTo); no other writer uses these sub-codes.
constexpr uint32_t SW_JUMP_X = 0x01080000;
constexpr uint32_t SW_JUMP_Y = 0x01090000;
constexpr uint32_t SW_JUMP_X_UNLIT = 0x010C0000;
constexpr uint32_t SW_JUMP_Y_UNLIT = 0x010D0000;
constexpr uint32_t SW_JUMP21_X = 0x01200000;
constexpr uint32_t SW_JUMP21_Y = 0x01600000;
// Z position of a layer.
constexpr uint32_t SW_Z_POS = 0x01020000;
constexpr uint32_t SW_Z_POS_UNLIT = 0x01060000;
constexpr uint32_t SW_Z21_POS = 0x01800000;
// Rotation ramp positions: (axis | 0x100) << 16 | code16, or (axis | 4) << 22 | code21.
constexpr uint32_t SW_ROT_POS_AXIS_FLAG = 0x100;
constexpr uint32_t SW_ROT_POS21_AXIS_FLAG = 4;
// Optical-switch laser-module program: position << 5 in SW_OSS_POS, closed by SW_OSS_POS_END.
constexpr uint32_t SW_OSS_POS = 0x01200000;
constexpr uint32_t SW_OSS_POS_END = 0x01700000;

// ---- 0x03 to 0x06
constexpr uint32_t SW_SCAN_FB_WAIT_SETUP = 0x0300000F;  // scanner feedback wait set-up
constexpr uint32_t SW_CORRECTION_MODE = 0x04000000;     // | g << 1 | unlit at the job start
constexpr uint32_t SW_CORRECTION_END = 0x04000001;      // | g << 1 at the job end
constexpr uint32_t SW_CORRECTION_OFF = 0x04000002;      // | unlit: correction switched off
constexpr uint32_t SW_ROT_SEGMENT_1 = 0x05000001;       // rotation segment markers (read only)
constexpr uint32_t SW_ROT_SEGMENT_2 = 0x05000002;
constexpr uint32_t SW_ROT_SEGMENT_3 = 0x05000003;
constexpr uint32_t SW_FLY_RANGE_START = 0x06000001;     // start of the fly-mark range

// ---- 0x11 to 0x1C: laser pulse timing (operand: 48 MHz ticks, a value below 4 written as 0)
constexpr uint32_t SW_PULSE_HIGH_L0 = 0x11000000;
constexpr uint32_t SW_PULSE_LOW_L0 = 0x12000000;
constexpr uint32_t SW_IDLE_PULSE_HIGH_L0 = 0x13000000;
constexpr uint32_t SW_IDLE_PULSE_LOW_L0 = 0x14000000;
constexpr uint32_t SW_LASER_JOB_START = 0x15000001;
constexpr uint32_t SW_PULSE_STOP_L0 = 0x16000000;
constexpr uint32_t SW_PULSE_START_L0 = 0x16000001;
constexpr uint32_t SW_PULSE_HIGH_L1 = 0x18000000;
constexpr uint32_t SW_PULSE_LOW_L1 = 0x19000000;
constexpr uint32_t SW_IDLE_PULSE_HIGH_L1 = 0x1A000000;
constexpr uint32_t SW_IDLE_PULSE_LOW_L1 = 0x1B000000;
constexpr uint32_t SW_PULSE_STOP_L1 = 0x1C000000;
constexpr uint32_t SW_PULSE_START_L1 = 0x1C000001;
constexpr uint32_t SW_PULSE_MIN_TICKS = 4;

// ---- 0x20 to 0x2C: outputs, wave numbers, power
// IO output word: ((SW_IO_BANK_BASE + bank * SW_IO_BANK_STEP) | mask) << 12 | values.
constexpr uint32_t SW_IO_BANK_BASE = 0x20000;
constexpr uint32_t SW_IO_BANK_STEP = 0x1000;
constexpr uint32_t SW_IO_SHIFT = 12;
// Logs an output number outside the banks (io_words.cpp); a run of the same number is logged once.
void LogOutputOutOfRange(int32_t n);
// The IO word that sets (v 1) or clears (v 0) output n alone. Banks: outputs 0-11, 12-21, 22-31 and
// 32-43; mask bit of output n is its bit within the bank plus 12, its value bit the bit itself. Only
// the lowest bit of v counts. An output outside 0..43 (a negative or too large number from the
// configuration or a host) gives the NOP word at that place, and a log line.
constexpr uint32_t MakeIoWord(int32_t n, uint32_t v) {
  const uint32_t out = static_cast<uint32_t>(n);
  if (out >= 44) {
    if (!std::is_constant_evaluated()) LogOutputOutOfRange(n);
    return 0x50000000;  // SW_NOP
  }
  const uint32_t bank = out < 12 ? 0 : out < 22 ? 1 : out < 32 ? 2 : 3;
  constexpr uint32_t kFirst[4] = {0, 12, 22, 32};
  const uint32_t k = out - kFirst[bank];
  return ((SW_IO_BANK_BASE + bank * SW_IO_BANK_STEP) | 1u << k) << SW_IO_SHIFT | (v & 1u) << k;
}
static_assert(MakeIoWord(11, 1) == 0x20800800 && MakeIoWord(12, 1) == 0x21001001 &&
                  MakeIoWord(31, 0) == 0x22200000 && MakeIoWord(1, 1) == 0x20002002,
              "IO word layout");
constexpr uint32_t SW_Q_KILL_SET = 0x22010010;    // output 26 set: first Q-kill pulse
constexpr uint32_t SW_Q_KILL_CLEAR = 0x22010000;  // output 26 cleared
constexpr uint32_t SW_STROBE31_SET = 0x22200200;  // output 31 set: strobe, frame clock
constexpr uint32_t SW_STROBE31_CLEAR = 0x22200000;
constexpr uint32_t SW_WAVE_NUMBER = 0x28000000;   // | wave number (8 bits)
constexpr uint32_t SW_POWER_DA = 0x29000000;      // | channel << 16 | DA value; | byte << 4 in a frame
constexpr uint32_t SW_WAVE_FRAME_OUT_2 = 0x2B000002;  // output-style words of the clocked frame
constexpr uint32_t SW_WAVE_FRAME_OUT_C = 0x2B00000C;
constexpr uint32_t SW_WAVE_FRAME_OUT_4 = 0x2B000004;
constexpr uint32_t SW_WAVE_FRAME_OUT_1 = 0x2B000001;
constexpr uint32_t SW_FINE_DELAY = 0x2C000000;    // fine laser delay off
constexpr uint32_t SW_FINE_DELAY_ON = 0x2C000001; // | (fraction & 0x3F) * 2

// ---- 0x31 to 0x34: camera
constexpr uint32_t SW_CAMERA_X = 0x31000000;
constexpr uint32_t SW_CAMERA_Y = 0x32000000;
constexpr uint32_t SW_CAMERA_START = 0x33000000;
constexpr uint32_t SW_CAMERA_PARA = 0x34000000;

// ---- 0x40 to 0x4B: motor parameters, (0x40 + 4 * axis + kind) << 24 | code
constexpr uint32_t SW_MOTOR_PARA = 0x40000000;
constexpr uint32_t SW_MOTOR_KIND_TARGET = 0;
constexpr uint32_t SW_MOTOR_KIND_START_SPEED = 1;
constexpr uint32_t SW_MOTOR_KIND_VELOCITY = 2;
constexpr uint32_t SW_MOTOR_KIND_ACCEL = 3;

// ---- 0x50 to 0x5A: flow of the stream
constexpr uint32_t SW_NOP = 0x50000000;            // no operation: time filler, padding, spacer
static_assert(MakeIoWord(44, 1) == SW_NOP && MakeIoWord(-1, 1) == SW_NOP, "an output outside the banks");
constexpr uint32_t SW_REG_LANE = 0x52000000;       // | lane 0 to 3 or 5
constexpr uint32_t SW_REG_DATA16 = 0x53000000;     // | a << 8 | b
constexpr uint32_t SW_LOOP_START = 0x54100000;     // | count (16 bits)
constexpr uint32_t SW_LOOP_END_FIRST = 0x54200000;
constexpr uint32_t SW_LOOP_END_LAST = 0x54300000;
constexpr uint32_t SW_REG_BYTES = 0x55000000;      // | a << 8 | b
constexpr uint32_t SW_WAIT_TIMEOUT = 0x56000000;   // | µs (24 bits)
constexpr uint32_t SW_WAIT_TIMEOUT_1S = 0x560F4240;
constexpr uint32_t SW_TIME_ADVANCE = 0x57000000;   // | µs (24 bits)
constexpr uint32_t SW_PAD_SPACER = 0x57000001;     // the spacer of a padded block
constexpr uint32_t SW_WAIT_SETUP = 0x58000100;     // | source (4 bits) [| 0x10 [| 0x1000]]
constexpr uint32_t SW_WAIT_SETUP_TIMEOUT = 0x10;   // a wait with a time-out (kind 0)
constexpr uint32_t SW_WAIT_SETUP_ZERO_TIMEOUT = 0x1000;
constexpr uint32_t SW_WAIT_SETUP_PORT = 0x58000000;  // | port (EmitWriteRegIo)
constexpr uint32_t SW_REG_RESET = 0x58000001;
constexpr uint32_t SW_PROG_FRAME_OPEN = 0x59100000;  // wobble and laser-module program frame
constexpr uint32_t SW_PROG_FRAME_1E = 0x5920001E;
constexpr uint32_t SW_OSS_PROG_LABEL = 0x59400000;   // | label number
constexpr uint32_t SW_OSS_PROG_59500000 = 0x59500000;
constexpr uint32_t SW_CRC = 0x5A000000;              // | CRC-16 of a sub-block (layout 2)

// ---- 0x51: control words, labels and markers (sub-code in bits 23 to 16)
constexpr uint32_t SW_STREAM_HEADER = 0x5110A55A;    // first word (layout 0); | seq << 16 (layout 1)
constexpr uint32_t SW_END = 0x51100001;              // end of the data or of a program
constexpr uint32_t SW_KIND_MARKER = 0x51200000;      // | MarkCmdKind
constexpr uint32_t SW_WAVE_FRAME_BEGIN = 0x51500000;
constexpr uint32_t SW_WAVE_FRAME_END = 0x51500001;
constexpr uint32_t SW_FINISH_FLAG = 0x51500002;
constexpr uint32_t SW_OSS_POS_END_FOLLOW = 0x51600001;  // follows SW_OSS_POS_END
constexpr uint32_t SW_MOTOR_PARA_FOLLOW = 0x51600010;   // follows each motor parameter word
constexpr uint32_t SW_WAIT_MARK = 0x51600020;           // | (source * 2 | c) << 15
constexpr uint32_t SW_WAIT_MARK_SHIFT = 15;
constexpr uint32_t SW_JUMP_WAIT = 0x51608001;        // follows the 1 s time-out after a direct jump
constexpr uint32_t SW_CAMERA_WAIT = 0x51608008;
constexpr uint32_t SW_UART_WAIT = 0x51608080;        // after a plain serial-port byte
constexpr uint32_t SW_MOTOR_START_FOLLOW = 0x51620100;
constexpr uint32_t SW_FLY_FOLLOW = 0x51638040;       // follows a fly switch and a compensation update
constexpr uint32_t SW_FLY_RANGE_FOLLOW = 0x51640001; // follows SW_FLY_RANGE_START (and 0x0300000F)
constexpr uint32_t SW_SCAN_FB_WAIT = 0x51648001;     // scanner feedback wait before a dot
constexpr uint32_t SW_REG_WRITE_CLOSE = 0x51700000;
constexpr uint32_t SW_LABEL = 0x51800000;            // | n
constexpr uint32_t SW_WOB_LOOP_LABEL = 0x51800040;   // + 2 * slot
constexpr uint32_t SW_JUMP_TO_LABEL = 0x51A00000;    // | n
constexpr uint32_t SW_TASK_LOOP_END = 0x51A10000;    // | task
constexpr uint32_t SW_PROG_FRAME = 0x51A20000;
constexpr uint32_t SW_TRIGGER_WAIT = 0x51B00000;
constexpr uint32_t SW_REG_IO_COND = 0x51B00001;      // | flag << 1
constexpr uint32_t SW_TRIGGER_ARM_1 = 0x51C1FFFE;
constexpr uint32_t SW_TRIGGER_ARM_2 = 0x51C1FFFF;

// ---- 0x61 to 0x85: encoder, fly, count markers, serial port, optical switch, motors
constexpr uint32_t SW_ENC_RESET = 0x61000000;
constexpr uint32_t SW_FLY_ON_ENC = 0x61000001;
constexpr uint32_t SW_COUNT_MARKER = 0x62000000;     // | count (16 bits)
constexpr uint32_t SW_FLY_SWITCH = 0x64000000;       // | on
constexpr uint32_t SW_ENC_BUF_SWITCH = 0x65000000;   // | (1 when the flag is 0)
constexpr uint32_t SW_COMP_UPDATE = 0x66000001;
constexpr uint32_t SW_AREA_SAFE_FLY_BASE = 0x3380;   // ((direction | base) * 2 | axis) << 16 | code16
constexpr uint32_t SW_UART_BYTE = 0x71000000;        // | byte; also the bare job-end word
constexpr uint32_t SW_UART_BYTE_STROBED = 0x71000100;
constexpr uint32_t SW_OSS_WAIT_7 = 0x75000007;
constexpr uint32_t SW_OSS_WAIT_F = 0x7500000F;
constexpr uint32_t SW_MOTOR_START = 0x84000000;      // | 1 << axis for each loaded axis
constexpr uint32_t SW_MOTOR_ARRIVE_WAIT = 0x85000001;

static_assert(SwOpcode(SW_TIME_ADVANCE) == 0x57 && SwOpcode(SW_STREAM_HEADER) == 0x51, "opcode field");
