#pragma once
// The card's wire vocabulary: what the library and the card agree on byte for byte. The library and
// the simulated card both include this header; each side keeps its own checks, CRC and decoding.
//
//   - the bulk channel carries stream blocks of kStreamBlockBytes;
//   - the link status word (read with kIoctlLinkState) and its bits;
//   - link words, sent alone as 4 bytes on the command channel of a PCIe card;
//   - control requests of the driver link;
//   - command numbers, the masks of the flag command and the operations of the operation command.
#include <cstdint>

// One stream block on the bulk channel.
constexpr uint32_t kStreamBlockBytes = 2048;

// Link status word bits (bits 31-28 carry the toggle nibble 0xA / 0x5).
constexpr uint32_t LINK_BULK_PENDING = 0x1;
constexpr uint32_t LINK_REPLY_PENDING = 0x2;
constexpr uint32_t LINK_CMD_READY = 0x4;
constexpr uint32_t LINK_BULK_READY = 0x8;
constexpr uint32_t kIoctlLinkState = 0x222004;

// Link words.
constexpr uint32_t LINKW_QUALITY_PERIOD = 0x04000000;
constexpr uint32_t LINKW_LOST_FAIL = 0x05000000;
constexpr uint32_t LINKW_LOST_LINK = 0x06000000;
constexpr uint32_t LINKW_LATCH_FAIL_WHY = 0x07000000;
constexpr uint32_t LINKW_LATCH_COUNTER = 0x07000005;
// The three link settings sent after the lost-link word, and the handshake with the secondary
// card: LINKW_HANDSHAKE | step, the steps 1, 4, 5, 2 in this order, then 0.
constexpr uint32_t LINKW_SETTING_0 = 0x10000000;
constexpr uint32_t LINKW_SETTING_1 = 0x11000000;
constexpr uint32_t LINKW_SETTING_2 = 0x12000000;
constexpr uint32_t LINKW_HANDSHAKE = 0x01000000;

// The header word in front of a 16-byte command frame (PCIe card with a secondary card).
constexpr uint32_t kFrameHeaderWord = 0x0300000C;

// Control requests: USB start-up and channel state, USB firmware bytes, PCIe secondary-card byte.
constexpr uint32_t REQ_USB_STATUS = 0xDF;
constexpr uint32_t REQ_USB_FIRMWARE = 0xDC;
constexpr uint32_t REQ_SECONDARY = 0xA2;

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
// (0, 0): the count of the last count marker the card ran, in r0 bits 0-15.
constexpr uint16_t CMD_COUNT_MARKER = 100;
// Encoder and fly commands. CMD_ENCODER is CMD_COUNT_MARKER: (0, 0) answers the encoder counter in
// r1 beside the count, (0, 1) the encoder's pulse period in 48 MHz ticks in r1.
constexpr uint16_t CMD_FLY_SCAN_LIMITS = 9;   // upper limits (Y << 16 | X), lower limits: 16-bit codes
constexpr uint16_t CMD_FLY_SETTING = 10;      // p1 selects the setting (FLY_SETTING_...), p2 its value
constexpr uint16_t CMD_FLY_SCALE = 97;        // galvanometer shift per pulse, X and Y, x 2^24
constexpr uint16_t CMD_ENC_SOURCE = 98;       // external encoder; internal encoder and its period
constexpr uint16_t CMD_ENC_RANGE = 99;        // external encoder counts down; counter range
constexpr uint16_t CMD_ENCODER = 100;
constexpr uint16_t CMD_ENC_SET_POS = 101;     // (0, value): the counter takes the value
constexpr uint16_t CMD_ENC_POS_BUF = 102;     // (0, 0): the next entry of the position buffer
constexpr uint16_t CMD_ENC_POS_BUF_SWITCH = 103;  // (1, 0) on, (1, 1) off
constexpr uint16_t CMD_OFFSET_COMP = 105;     // offset compensation, x 8192
constexpr uint16_t CMD_FLY_ROTATE_CENT = 106; // rotary fly: centre Y code, centre X code
constexpr uint32_t FLY_SETTING_LIMIT_ERROR = 1;
constexpr uint32_t FLY_SETTING_MARK_RANGE = 2;
// Status bits of a position-buffer entry (command 102 r0; r1 is the position): bit 0 clear, the
// counter crossed a quarter or half of its range at r1; set, r1 is the counter now. Bit 1: counting
// down. ENCBUF_OVERFLOW: crossings were lost with the buffer full. ENCBUF_NOTHING: the buffer is
// switched off, nothing to report.
constexpr uint32_t ENCBUF_POSITION = 0x1;
constexpr uint32_t ENCBUF_DOWN = 0x2;
constexpr uint32_t ENCBUF_OVERFLOW = 0x100;
constexpr uint32_t ENCBUF_NOTHING = 0x200;
constexpr uint16_t CMD_FLASH_READBACK = 256;
// Extended numbers sent as plain numbers whatever the card's command form.
constexpr uint16_t CMD_OSS_VERSION = 334;
constexpr uint16_t CMD_LASER_BUS_WRITE = 336;
constexpr uint16_t CMD_LASER_BUS_READ = 337;

