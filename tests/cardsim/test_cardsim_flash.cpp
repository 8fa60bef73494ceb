// The card's flash from the card's side: control words, page data and bulk reads in exact words and
// bytes; AND programming and erases of whole blocks and sectors; faults; areas, notices and commits;
// the busy run state; the flash in the state file.
#include <array>
#include <functional>

#include "support/trace.h"
#include "cardsim_fixture.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/temp_dir.h"

namespace cardsim_test {
namespace {

using Page = std::array<uint8_t, 2048>;

Page Pattern(uint8_t seed) {
  Page p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return p;
}

class CardsimFlash : public CardsimTest {
 protected:
  void SetUp() override {
    CardsimTest::SetUp();
    Open(CardType::Usb);
  }
  // A control word; the page status it leaves.
  static uint32_t Operate(uint32_t word) {
    EXPECT_EQ(0u, Exchange(83, 2, word).rc) << std::hex << word;
    return Status().second & 0xFF;
  }
  static void Data(uint32_t dataWord, const Page& p) {
    ASSERT_EQ(0u, Exchange(83, 2, dataWord).rc);
    ASSERT_EQ(0u, Card().BufSend(p.data(), 2048));
  }
  // A bulk-read request: no reply, the page on the bulk channel in 512-byte units.
  static Page BulkRead(uint32_t word) {
    Page p{};
    EXPECT_EQ(0u, Send(83, 2, word));
    EXPECT_NE(0u, Receive().rc);  // no reply comes
    EXPECT_EQ(1u, LinkState() & 1);
    for (uint32_t off = 0; off < 2048; off += 512) EXPECT_EQ(0u, Card().BufRecv(p.data() + off, 512));
    EXPECT_EQ(0u, LinkState() & 1);
    return p;
  }
  static Page Peek(uint32_t chip, uint32_t address) {
    Page p{};
    EXPECT_EQ(0u, cardsim_flash_read(chip, address, p.data(), 2048));
    return p;
  }
  static void Poke(uint32_t chip, uint32_t address, const Page& p) {
    ASSERT_EQ(0u, cardsim_flash_write(chip, address, p.data(), 2048));
  }
  static cardsim_flash Flash() {
    cardsim_flash f{};
    cardsim_get_flash(&f);
    return f;
  }
};

struct ChipWords {
  const char* name;
  uint32_t chip, address, data, program, select, bulk;
};
const ChipWords kChips[] = {
    {"NAND page 100", CARDSIM_FLASH_NAND, 100 * 2048, 0x20000000, 0x30000064, 0x40000064, 0x50000000},
    {"serial flash 0x130800", CARDSIM_FLASH_SPI, 0x130800, 0x20000001, 0xE1308000, 0xE1308001, 0x50000001},
};

TEST_F(CardsimFlash, PageDataProgramAndBulkReadOnBothChips) {
  for (const ChipWords& c : kChips) {
    QZ_TRACE(c.name);
    cardsim_reset();
    Open(CardType::Usb);
    const Page a = Pattern(1), b = Pattern(0x40);
    ASSERT_EQ(0u, Exchange(83, 2, c.data).rc);
    // Waiting for the page data: run state 2, sub-state 2, bulk ready.
    EXPECT_EQ(Status(), std::make_pair(2u, 2u << 16 | 1u << 26));
    EXPECT_EQ(8u, LinkState() & 8);
    ASSERT_EQ(0u, Card().BufSend(a.data(), 2048));
    EXPECT_EQ(0u, Status().first & 7);
    EXPECT_EQ(0u, Operate(c.program));
    EXPECT_EQ(a, Peek(c.chip, c.address));
    // A second program without an erase leaves the AND of both.
    Data(c.data, b);
    EXPECT_EQ(0u, Operate(c.program));
    Page both;
    for (size_t i = 0; i < both.size(); ++i) both[i] = a[i] & b[i];
    EXPECT_EQ(both, Peek(c.chip, c.address));
    EXPECT_EQ(0u, Operate(c.select));
    EXPECT_EQ(both, BulkRead(c.bulk));
    const cardsim_flash f = Flash();
    EXPECT_EQ(2u, f.programs[c.chip]);
    EXPECT_EQ(1u, f.reads[c.chip]);
    EXPECT_EQ(2u, f.data_phases);
    EXPECT_EQ(1u, f.bulk_reads);
    EXPECT_EQ(0u, f.protocol_errors);
    EXPECT_EQ(1u, f.pages_held[c.chip]);
  }
}

TEST_F(CardsimFlash, PcieBulkReadAndTheIdPage) {
  Open(CardType::Pcie);
  Poke(CARDSIM_FLASH_NAND, 7 * 2048, Pattern(9));
  EXPECT_EQ(0u, Operate(0x40000007));
  EXPECT_EQ(Pattern(9), BulkRead(0x50000000));
  // The id page.
  EXPECT_EQ(0u, Operate(0x60000000));
  const Page id = BulkRead(0x50000000);
  EXPECT_EQ((std::vector<uint8_t>{0x51, 0xEC, 0xDA, 0x10, 0x95, 0x44, 0, 0}), std::vector<uint8_t>(id.begin(), id.begin() + 8));
}

TEST_F(CardsimFlash, EraseBlanksItsBlockOrSectorOnly) {
  struct Case { uint32_t chip, word, gone, kept; } cases[] = {
      {CARDSIM_FLASH_NAND, 0x10000000 | (3 * 64 + 10), 3 * 64 * 2048, 4 * 64 * 2048},
      {CARDSIM_FLASH_NAND, 0x10000000 | (3 * 64 + 10), (3 * 64 + 63) * 2048, (2 * 64 + 63) * 2048},
      {CARDSIM_FLASH_SPI, 0xE1108002, 0x110000, 0x120000},
      {CARDSIM_FLASH_SPI, 0xE1108002, 0x11F800, 0x10F800},
  };
  for (const auto& c : cases) {
    Poke(c.chip, c.gone, Pattern(2));
    Poke(c.chip, c.kept, Pattern(3));
    EXPECT_EQ(0u, Operate(c.word));
    Page blank;
    blank.fill(0xFF);
    EXPECT_EQ(blank, Peek(c.chip, c.gone)) << std::hex << c.gone;
    EXPECT_EQ(Pattern(3), Peek(c.chip, c.kept)) << std::hex << c.kept;
  }
}

// Each attempt runs the word (a program gets its page data first); the page statuses in order.
TEST_F(CardsimFlash, FaultsFailTheirOperationsAsOftenAsArmed) {
  struct Case {
    const char* name;
    std::function<void()> arm;
    uint32_t word;
    std::vector<uint32_t> statuses;
  } cases[] = {
      {"NAND erase", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_ERASE, 130, 1); }, 0x10000080, {1, 0}},
      {"NAND program", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_PROGRAM, 5, 2); }, 0x30000005, {1, 1, 0}},
      {"NAND program elsewhere", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_PROGRAM, 6, 2); }, 0x30000005, {0}},
      {"NAND read", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 7, 2); }, 0x40000007, {0xAA, 0xAA, 0}},
      {"NAND read anywhere", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, CARDSIM_FLASH_ANYWHERE, 1); },
       0x40000009, {0xAA, 0}},
      {"disarmed", [] {
         cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 7, 2);
         cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 7, 0);
       }, 0x40000007, {0}},
      {"serial erase, any address of the sector", [] { cardsim_flash_fault(1, CARDSIM_FLASH_FAULT_ERASE, 0x20000, 1); },
       0xE0208002, {1, 0}},
      {"serial program", [] { cardsim_flash_fault(1, CARDSIM_FLASH_FAULT_PROGRAM, 0x800, 1); }, 0xE0008000, {1, 0}},
      {"serial read", [] { cardsim_flash_fault(1, CARDSIM_FLASH_FAULT_READ, 0x2000, 1); }, 0xE0020001, {0xAA, 0}},
      {"bad block: erase", [] { cardsim_nand_set_bad(9, 1); }, 0x10000240, {1, 1, 1}},
      {"bad block: program", [] { cardsim_nand_set_bad(9, 1); }, 0x30000241, {1, 1}},
      {"bad block made good", [] { cardsim_nand_set_bad(9, 1), cardsim_nand_set_bad(9, 0); }, 0x10000240, {0}},
      {"page beyond the NAND", [] {}, 0x30020000, {1}},
      {"serial read across the end", [] {}, 0xE7FFC001, {0xAA}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    cardsim_reset();
    Open(CardType::Usb);
    c.arm();
    for (uint32_t expected : c.statuses) {
      if ((c.word >> 28) == 3) Data(0x20000000, Pattern(4));
      if ((c.word >> 28) == 0xE && (c.word & 0xF) == 0) Data(0x20000001, Pattern(4));
      EXPECT_EQ(expected, Operate(c.word));
    }
  }
}

