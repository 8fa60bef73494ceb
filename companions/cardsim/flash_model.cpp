#include "flash_model.h"

#include <algorithm>
#include <cstring>

#include "cardlink/card_wire.h"

namespace cardsim {

namespace {

constexpr uint32_t kOk = 0;
constexpr uint32_t kWriteFailed = 0x01;
constexpr uint32_t kReadFailed = 0xAA;

// Sub-states of the card's flash steps.
constexpr uint32_t kSubErase = 1, kSubData = 2, kSubProgram = 3, kSubRead = 4, kSubBulk = 5, kSubSpi = 14;

const uint8_t kDefaultId[] = {0x51, 0xEC, 0xDA, 0x10, 0x95, 0x44};

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool Get32(const std::string& in, size_t& at, uint32_t& v) {
  if (at > in.size() || in.size() - at < 4) return false;
  v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(in[at + i])) << (8 * i);
  at += 4;
  return true;
}

constexpr char kMagic[] = "QZSIMFL1";

}  // namespace

// ------------------------------------------------------------------------------------------------
// A chip

template <class F>
void FlashChip::Each(uint32_t address, uint32_t length, F f) const {
  while (length > 0) {
    const uint32_t index = address / kPageBytes;
    const uint32_t offset = address % kPageBytes;
    const uint32_t n = std::min(length, kPageBytes - offset);
    f(index, offset, n);
    address += n;
    length -= n;
  }
}

void FlashChip::Read(uint32_t address, uint8_t* out, uint32_t length) const {
  Each(address, length, [&](uint32_t index, uint32_t offset, uint32_t n) {
    const auto it = pages_.find(index);
    if (it == pages_.end()) {
      std::memset(out, 0xFF, n);
    } else {
      std::memcpy(out, it->second.data() + offset, n);
    }
    out += n;
  });
}

void FlashChip::Program(uint32_t address, const uint8_t* data, uint32_t length) {
  Each(address, length, [&](uint32_t index, uint32_t offset, uint32_t n) {
    auto [it, added] = pages_.try_emplace(index);
    if (added) it->second.fill(0xFF);
    for (uint32_t i = 0; i < n; ++i) it->second[offset + i] &= data[i];
    data += n;
  });
}

void FlashChip::Poke(uint32_t address, const uint8_t* data, uint32_t length) {
  Each(address, length, [&](uint32_t index, uint32_t offset, uint32_t n) {
    auto [it, added] = pages_.try_emplace(index);
    if (added) it->second.fill(0xFF);
    std::memcpy(it->second.data() + offset, data, n);
    data += n;
  });
}

void FlashChip::Erase(uint32_t address, uint32_t length) {
  Each(address, length, [&](uint32_t index, uint32_t offset, uint32_t n) {
    auto it = pages_.find(index);
    if (it == pages_.end()) return;
    if (n == kPageBytes) {
      pages_.erase(it);
    } else {
      std::memset(it->second.data() + offset, 0xFF, n);
    }
  });
}

uint32_t FlashChip::PagesHeld() const {
  uint32_t n = 0;
  for (const auto& [index, page] : pages_)
    if (std::any_of(page.begin(), page.end(), [](uint8_t b) { return b != 0xFF; })) ++n;
  return n;
}

// ------------------------------------------------------------------------------------------------
// The card's flash

FlashModel::FlashModel() { Reset(); }

void FlashModel::Reset() {
  nand_.Clear();
  spi_.Clear();
  bad_.assign(kNandBlockCount, 0);
  id_.fill(0);
  std::memcpy(id_.data(), kDefaultId, sizeof kDefaultId);
  pageBufFull_ = readBufFull_ = false;
  dataDue_ = 0;
  pageStatus_ = kOk;
  faults_.clear();
  commitFailAreas_ = commitFailTimes_ = 0;
  counts_ = cardsim_flash{};
  dirty_ = false;
}

bool FlashModel::TakeFault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t unit) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->chip != chip || it->kind != kind) continue;
    if (it->where != CARDSIM_FLASH_ANYWHERE && it->where / unit != where / unit) continue;
    if (--it->times == 0) faults_.erase(it);
    return true;
  }
  return false;
}

