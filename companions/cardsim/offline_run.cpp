#include "offline_run.h"

namespace cardsim {

namespace {

constexpr uint32_t kTableAddress = 0x100000;
constexpr uint32_t kBitmapOffset = 1792;
constexpr uint8_t kTableMarker = 0xA5;
constexpr uint32_t kDocPageShift = 12;
constexpr uint32_t kSlotsPages = 204800 / 2;  // 200 MB of 2 KB pages
// Pages taken in per feed: the executor runs between feeds, so a card that consumes at once never
// holds more than this much of a document undecided.
constexpr uint32_t kFeedPages = 64;

bool HoldsEndWord(const Page& p) {
  for (uint32_t i = 0; i < kPageBytes; i += 4) {
    const uint32_t w = static_cast<uint32_t>(p[i]) | (static_cast<uint32_t>(p[i + 1]) << 8) |
                       (static_cast<uint32_t>(p[i + 2]) << 16) | (static_cast<uint32_t>(p[i + 3]) << 24);
    if (w == kEndWord) return true;
  }
  return false;
}

}  // namespace

bool OfflineRun::Begin(const FlashModel& flash, uint32_t doc) {
  if (doc >= kOfflineDocuments) return false;
  Page table{};
  flash.Peek(CARDSIM_FLASH_SPI, kTableAddress, table.data(), kPageBytes);
  bad_.fill(0);
  if (table[kPageBytes - 1] == kTableMarker) {
    // The marker byte stands where the flags of the last eight blocks would be.
    for (uint32_t b = 0; b < kNandBlockCount - 8; ++b) bad_[b] = (table[kBitmapOffset + b / 8] >> (b % 8)) & 1;
  }
  owns_ = active_ = true;
  doc_ = doc;
  page_ = doc << kDocPageShift;
  return true;
}

bool OfflineRun::Feed(FlashModel& flash, StreamEngine& stream, const StreamSettings& s, uint64_t nowUs) {
  if (!active_) return false;
  bool fed = false;
  Page p;
  for (uint32_t n = 0; n < kFeedPages && active_ && stream.Live() && stream.RoomFor(kPageBytes); ++n) {
    while (page_ < kSlotsPages && bad_[page_ / kBlockPages]) page_ += kBlockPages;
    if (page_ >= kSlotsPages) {
      // Past the slots without an end word: what was read runs out, then the run ends.
      active_ = false;
      stream.Flush(nowUs);
      break;
    }
    flash.Peek(CARDSIM_FLASH_NAND, page_ * kPageBytes, p.data(), kPageBytes);
    ++page_;
    stream.Intake(p.data(), kPageBytes, s, nowUs);
    fed = true;
    if (HoldsEndWord(p)) active_ = false;
  }
  if (!stream.Live()) active_ = false;
  return fed;
}

}  // namespace cardsim
