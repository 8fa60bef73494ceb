#pragma once
// The bad-block table of the card's NAND flash (pages of 2048 bytes, 64 to a block, 2048 blocks).
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
constexpr uint32_t kBbtBitmapOffset = 1792;  // the bitmap: bytes 1792-2047 of the table page
constexpr uint8_t kBbtMarker = 0xA5;         // its last byte (page byte 2047)

using FlashPage = std::array<uint8_t, kFlashPageBytes>;

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