// Axis commands (extended numbers: sent as g_CmdNumTable.Of(n)). p1 carries the axis index in its
// top four bits where the command names one axis; values are the 24-bit codes of axis/axis_codes.h.
constexpr uint16_t CMD_AXIS_VELOCITY = 0x120;         // start code, velocity code
constexpr uint16_t CMD_AXIS_ACCEL = 0x121;            // acceleration code twice
constexpr uint16_t CMD_AXIS_HOME_HIGH_VEL = 0x122;    // velocity codes of v / 10 and of v
constexpr uint16_t CMD_AXIS_HOME_LOW_ACC = 0x123;     // acceleration code twice
constexpr uint16_t CMD_AXIS_HOME_LOW_VEL_DIST = 0x124;  // velocity code, position code of the distance
constexpr uint16_t CMD_AXIS_MOVE = 0x125;             // move, jog, home, read position
constexpr uint16_t CMD_AXIS_STATUS = 0x126;
constexpr uint16_t CMD_AXIS_GEAR = 0x127;             // gear words (12 bits each), or the manual value
constexpr uint16_t CMD_AXIS_HOME_MODE = 0x12B;        // four 4-bit home modes, the home order list
constexpr uint16_t CMD_AXIS_STOP_ACC = 0x12C;
constexpr uint16_t CMD_AXIS_STOP = 0x12D;
constexpr uint16_t CMD_AXIS_LIMITS = 0x12E;           // limit enables and senses, the distance code
constexpr uint16_t CMD_AXIS_SOFT_HOME = 0x12F;        // position code
constexpr uint16_t CMD_AXIS_EXTRA_VEL = 0x130;        // velocity codes of v / 10 and of v
constexpr uint16_t CMD_AXIS_EXTRA_ACC = 0x131;        // acceleration code twice
constexpr uint16_t CMD_AXIS_MANUAL_MODE = 0x132;
constexpr uint16_t CMD_AXIS_FLAGS = 0x133;
constexpr uint16_t CMD_AXIS_COMMIT = 0x134;           // (1, 0): the axis settings take effect
constexpr uint16_t CMD_AXIS_SET_POS = 0x135;          // position code

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
constexpr uint32_t OP_ARG_COMMIT_OFF_HEAD = 1;
constexpr uint32_t OP_ARG_COMMIT_BOX_TABLES = 0x10000002;
constexpr uint32_t OP_ARG_COMMIT_OFF_SLOT16 = 0x60000040;

// The card's flash, one 2048-byte page at a time. A flash control word is the argument of
// CMD_OPERATE with OP_FLASH; NAND words carry a page number in bits 0-23, serial-flash words a byte
// address in bits 4-27 and their operation in bits 0-3. The card answers the bulk-read words on the
// bulk channel: the request goes out as a command frame (CMD_OPERATE, OP_FLASH, word) whose reply
// never comes, then the page comes back in units of kBulkUnitBytes.
constexpr uint32_t kFlashPageBytes = 2048;
constexpr uint32_t kBulkUnitBytes = 512;
constexpr uint32_t FLASHW_NAND_ERASE = 0x10000000;    // | page: erase the block that holds the page
constexpr uint32_t FLASHW_NAND_DATA = 0x20000000;     // the next 2048 bulk bytes fill the page buffer
constexpr uint32_t FLASHW_SPI_DATA = 0x20000001;
constexpr uint32_t FLASHW_NAND_PROGRAM = 0x30000000;  // | page: program the page from the buffer
constexpr uint32_t FLASHW_NAND_SELECT = 0x40000000;   // | page: read the page into the read buffer
constexpr uint32_t FLASHW_NAND_BULK_READ = 0x50000000;
constexpr uint32_t FLASHW_SPI_BULK_READ = 0x50000001;
constexpr uint32_t FLASHW_NAND_ID = 0x60000000;       // the NAND's id page into the read buffer
constexpr uint32_t FLASHW_SPI = 0xE0000000;           // | (address << 4) | operation:
constexpr uint32_t FLASHW_SPI_PROGRAM = 0;
constexpr uint32_t FLASHW_SPI_SELECT = 1;
constexpr uint32_t FLASHW_SPI_ERASE = 2;              // the 64 KB sector that holds the address
constexpr uint32_t FlashNandWord(uint32_t op, uint32_t page) { return op | (page & 0xFFFFFFu); }
constexpr uint32_t FlashSpiWord(uint32_t address, uint32_t op) {
  return FLASHW_SPI | ((address & 0xFFFFFFu) << 4) | (op & 0xFu);
}
// The page status: status r1 bits 0-7, set by the last flash operation.
constexpr uint32_t PAGE_STATUS_READ_FAIL = 0xAA;   // any of these bits: the page could not be read
constexpr uint32_t PAGE_STATUS_WRITE_FAIL = 0x01;  // erase or program failed

// Flash areas the card loads its settings from. A notice (CMD_SET_FLAG, value 1 << area,
// FLAG_PARA_VALID) tells the card that an area is being rewritten; status r0 bit kAreaFlagShift +
// area stays set while the area is not in effect (after a notice, or a commit that failed).
constexpr uint32_t AREA_BAD_BLOCK_TABLE = 0;
constexpr uint32_t AREA_OFF_HEAD = 1;
constexpr uint32_t AREA_BOX_TABLE_A = 2;
constexpr uint32_t AREA_BOX_TABLE_B = 3;
constexpr uint32_t AREA_CARD_PARA = 4;
constexpr uint32_t AREA_SECOND_BLOCK = 5;
constexpr uint32_t AREA_OFF_DEFAULT_HEAD = 6;
constexpr uint32_t kAreaCount = 7;
constexpr uint32_t kAreaFlagShift = 14;