FlashStep FlashModel::Control(uint32_t word) {
  counts_.last_word = word;
  FlashStep step;
  if (dataDue_ != 0) {
    // A word in the middle of a data phase: the page data never came.
    dataDue_ = 0;
    counts_.protocol_errors += 1;
  }
  if ((word >> 28) == 0xE) {
    pageStatus_ = SpiControl(word, step);
  } else {
    pageStatus_ = NandControl(word, step);
  }
  return step;
}

uint32_t FlashModel::NandControl(uint32_t word, FlashStep& step) {
  const uint32_t page = word & 0xFFFFFF;
  const uint32_t address = page * kPageBytes;  // wraps for pages beyond the chip; checked below
  const bool inChip = page < kNandBlockCount * kBlockPages;
  switch (word >> 28) {
    case 0x1: {  // erase the block holding the page
      step.subState = kSubErase;
      counts_.erases[CARDSIM_FLASH_NAND] += 1;
      if (!inChip) return kWriteFailed;
      const uint32_t block = page / kBlockPages;
      if (bad_[block] || TakeFault(CARDSIM_FLASH_NAND, CARDSIM_FLASH_FAULT_ERASE, page, kBlockPages))
        return kWriteFailed;
      nand_.Erase(block * kBlockPages * kPageBytes, kBlockPages * kPageBytes);
      dirty_ = true;
      return kOk;
    }
    case 0x2:
      if (word != FLASHW_NAND_DATA && word != FLASHW_SPI_DATA) break;
      step.subState = kSubData;
      dataDue_ = kPageBytes;
      pageBufChip_ = (word & 1) ? CARDSIM_FLASH_SPI : CARDSIM_FLASH_NAND;
      pageBufFull_ = false;
      return kOk;
    case 0x3:  // program the page from the buffer
      step.subState = kSubProgram;
      counts_.programs[CARDSIM_FLASH_NAND] += 1;
      if (!inChip) return kWriteFailed;
      if (bad_[page / kBlockPages]) {
        pageBufFull_ = false;
        return kWriteFailed;
      }
      return ProgramFromBuffer(CARDSIM_FLASH_NAND, address, page);
    case 0x4:  // read the page into the read buffer
      step.subState = kSubRead;
      counts_.reads[CARDSIM_FLASH_NAND] += 1;
      if (!inChip) {
        readBufFull_ = false;
        return kReadFailed;
      }
      return ReadIntoBuffer(CARDSIM_FLASH_NAND, address, page);
    case 0x5:  // the read buffer out on the bulk channel
      if (word != FLASHW_NAND_BULK_READ && word != FLASHW_SPI_BULK_READ) break;
      step.subState = kSubBulk;
      step.bulkOut = true;
      counts_.bulk_reads += 1;
      if (!readBufFull_ || readBufChip_ != ((word & 1) ? CARDSIM_FLASH_SPI : CARDSIM_FLASH_NAND))
        counts_.protocol_errors += 1;
      return kOk;
    case 0x6:
      if (word != FLASHW_NAND_ID) break;
      step.subState = kSubRead;
      readBuf_ = id_;
      readBufChip_ = CARDSIM_FLASH_NAND;
      readBufFull_ = true;
      return kOk;
    default:
      break;
  }
  counts_.protocol_errors += 1;
  return kWriteFailed;
}

uint32_t FlashModel::SpiControl(uint32_t word, FlashStep& step) {
  const uint32_t address = (word >> 4) & 0xFFFFFF;
  step.subState = kSubSpi;
  switch (word & 0xF) {
    case 0:  // program 2048 bytes at the address
      counts_.programs[CARDSIM_FLASH_SPI] += 1;
      if (!spi_.Fits(address, kPageBytes)) {
        pageBufFull_ = false;
        return kWriteFailed;
      }
      return ProgramFromBuffer(CARDSIM_FLASH_SPI, address, address);
    case 1:  // 2048 bytes at the address into the read buffer
      counts_.reads[CARDSIM_FLASH_SPI] += 1;
      if (!spi_.Fits(address, kPageBytes)) {
        readBufFull_ = false;
        return kReadFailed;
      }
      return ReadIntoBuffer(CARDSIM_FLASH_SPI, address, address);
    case 2: {  // erase the sector holding the address
      counts_.erases[CARDSIM_FLASH_SPI] += 1;
      if (address >= kSpiBytes ||
          TakeFault(CARDSIM_FLASH_SPI, CARDSIM_FLASH_FAULT_ERASE, address, kSpiSectorBytes))
        return kWriteFailed;
      spi_.Erase(address & ~(kSpiSectorBytes - 1), kSpiSectorBytes);
      dirty_ = true;
      return kOk;
    }
    default:
      counts_.protocol_errors += 1;
      return kWriteFailed;
  }
}

