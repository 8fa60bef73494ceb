#pragma once
// The card's flash: what the card does with the flash control words, the page data and the bulk
// reads it receives (cardsim_api.h describes it from the host's side). The serial flash and the NAND
// keep only the 2048-byte pages that hold data; everything else reads blank (0xFF). The card model
// owns one FlashModel and calls it under its lock; run state, sub-state and the area bits of the
// status are the card model's.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cardsim_api.h"

namespace cardsim {

constexpr uint32_t kPageBytes = 2048;
constexpr uint32_t kBlockPages = 64;
constexpr uint32_t kNandBlockCount = 2048;
constexpr uint32_t kNandBytes = kNandBlockCount * kBlockPages * kPageBytes;  // 256 MiB
constexpr uint32_t kSpiBytes = 8u << 20;
constexpr uint32_t kSpiSectorBytes = 0x10000;

using Page = std::array<uint8_t, kPageBytes>;

// The bytes of one chip, blank until written.
class FlashChip {
 public:
  explicit FlashChip(uint32_t bytes) : bytes_(bytes) {}
  uint32_t Size() const { return bytes_; }
  bool Fits(uint32_t address, uint32_t length) const {
    return address <= bytes_ && length <= bytes_ - address;
  }
  // The caller checked Fits.
  void Read(uint32_t address, uint8_t* out, uint32_t length) const;
  // Programming only clears bits: each byte becomes the AND of what it held and the data.
  void Program(uint32_t address, const uint8_t* data, uint32_t length);
  void Poke(uint32_t address, const uint8_t* data, uint32_t length);
  void Erase(uint32_t address, uint32_t length);
  void Clear() { pages_.clear(); }
  // The pages that are not blank, by page index (address / 2048).
  const std::map<uint32_t, Page>& Pages() const { return pages_; }
  uint32_t PagesHeld() const;

 private:
  // f(page index, offset in the page, bytes) for each page the range touches.
  template <class F>
  void Each(uint32_t address, uint32_t length, F f) const;

  uint32_t bytes_;
  std::map<uint32_t, Page> pages_;
};

// What the card does on the channels after a control word.
struct FlashStep {
  bool bulkOut = false;   // the read buffer goes out on the bulk channel, without a reply
  uint32_t subState = 0;  // the step's sub-state while it runs
};

class FlashModel {
 public:
  FlashModel();
  // Blank chips, the default id, no bad blocks, no faults, no counts; not dirty (the card model
  // writes the state file's flash itself after a reset).
  void Reset();

  // One flash control word (command 83, operation 2).
  FlashStep Control(uint32_t word);
  // Bulk bytes a data phase still waits for, and the bytes that arrive for it.
  uint32_t DataDue() const { return dataDue_; }
  void DataIn(const uint8_t* data, uint32_t length);
  // The card gives up a data phase (flag 0x20000, a buffer open).
  void CancelData() { dataDue_ = 0; }
  const Page& ReadBuffer() const { return readBuf_; }
  uint32_t PageStatus() const { return pageStatus_; }

  // A commit word: the areas it takes into effect (bit n: area n), and those of them that a commit
  // fault keeps out of effect (the fault is used up).
  static uint32_t CommitAreas(uint32_t word);
  static uint32_t CommitSubState(uint32_t word);
  uint32_t FailedAreas(uint32_t areas);
  void Committed(uint32_t word) {
    counts_.commits += 1;
    counts_.last_commit = word;
  }
  void Noticed() { counts_.notices += 1; }

  // Tests' access.
  FlashChip& Chip(uint32_t chip) { return chip == CARDSIM_FLASH_SPI ? spi_ : nand_; }
  bool Peek(uint32_t chip, uint32_t address, uint8_t* out, uint32_t length) const;
  bool Poke(uint32_t chip, uint32_t address, const uint8_t* data, uint32_t length);
  bool SetBad(uint32_t block, bool bad);
  bool SetId(const uint8_t* id, uint32_t length);
  bool AddFault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t times);
  void SetCommitFault(uint32_t areas, uint32_t times) {
    commitFailAreas_ = areas;
    commitFailTimes_ = times;
  }
  cardsim_flash Counts() const;

  // The state file's part: the pages that hold data, the bad blocks and the id page. Dirty while
  // something of it changed since the last Serialize.
  bool Dirty() const { return dirty_; }
  std::string Serialize();
  bool Deserialize(const std::string& bytes);

 private:
  struct Fault {
    uint32_t chip, kind, where, times;
  };
  // Uses up one fault of `kind` that meets [address of the chip]; `unit` is the bytes a fault's
  // place stands for (a NAND block or a serial-flash sector for erases, a page otherwise).
  bool TakeFault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t unit);
  uint32_t NandControl(uint32_t word, FlashStep& step);
  uint32_t SpiControl(uint32_t word, FlashStep& step);
  uint32_t ProgramFromBuffer(uint32_t chip, uint32_t address, uint32_t where);
  uint32_t ReadIntoBuffer(uint32_t chip, uint32_t address, uint32_t where);

  FlashChip nand_{kNandBytes};
  FlashChip spi_{kSpiBytes};
  std::vector<uint8_t> bad_;  // one per NAND block
  Page id_{};
  Page pageBuf_{};
  uint32_t pageBufChip_ = 0;
  bool pageBufFull_ = false;
  uint32_t dataDue_ = 0;
  Page readBuf_{};
  uint32_t readBufChip_ = 0;
  bool readBufFull_ = false;
  uint32_t pageStatus_ = 0;
  std::vector<Fault> faults_;
  uint32_t commitFailAreas_ = 0, commitFailTimes_ = 0;
  cardsim_flash counts_{};
  bool dirty_ = false;
};

}  // namespace cardsim
