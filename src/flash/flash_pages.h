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
// A page that cannot be read leaves zeros in the buffer and the read reports false; FlashReadPage
// turns that into code 24. Serial-flash reads check the page status too.
//
// Writing a NAND page: a page that begins a block erases the block first; the data goes to the
// card's page buffer, is programmed and read back. A page that fails marks its block bad, the table
// is saved, and the pages of the block written so far (the block image) move to the next good
// block. Every page written goes through the table, also when a write begins inside a block; when
// such a block fails, the pages before the write's first page are read from the failing block so
// that they move with it.
//
// The table (CBBT): loaded from the card at the first use after the link was opened and never
// carried over to another card. The card link counts every open and close of the link; the table
// keeps the count it was loaded at and loads again once the count moved on, so no close path has to
// call up into this subsystem and a card lost and opened again is covered too. It is written to
// "BBT.txt" in the library's folder whenever it is loaded or saved (one line "%d\r\n" per bad
// block, in increasing order). A table page without its marker, or with eight bad blocks in a row,
// is rewritten from the flags in memory (all good after a load); one that cannot be read is a flash
// failure (code 24 with its message) and is left alone, as is a page beyond the last block or a skip
// past it.
#include <array>
#include <cstdint>

#include "cardlink/card_wire.h"

constexpr uint32_t kNandPagesPerBlock = 64;
constexpr uint32_t kNandBlocks = 2048;
constexpr uint32_t kSpiPageStep = 0x800;
constexpr uint32_t kSpiSectorBytes = 0x10000;
constexpr uint32_t kBbtBitmapOffset = 1792;  // the bitmap: bytes 1792-2047 of the table page
constexpr uint8_t kBbtMarker = 0xA5;         // its last byte (page byte 2047)

using FlashPage = std::array<uint8_t, kFlashPageBytes>;

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

class CBBT {
 public:
  // Loads the table when this link has not loaded it yet, then moves `cursor` past bad blocks (the
  // page keeps its place in its block). Code 24 when no good block is left.
  void SkipBad(uint32_t& cursor);
  // Validates a table page and expands its bitmap into the flags: false (the flags unchanged) when
  // the marker is missing or a bitmap byte is 0xFF (eight bad blocks in a row, reported).
  bool BBT_bit2byte(const uint8_t* page);
  // Writes the flags to the card: the notice of area 0, the page at the table address, the commit
  // (a card that keeps area 0 out of effect: code 26). Then "BBT.txt".
  void Save();

  bool IsBad(uint32_t block) const { return block >= kNandBlocks || bad[block] != 0; }
  void MarkBad(uint32_t block) {
    if (block < kNandBlocks) bad[block] = 1;
  }
  // The table page the flags make.
  FlashPage BuildPage() const;
  bool Loaded() const;

  // The block image: the pages of the block being written, by their place in the block, and which of
  // them the current write put there.
  std::array<FlashPage, kNandPagesPerBlock> image{};
  uint64_t imageValid = 0;
  uint32_t imageBlock = 0xFFFFFFFFu;

 private:
  void Load();
  void WriteListFile() const;

  uint8_t needLoad = 1;
  uint32_t loadedAtLink = 0;  // the link's open-and-close count when the table was loaded
  std::array<uint8_t, kNandBlocks> bad{};
};

extern CBBT g_BBT;
// The page the NAND operations start from and leave behind them.
extern uint32_t g_nPageCursor;

// The bodies of the page exports: `length` bytes (0..2048) of page `page` on the card's map. A
// write stores the bytes followed by zeros. A length outside 0..2048 throws code 2 (shown) and
// touches nothing; a page that cannot be read fills `data` with zeros and throws code 24 (shown).
void FlashWritePage(uint32_t page, const uint8_t* data, int32_t length);
void FlashReadPage(uint32_t page, uint8_t* data, int32_t length);
