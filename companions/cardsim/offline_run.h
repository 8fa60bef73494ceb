#pragma once
// The card running one of its offline documents by itself: command 83 (1, 0x100 | document), or
// its start input (cardsim_start_input), with or without a host.
//
// Document d lies in the NAND from page d << 12 on. The card reads it page by page in order,
// skipping the blocks that the bad-block table on its serial flash marks bad (the table page at
// 0x100000: bitmap at byte 1792, bit i of byte j for block 8j + i, marker 0xA5 in byte 2047; a page
// without the marker marks nothing bad), and hands the pages to the stream engine as a received
// stream: the buffer opened with the layout of the card version, the run started at once, each page
// taken in while the FIFO has room for it. Reading ends after the page that holds the end word
// 0x51100001 (at a word boundary), when the run ended (end word, stop, failed check) or at the end
// of the 200 MB of slots (the stream is then flushed: it runs dry). A page that fails its check
// ends the run as in an online run, but the card reports it as an offline file it could not read:
// alarm bit 12 instead of the stream-check bit 4. The trace, laser, galvanometer and wait records
// are those of an online run of the same blocks.
#include <array>
#include <cstdint>

#include "flash_model.h"
#include "stream_engine.h"

namespace cardsim {

constexpr uint32_t kOfflineReadAlarm = 1u << 12;
constexpr uint32_t kOfflineDocuments = 16;

class OfflineRun {
 public:
  // Document `doc` (below 16) from the flash's slots: false for another number (nothing starts).
  bool Begin(const FlashModel& flash, uint32_t doc);
  // The buffer was opened for an online run: the stream is no longer the document's.
  void Forget() { owns_ = active_ = false; }
  // Up to 64 pages taken in while the stream has room; true when one was (the executor may run on
  // and the next feed take more).
  bool Feed(FlashModel& flash, StreamEngine& stream, const StreamSettings& s, uint64_t nowUs);
  // The stream is the document's (until the next buffer open), and which one.
  bool Owns() const { return owns_; }
  uint32_t Document() const { return doc_; }

 private:
  bool owns_ = false;
  bool active_ = false;  // pages are still to be read
  uint32_t doc_ = 0;
  uint32_t page_ = 0;    // the next page to read
  std::array<uint8_t, kNandBlockCount> bad_{};
};

}  // namespace cardsim
