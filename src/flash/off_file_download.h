#pragma once
// Offline files: the jobs the card runs by itself, copied page by page into its offline slots, and
// the reset of the card's flash that blanks the slots and writes the default head and head file.
//
// Slots 0-16 lie in the NAND on both flash maps: slot n begins at page n << 12 (8 MB a slot); a
// file may run on past its slot as long as n x 8192 + its size in KB stays within 204800 (200 MB).
// Slot 99 is the default head file, one page at the second-block base plus two units. Any other
// slot is accepted and nothing is written.
//
// A download reads whole 2048-byte pages from a page source, one at a time (memory stays flat in
// the file's size); a short last piece is dropped. The file is opened before anything is sent, so a
// file that cannot be opened (code 9, shown) leaves no area noticed. The reset never reads a file:
// it hands the download its blank and head pages from memory (it still writes them to
// "OffLineFile.tmp" beside the library, best effort, for whoever looks there).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "flash/flash_pages.h"
#include "platform/files.h"

constexpr uint32_t kOffSlotCount = 17;        // slots 0..16
constexpr uint32_t kOffSlotDefaultHead = 99;  // the default head file
constexpr uint32_t kOffSlotPageShift = 12;    // slot n begins at page n << 12
constexpr uint64_t kOffSlotsKb = 204800;      // the slots' 200 MB
constexpr uint32_t kOffResetBlankPages = 32;  // pages of each slot the reset blanks

// Whole pages for a download.
class OffPageSource {
 public:
  virtual ~OffPageSource() = default;
  // The size in bytes the limits are checked against.
  virtual uint64_t Size() const = 0;
  // The next whole page into `page`; false when no whole page is left.
  virtual bool Next(uint8_t* page) = 0;
};

// A file read page by page. Open() false: the path names no regular file (a folder, a device) or
// the file cannot be opened for reading. The size is the one the file had at the open; no page
// beyond it is read.
class OffFileSource : public OffPageSource {
 public:
  explicit OffFileSource(std::string path) : path_(std::move(path)) {}
  bool Open();
  uint64_t Size() const override { return size_; }
  bool Next(uint8_t* page) override;

 private:
  std::string path_;
  plat::File file_;
  uint64_t size_ = 0;
  uint64_t read_ = 0;
};

// Bytes in memory, read page by page.
class OffMemorySource : public OffPageSource {
 public:
  explicit OffMemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool Next(uint8_t* page) override;

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0;
};

// Copies the pages of `source` into `slot`. Strict (the export): a flash the NAND check does not
// accept is code 28 (shown; a wrong id also shows "flash id 异常 %x" with the id page's first word).
// Not strict (the reset): such a card's slots 0-16 are skipped silently. A file too big for its
// slot is code 13 (shown) before anything is written. Slot 16 is committed with 0x60000040, slot
// 99 with 0x30000008 (its area must come into effect: code 26). Card failures throw (1, 24).
void DownLoadOffPages(OffPageSource& source, uint32_t slot, bool strict);
// The same from a file: code 9 (shown) when it is no regular file or cannot be opened, nothing sent.
void DownLoadOffFile(const std::string& path, uint32_t slot, bool strict);

// The check word of a 124-byte sub-block with the block's index as initial value (layout 2).
using OffBlockCrc = std::function<uint16_t(const uint8_t* data, uint16_t init)>;

// The default head file of a block check type ([Main] nBufDataCheckType): the words 0x50000000,
// 0x57000001, 0x51100001, 0x57000001, 0x50000000 at offsets 0-16, zeros after them; type 1 begins
// with 0x5110A55A instead; type 2 ends each 128-byte block k with 0x5A000000 | its CRC.
FlashPage OffDefaultHeadFile(int32_t checkType, const OffBlockCrc& crc);

// The flash reset, in order: the default head written, `upload` (the card parameter upload: 0 or
// the code it failed with), the first 32 pages of slots 0-15 blanked (0xFF), the default head file
// into slot 99; then a failed upload's code is thrown (shown). Card failures throw at once.
void ResetCardFlash(const std::function<uint32_t()>& upload, const OffBlockCrc& crc);
