#pragma once
// The card's flash, one 2048-byte page at a time, and the bad-block table of its NAND.
//
// A card has one of two flash maps (bJustM25p64, frame/card_version.h):
// - the serial-flash map: a page number is a byte address, pages are 0x800 apart, a page that
//   begins a 64 KB sector erases the sector before it is written; no bad blocks;
// - the NAND map: pages of 2048 bytes, 64 to a block, 2048 blocks. Bad blocks are skipped: page p is
//   stored at p, or at the same place in the next good block (p + 64 k). The table of bad blocks is
//   kept on the serial flash at the bad-block table address on both maps.
//
// Every exchange goes through the card link (cardlink/card_operation.h, CPortlane::ReadBlocks,
// CPortlane::BufSend); a lost card, and a flash operation the card never finishes, throw code 1
// without a message. All of it runs on the host's thread inside a library-wide task; the page
// cursor, the table and the block image are not locked.
//
// Reading: a page whose select reports a read failure (page status & 0xAA) is tried three times.
// A page that cannot be read leaves zeros in the buffer and the read reports false; the reads for a
// host (ReadPageRange) turn that into code 24 with a text of its own. Serial-flash reads check the
// page status too.
//
// Writing a NAND page: a page that begins a block erases the block first; the data goes to the
// card's page buffer, is programmed and read back. A page that fails marks its block bad, the table
// is saved, and the pages of the block written so far (the block image) move to the next good
// block. Every page written goes through the table, also when a write begins inside a block; when
// such a block fails, the pages before the write's first page are read from the failing block so
// that they move with it.
//
// The bad-block table itself: flash/bad_block_table.h.
#include <cstddef>
#include <cstdint>

#include "flash/bad_block_table.h"

constexpr uint32_t kSpiPageStep = 0x800;
constexpr uint32_t kSpiSectorBytes = 0x10000;

// True when all 2048 bytes are equal.
bool ComparePage2048(const uint8_t* a, const uint8_t* b);
// The serial-flash map is in use.
bool FlashIsSpiMap();

class CBrokenBlock {
 public:
  // One select of NAND page `page` (no bad-block skip): false when the card reports a read failure,
  // else the page is read into `buffer`. A nonzero page status is logged ("Read %d").
  static bool ReadPageOnce(uint32_t page, uint8_t* buffer);
  // The same for the serial-flash page at address `a`.
  static bool ReadSpiPageOnce(uint32_t a, uint8_t* buffer);
  // Serial flash: up to three tries at the address. NAND: the page through the table (the cursor is
  // set to `page`, moved past bad blocks and advanced by one), up to three tries. False: the page
  // cannot be read; the buffer then holds zeros.
  static bool ReadPage(uint32_t page, uint8_t* buffer);
  // Up to three reads of NAND page `page` (no skip) that are compared with `expected`: true at the
  // first that matches.
  static bool ReadPageVerify(uint32_t page, uint8_t* buffer, const uint8_t* expected);
  // One NAND page: erase when it begins a block, data, program, read back and compare. False when the
  // card reports an erase or program failure or the page does not read back.
  static bool WritePage(uint32_t page, const uint8_t* data);
  // Writes slots 0..count-1 of the block image to pages first, first + 1, ...: false at the first
  // page that fails.
  static bool WritePage(uint32_t first, uint32_t count);
  // Writes `data` at the cursor through the table, relocating a block that fails; the cursor then
  // points behind the page written.
  static void WritePageBBT(const uint8_t* data);
  // One serial-flash page at address `a` (a sector start erases the sector first), read back and
  // compared: true, or code 24 with its message.
  static bool WriteSpiPage(uint32_t a, const uint8_t* data);
  // Compares `count` pages from `first` with `data` and rewrites them all when one differs (NAND:
  // through the table; serial flash: UpdatePagesSpi). 1 rewritten, 0 all equal.
  static uint32_t UpdatePages(const uint8_t* data, uint32_t count, uint32_t first);
  // The serial-flash form: the first difference (or unreadable page) notices the area that begins
  // at `first` (box table A 2, B 3, card parameters 4, second block 5) and rewrites every page.
  static uint32_t UpdatePagesSpi(const uint8_t* data, uint32_t count, uint32_t first);
};

// The page the NAND operations start from and leave behind them.
extern uint32_t g_nPageCursor;

// Bytes offset .. offset + length - 1 of `page` into `out`. A page that cannot be read gives zeros
// and code 24 with the text of a read failure (language key STRING_ReadFlash_Fail, else a built-in
// text): logged under `tag` and shown here, then thrown without a second report.
void ReadPageRange(const char* tag, uint32_t page, size_t offset, uint8_t* out, size_t length);

// The bodies of the page exports: `length` bytes (0..2048) of page `page` on the card's map. A
// write stores the bytes followed by zeros. A length outside 0..2048 throws code 2 (shown) and
// touches nothing; a page that cannot be read fills `data` with zeros and throws code 24
// (ReadPageRange).
void FlashWritePage(uint32_t page, const uint8_t* data, int32_t length);
void FlashReadPage(uint32_t page, uint8_t* data, int32_t length);