TEST_F(CardsimFlash, AFailedReadDeliversGarbageACorruptOneLooksClean) {
  Poke(CARDSIM_FLASH_NAND, 20 * 2048, Pattern(5));
  cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 20, 1);
  cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_CORRUPT, 20, 1);
  EXPECT_EQ(0xAAu, Operate(0x40000014));
  Page inverted = Pattern(5);
  for (uint8_t& b : inverted) b = static_cast<uint8_t>(~b);
  EXPECT_EQ(inverted, BulkRead(0x50000000));
  EXPECT_EQ(0u, Operate(0x40000014));
  Page flipped = Pattern(5);
  flipped[0] ^= 1;
  EXPECT_EQ(flipped, BulkRead(0x50000000));
  // A program that fails keeps the page as it was.
  cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_PROGRAM, 20, 1);
  Data(0x20000000, Pattern(6));
  EXPECT_EQ(1u, Operate(0x30000014));
  EXPECT_EQ(Pattern(5), Peek(CARDSIM_FLASH_NAND, 20 * 2048));
}

TEST_F(CardsimFlash, WordsOutOfOrderAreProtocolErrors) {
  struct Case { const char* name; std::function<void()> before; uint32_t word, status, errors; } cases[] = {
      {"program without data", [] {}, 0x30000001, 1, 1},
      {"program after the data was programmed", [] { Data(0x20000000, Pattern(1)), Operate(0x30000001); }, 0x30000002, 1, 1},
      {"serial program of NAND data", [] { Data(0x20000000, Pattern(1)); }, 0xE0000000, 1, 1},
      {"a word while page data is due", [] { Exchange(83, 2, 0x20000000); }, 0x40000001, 0, 1},
      {"unknown word", [] {}, 0x70000000, 1, 1},
      {"unknown serial operation", [] {}, 0xE0000007, 1, 1},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    cardsim_reset();
    Open(CardType::Usb);
    c.before();
    EXPECT_EQ(c.status, Operate(c.word));
    EXPECT_EQ(c.errors, Flash().protocol_errors);
  }
  // A bulk read of a read buffer that holds the other chip's page.
  cardsim_reset();
  Open(CardType::Usb);
  EXPECT_EQ(0u, Operate(0xE0000001));
  BulkRead(0x50000000);
  EXPECT_EQ(1u, Flash().protocol_errors);
}

