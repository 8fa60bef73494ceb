#pragma once
// The offline-file head: the table of 16 entries, kept in a flash page of its own, that names the
// offline files in the card's flash for the card. Its timing value is set by the card parameter
// upload (2000 with an optical-switch card, else [HARDWARE] nWobDocNoStableTmUs).
//
// The table is 535 bytes, little-endian, packed: u16 version (2), u8 the low byte of [HARDWARE]
// PID, u32 timing value (5000 by default), then 16 entries of 33 bytes: u8 state (0xFF empty),
// char[20] name, u32 mark (0x80008000), u32 (0), u16 id ((((15 - i) & 0x7F) | 0x0F00) x 2), u16
// (1). The head page holds it at bytes 1488-2022, zeros around it and 0xA5 in byte 2047.
#include <array>
#include <cstddef>
#include <cstdint>

#include "flash/flash_pages.h"

constexpr size_t kOffFileEntries = 16;
constexpr size_t kOffFileEntryBytes = 33;
constexpr size_t kOffFileHeadBytes = 7 + kOffFileEntries * kOffFileEntryBytes;
static_assert(kOffFileHeadBytes == 535, "the offline-file head is 535 bytes");
constexpr size_t kOffHeadPageOffset = 1488;
constexpr uint16_t kOffFileHeadVersion = 2;
constexpr uint32_t kOffHeadDefaultTiming = 5000;
constexpr uint32_t kOffEntryMark = 0x80008000u;
constexpr uint8_t kOffEntryEmpty = 0xFF;

struct OffFileEntry {
  uint8_t state = kOffEntryEmpty;
  std::array<uint8_t, 20> name{};
  uint32_t mark = kOffEntryMark;
  uint32_t reserved = 0;
  uint16_t id = 0;
  uint16_t tail = 1;
};

struct OffFileHead {
  uint16_t version = kOffFileHeadVersion;
  uint8_t pid = 0;
  uint32_t timing = kOffHeadDefaultTiming;
  std::array<OffFileEntry, kOffFileEntries> entries{};

  // Version 2, the PID byte, timing 5000 and the 16 default entries.
  static OffFileHead Default(uint8_t pidByte);
  // The 535 bytes of a table, and back.
  void Store(uint8_t* out) const;
  static OffFileHead Load(const uint8_t* in);
};

// The default id of entry i: 0x1E1E for entry 0 down to 0x1E00 for entry 15.
constexpr uint16_t OffEntryDefaultId(size_t i) {
  return static_cast<uint16_t>((((15 - i) & 0x7F) | 0x0F00) * 2);
}

// The head page of a table.
FlashPage OffHeadPage(const OffFileHead& head);
// The table a head page holds; false when the page is not a head page (no 0xA5 in byte 2047), as a
// blank page is. A marked page is the card's head whatever its version: a host may have stored a
// head of its own version (QZ_SetOffFileHead), and its entries are kept.
bool OffHeadFromPage(const uint8_t* page, OffFileHead& head);

// The 535 bytes of the table as the card holds them (QZ_GetOffFileHead); a page that cannot be read
// gives zeros and code 24 (ReadPageRange).
void ReadOffFileHead(uint8_t* table);

// Writes the head page: the notice of the offline head area, every entry's mark set to 0x80008000
// and its state to 0xFF (kept on a USB card with [Main] nCheckFlashType nonzero) in the caller's
// table, the page written (NAND through the bad-block table, serial flash at the head address), the
// commit of the head area (a card that keeps it out of effect: code 26, shown).
void UpdateOffFileHead(OffFileHead& head);

// The parameter upload's step: reads the head page and rewrites it with UpdateOffFileHead when its
// timing value is not `timing`, everything else of the table as the card holds it. A page that
// cannot be read or carries no marker is replaced by the default table with that timing value.
void ConformOffHeadTiming(uint32_t timing);