uint32_t FlashModel::ProgramFromBuffer(uint32_t chip, uint32_t address, uint32_t where) {
  const bool loaded = pageBufFull_ && pageBufChip_ == chip;
  // The buffer is programmed once; the next program needs new data.
  pageBufFull_ = false;
  if (!loaded) {
    counts_.protocol_errors += 1;
    return kWriteFailed;
  }
  const uint32_t unit = chip == CARDSIM_FLASH_NAND ? 1 : kPageBytes;
  if (TakeFault(chip, CARDSIM_FLASH_FAULT_PROGRAM, where, unit)) return kWriteFailed;
  Chip(chip).Program(address, pageBuf_.data(), kPageBytes);
  dirty_ = true;
  return kOk;
}

uint32_t FlashModel::ReadIntoBuffer(uint32_t chip, uint32_t address, uint32_t where) {
  const uint32_t unit = chip == CARDSIM_FLASH_NAND ? 1 : kPageBytes;
  Chip(chip).Read(address, readBuf_.data(), kPageBytes);
  readBufChip_ = chip;
  readBufFull_ = true;
  if (TakeFault(chip, CARDSIM_FLASH_FAULT_READ, where, unit)) {
    for (uint8_t& b : readBuf_) b = static_cast<uint8_t>(~b);
    return kReadFailed;
  }
  if (TakeFault(chip, CARDSIM_FLASH_FAULT_CORRUPT, where, unit)) readBuf_[0] ^= 0x01;
  return kOk;
}

void FlashModel::DataIn(const uint8_t* data, uint32_t length) {
  const uint32_t n = std::min(length, dataDue_);
  std::memcpy(pageBuf_.data() + (kPageBytes - dataDue_), data, n);
  dataDue_ -= n;
  if (dataDue_ == 0) {
    pageBufFull_ = true;
    counts_.data_phases += 1;
  }
}

uint32_t FlashModel::CommitAreas(uint32_t word) {
  switch (word) {
    case OP_ARG_COMMIT_OFF_HEAD: return 1u << AREA_OFF_HEAD;
    case OP_ARG_COMMIT_BOX_TABLES: return (1u << AREA_BOX_TABLE_A) | (1u << AREA_BOX_TABLE_B);
    case OP_ARG_COMMIT_CARD_PARA: return 1u << AREA_CARD_PARA;
    case OP_ARG_COMMIT_SECOND_PARA: return (1u << AREA_SECOND_BLOCK) | (1u << AREA_OFF_DEFAULT_HEAD);
    case OP_ARG_COMMIT_ALL: return (1u << kAreaCount) - 1;
    default: return 0;
  }
}

uint32_t FlashModel::CommitSubState(uint32_t word) {
  switch (word) {
    case OP_ARG_COMMIT_OFF_HEAD: return 0;
    case OP_ARG_COMMIT_BOX_TABLES: return 1;
    case OP_ARG_COMMIT_CARD_PARA: return 2;
    case OP_ARG_COMMIT_SECOND_PARA: return 3;
    case OP_ARG_COMMIT_ALL: return 5;
    default: return 0;
  }
}

uint32_t FlashModel::FailedAreas(uint32_t areas) {
  const uint32_t failed = areas & commitFailAreas_;
  if (failed == 0 || commitFailTimes_ == 0) return 0;
  if (--commitFailTimes_ == 0) commitFailAreas_ = 0;
  return failed;
}

bool FlashModel::Peek(uint32_t chip, uint32_t address, uint8_t* out, uint32_t length) const {
  if (chip > CARDSIM_FLASH_SPI || !out) return false;
  const FlashChip& c = chip == CARDSIM_FLASH_SPI ? spi_ : nand_;
  if (!c.Fits(address, length)) return false;
  c.Read(address, out, length);
  return true;
}