TEST_F(CardsimFlash, NoticesTakeAreasOutOfEffectCommitsBringThemBack) {
  ASSERT_EQ(0u, Exchange(82, 0x7F, 0x10000).rc);
  EXPECT_EQ(0x7Fu << 14, Status().first & (0x7Fu << 14));
  struct Step { uint32_t commit, failAreas, areasOut; } steps[] = {
      {0x20000004, 0, 0x6F},                 // card parameters: area 4
      {0x10000002, 1u << 3, 0x6B},           // box tables: 2 back, 3 kept out by the fault
      {1, 0, 0x69},                          // offline head: area 1
      {0x30000008, 0, 0x09},                 // second block and default head file: 5, 6
      {0x60000040, 0, 0x09},                 // an offline slot: no area
      {0x10000002, 0, 0x01},                 // the fault was used up
      {0xF00000FF, 1u << 0, 0x01},           // everything, the table kept out
      {0xF00000FF, 0, 0},
  };
  for (const auto& s : steps) {
    if (s.failAreas) cardsim_flash_commit_fail(s.failAreas, 1);
    ASSERT_EQ(0u, Exchange(83, 4, s.commit).rc);
    EXPECT_EQ(s.areasOut << 14, Status().first & (0x7Fu << 14)) << std::hex << s.commit;
    EXPECT_EQ(s.areasOut, Flash().areas_out);
    EXPECT_EQ(s.commit, Flash().last_commit);
  }
  EXPECT_EQ(1u, Flash().notices);
  EXPECT_EQ(8u, Flash().commits);
}

TEST_F(CardsimFlash, BusyOperationsHoldTheRunStateWithTheirStep) {
  cardsim_set_flash_busy(2);
  struct Case { uint32_t op, word, run, sub; } cases[] = {
      {2, 0x10000000, 2, 1}, {2, 0x40000000, 2, 4}, {2, 0xE0000002, 2, 14}, {4, 0x10000002, 4, 1}, {4, 0xF00000FF, 4, 5},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(0u, Exchange(83, c.op, c.word).rc);
    for (int i = 0; i < 2; ++i) {
      const auto s = Status();
      EXPECT_EQ(c.run, s.first & 7) << std::hex << c.word;
      EXPECT_EQ(c.sub, (s.second >> 16) & 31) << std::hex << c.word;
    }
    EXPECT_EQ(0u, Status().first & 7);
  }
  // Page data: busy until it arrived, then for the count.
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(2u, Status().first & 7);
  ASSERT_EQ(0u, Card().BufSend(Pattern(1).data(), 2048));
  EXPECT_EQ(2u, Status().first & 7);
  EXPECT_EQ(2u, Status().first & 7);
  EXPECT_EQ(0u, Status().first & 7);
  // Flag 0x20000 gives up page data that never came.
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  ASSERT_EQ(0u, Exchange(82, 0, 0x20000).rc);
  EXPECT_EQ(0u, Status().first & 7);
  EXPECT_EQ(0u, Flash().data_due);
}

TEST_F(CardsimFlash, TheFlashComesBackInANewProcess) {
  qztest::TempDir dir;
  const std::string path = dir.File("card.state");
  plat::SetEnvVar("CARDSIM_STATE", path);
  cardsim_reset();
  Open(CardType::Usb);
  Data(0x20000000, Pattern(7));
  EXPECT_EQ(0u, Operate(0x30000000 | 4095));
  Poke(CARDSIM_FLASH_SPI, 0x100000, Pattern(8));
  cardsim_nand_set_bad(77, 1);
  // A new process: the defaults, then the file.
  plat::SetEnvVar("CARDSIM_STATE", "");
  cardsim_reset();
  EXPECT_EQ(0u, Flash().pages_held[0]);
  plat::SetEnvVar("CARDSIM_STATE", path);
  EXPECT_EQ(0u, cardsim_load_state());
  EXPECT_EQ(Pattern(7), Peek(CARDSIM_FLASH_NAND, 4095 * 2048));
  EXPECT_EQ(Pattern(8), Peek(CARDSIM_FLASH_SPI, 0x100000));
  EXPECT_EQ(1u, Flash().bad_blocks);
  // A reset with the file blanks it too.
  cardsim_reset();
  plat::SetEnvVar("CARDSIM_STATE", "");
  cardsim_reset();
  plat::SetEnvVar("CARDSIM_STATE", path);
  EXPECT_EQ(0u, cardsim_load_state());
  EXPECT_EQ(0u, Flash().pages_held[0] + Flash().pages_held[1] + Flash().bad_blocks);
  plat::SetEnvVar("CARDSIM_STATE", "");
}

}  // namespace
}  // namespace cardsim_test