bool FlashModel::Poke(uint32_t chip, uint32_t address, const uint8_t* data, uint32_t length) {
  if (chip > CARDSIM_FLASH_SPI || !data || !Chip(chip).Fits(address, length)) return false;
  Chip(chip).Poke(address, data, length);
  dirty_ = true;
  return true;
}

bool FlashModel::SetBad(uint32_t block, bool bad) {
  if (block >= kNandBlockCount) return false;
  bad_[block] = bad ? 1 : 0;
  dirty_ = true;
  return true;
}

bool FlashModel::SetId(const uint8_t* id, uint32_t length) {
  if (!id || length > kPageBytes) return false;
  id_.fill(0);
  std::memcpy(id_.data(), id, length);
  dirty_ = true;
  return true;
}

bool FlashModel::AddFault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t times) {
  if (chip > CARDSIM_FLASH_SPI || kind < CARDSIM_FLASH_FAULT_ERASE || kind > CARDSIM_FLASH_FAULT_CORRUPT) return false;
  if (times == 0) {
    std::erase_if(faults_, [&](const Fault& f) { return f.chip == chip && f.kind == kind && f.where == where; });
  } else {
    faults_.push_back({chip, kind, where, times});
  }
  return true;
}

cardsim_flash FlashModel::Counts() const {
  cardsim_flash c = counts_;
  c.page_status = pageStatus_;
  c.data_due = dataDue_;
  c.pages_held[CARDSIM_FLASH_NAND] = nand_.PagesHeld();
  c.pages_held[CARDSIM_FLASH_SPI] = spi_.PagesHeld();
  c.bad_blocks = static_cast<uint32_t>(std::count(bad_.begin(), bad_.end(), 1));
  return c;
}

// The file: the magic, the id page, the number of bad blocks and their numbers, the number of pages
// and for each its chip, its index and its 2048 bytes; numbers are u32 little-endian.
std::string FlashModel::Serialize() {
  std::string out(kMagic, sizeof kMagic - 1);
  out.append(reinterpret_cast<const char*>(id_.data()), kPageBytes);
  std::vector<uint32_t> bad;
  for (uint32_t b = 0; b < kNandBlockCount; ++b)
    if (bad_[b]) bad.push_back(b);
  Put32(out, static_cast<uint32_t>(bad.size()));
  for (uint32_t b : bad) Put32(out, b);
  Put32(out, static_cast<uint32_t>(nand_.Pages().size() + spi_.Pages().size()));
  for (uint32_t chip : {CARDSIM_FLASH_NAND, CARDSIM_FLASH_SPI}) {
    for (const auto& [index, page] : Chip(chip).Pages()) {
      Put32(out, chip);
      Put32(out, index);
      out.append(reinterpret_cast<const char*>(page.data()), kPageBytes);
    }
  }
  dirty_ = false;
  return out;
}

bool FlashModel::Deserialize(const std::string& in) {
  const size_t magic = sizeof kMagic - 1;
  if (in.size() < magic + kPageBytes || in.compare(0, magic, kMagic) != 0) return false;
  FlashModel m;
  size_t at = magic;
  std::memcpy(m.id_.data(), in.data() + at, kPageBytes);
  at += kPageBytes;
  uint32_t count = 0;
  if (!Get32(in, at, count) || count > kNandBlockCount) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t b = 0;
    if (!Get32(in, at, b) || b >= kNandBlockCount) return false;
    m.bad_[b] = 1;
  }
  if (!Get32(in, at, count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t chip = 0, index = 0;
    if (!Get32(in, at, chip) || !Get32(in, at, index) || chip > CARDSIM_FLASH_SPI) return false;
    if (in.size() - at < kPageBytes || index >= m.Chip(chip).Size() / kPageBytes) return false;
    m.Chip(chip).Poke(index * kPageBytes, reinterpret_cast<const uint8_t*>(in.data() + at), kPageBytes);
    at += kPageBytes;
  }
  if (at != in.size()) return false;
  nand_ = m.nand_;
  spi_ = m.spi_;
  bad_ = m.bad_;
  id_ = m.id_;
  dirty_ = false;
  return true;
}

}  // namespace cardsim
