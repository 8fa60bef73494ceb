// The card's flash from the card's side: words, pages, erases, faults, area commits, the busy run state.
#include <functional>
#include <tuple>
#include <vector>

#include "support/trace.h"
#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

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
};

struct ChipWords {
  const char* name;
  uint32_t chip, address, data, program, select, bulk;
};
const ChipWords kChips[] = {
    {"NAND page 100", CARDSIM_FLASH_NAND, 100 * 2048, 0x20000000, 0x30000064, 0x40000064, 0x50000000},
    {"serial flash 0x130800", CARDSIM_FLASH_SPI, 0x130800, 0x20000001, 0xE1308000, 0xE1308001, 0x50000001},
};

TEST_F(CardsimFlash, PageDataProgramBulkReadAndEraseOnBothChips) {
  for (const ChipWords& c : kChips) {
    QZ_TRACE(c.name);
    Fresh(CardType::Usb);
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
    const cardsim_flash f = Flash();  // programs, reads, data phases, bulk reads, errors, pages held
    EXPECT_EQ(std::tuple(2u, 1u, 2u, 1u, 0u, 1u), std::tuple(f.programs[c.chip], f.reads[c.chip], f.data_phases,
                                                             f.bulk_reads, f.protocol_errors, f.pages_held[c.chip]));
  }
  // An erase blanks its block or sector only.
  Fresh(CardType::Usb);
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
TEST_F(CardsimFlash, FaultsFailTheirOperationsAsOftenAsArmedAndAFailedReadDeliversGarbage) {
  struct Case {
    const char* name;
    std::function<void()> arm;
    uint32_t word;
    std::vector<uint32_t> statuses;
  } cases[] = {
      {"NAND erase", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_ERASE, 130, 1); }, 0x10000080, {1, 0}},
      {"NAND program elsewhere", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_PROGRAM, 6, 2); }, 0x30000005, {0}},
      {"NAND read anywhere", [] { cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, CARDSIM_FLASH_ANYWHERE, 1); },
       0x40000009, {0xAA, 0}},
      {"disarmed", [] {
         cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 7, 2);
         cardsim_flash_fault(0, CARDSIM_FLASH_FAULT_READ, 7, 0);
       }, 0x40000007, {0}},
      {"serial erase, any address of the sector", [] { cardsim_flash_fault(1, CARDSIM_FLASH_FAULT_ERASE, 0x20000, 1); },
       0xE0208002, {1, 0}},
      {"serial program", [] { cardsim_flash_fault(1, CARDSIM_FLASH_FAULT_PROGRAM, 0x800, 1); }, 0xE0008000, {1, 0}},
      {"bad block: erase", [] { cardsim_nand_set_bad(9, 1); }, 0x10000240, {1, 1, 1}},
      {"bad block: program", [] { cardsim_nand_set_bad(9, 1); }, 0x30000241, {1, 1}},
      {"bad block made good", [] { cardsim_nand_set_bad(9, 1), cardsim_nand_set_bad(9, 0); }, 0x10000240, {0}},
      {"page beyond the NAND", [] {}, 0x30020000, {1}},
      {"serial read across the end", [] {}, 0xE7FFC001, {0xAA}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    Fresh(CardType::Usb);
    c.arm();
    for (uint32_t expected : c.statuses) {
      if ((c.word >> 28) == 3) Data(0x20000000, Pattern(4));
      if ((c.word >> 28) == 0xE && (c.word & 0xF) == 0) Data(0x20000001, Pattern(4));
      EXPECT_EQ(expected, Operate(c.word));
    }
  }
  // A failed read delivers garbage, a corrupt one looks clean.
  Fresh(CardType::Usb);
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
    Fresh(CardType::Usb);
    c.before();
    EXPECT_EQ(c.status, Operate(c.word));
    EXPECT_EQ(c.errors, Flash().protocol_errors);
  }
  // A bulk read of a read buffer that holds the other chip's page.
  Fresh(CardType::Usb);
  EXPECT_EQ(0u, Operate(0xE0000001));
  BulkRead(0x50000000);
  EXPECT_EQ(1u, Flash().protocol_errors);
}

TEST_F(CardsimFlash, NoticesTakeAreasOutCommitsBringThemBackBusyOperationsHoldTheRunState) {
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
    EXPECT_EQ(std::tuple(s.areasOut << 14, s.areasOut, s.commit),
              std::tuple(Status().first & (0x7Fu << 14), Flash().areas_out, Flash().last_commit))
        << std::hex << s.commit;
  }
  EXPECT_EQ(std::tuple(1u, 8u), std::tuple(Flash().notices, Flash().commits));
  // Busy operations hold the run state with their step.
  Fresh(CardType::Usb);
  cardsim_set_flash_busy(2);
  struct Case { uint32_t op, word, run, sub; } cases[] = {
      {2, 0x10000000, 2, 1}, {2, 0x40000000, 2, 4}, {2, 0xE0000002, 2, 14}, {4, 0x10000002, 4, 1}, {4, 0xF00000FF, 4, 5},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(0u, Exchange(83, c.op, c.word).rc);
    for (int i = 0; i < 2; ++i) {
      const auto s = Status();
      EXPECT_EQ(std::tuple(c.run, c.sub), std::tuple(s.first & 7, (s.second >> 16) & 31)) << std::hex << c.word;
    }
    EXPECT_EQ(0u, Status().first & 7);
  }
  // Page data: busy until it arrived, then for the count.
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(2u, Status().first & 7);
  ASSERT_EQ(0u, Card().BufSend(Pattern(1).data(), 2048));
  for (uint32_t run : {2u, 2u, 0u}) EXPECT_EQ(run, Status().first & 7);
  // Flag 0x20000 gives up page data that never came.
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  ASSERT_EQ(0u, Exchange(82, 0, 0x20000).rc);
  EXPECT_EQ(std::tuple(0u, 0u), std::tuple(Status().first & 7, Flash().data_due));
}

using Packet = std::tuple<uint32_t, uint32_t, uint32_t>;

constexpr uint32_t kCommitPara = 0x20000004;

Page ParaPage(const std::vector<Packet>& packets) {
  Page p{};
  for (size_t i = 0; i < packets.size(); ++i) {
    uint8_t* q = &p[16 * i];
    for (int k = 0; k < 6; ++k) q[k] = 0xA5;
    q[6] = static_cast<uint8_t>(std::get<0>(packets[i]));
    q[7] = static_cast<uint8_t>(std::get<0>(packets[i]) >> 8);
    Put32(q + 8, std::get<1>(packets[i]));
    Put32(q + 12, std::get<2>(packets[i]));
  }
  p[2047] = 0xA5;
  return p;
}

// The card's parameters: the page it loads at a commit (serial flash or NAND through the bad-block
// table), the packets it decodes and where the list ends. (What it applies: e2e CardParaHost.)
class CardsimPara : public CardsimFlash {
 protected:
  static std::vector<Packet> List() {
    std::vector<Packet> out;
    for (uint32_t i = 0; i < cardsim_para_count(); ++i) {
      cardsim_para_packet p{};
      EXPECT_EQ(0u, cardsim_para_get(i, &p));
      out.emplace_back(p.command, p.p1, p.p2);
    }
    return out;
  }
  static void Commit(uint32_t word) { ASSERT_EQ(0u, Exchange(83, 4, word).rc); }
  static uint32_t AreasOut() { return (Status().first >> 14) & 0x7F; }
};

TEST_F(CardsimPara, TheCardLoadsItsPageFromTheFlashOfItsVersionAtTheCommitsThatNameIt) {
  const std::vector<Packet> list = {{1, 0x3E802C0, 10}, {0x1FF, 0xFFFFFFFF, 0}, {20, 0, 23}};
  // From version 56 the serial flash; below it the NAND through the card's table: with blocks 0x708
  // and 0x709 bad the page lies at the same place two blocks on.
  Page table{};
  table[1792 + 0x708 / 8] = 3;
  table[2047] = 0xA5;
  for (uint32_t version : {56u, 55u}) {
    QZ_TRACE(version);
    Fresh(CardType::Usb);
    ASSERT_EQ(0u, cardsim_set_card_version(version));
    ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x100000, table.data(), 2048));
    const bool spi = version >= 56;
    ASSERT_EQ(0u, cardsim_flash_write(spi ? CARDSIM_FLASH_SPI : CARDSIM_FLASH_NAND,
                                      spi ? 0x120000 : (0x1C200 + 128) * 2048, ParaPage(list).data(), 2048));
    EXPECT_EQ(0u, cardsim_para_count());
    Commit(kCommitPara);
    EXPECT_EQ(std::tuple(list, 0u), std::tuple(List(), AreasOut()));
  }
  // Which commits and pages give the card a list.
  Fresh(CardType::Usb);
  const Page page = ParaPage({{5, 20, 20}});
  Page broken = ParaPage({{7, 1, 2}, {8, 3, 4}, {9, 5, 6}});
  broken[16 + 5] = 0xA4;  // the second packet's head: the third is not read either
  Page unmarked = ParaPage({{9, 9, 9}});
  unmarked[2047] = 0xFF;
  std::vector<Packet> full;  // 127 packets fill the page up to its marker
  for (uint32_t i = 0; i < 127; ++i) full.emplace_back(i + 200, i * 3, ~i);  // none the card applies
  struct Step { Page page; uint32_t commit, failAreas; std::vector<Packet> list; uint32_t out; } steps[] = {
      {page, 1, 0, {}, 0},  // commits of other areas
      {page, 0x10000002, 0, {}, 0},
      {page, 0x30000008, 0, {}, 0},
      {page, kCommitPara, 1u << 4, {}, 1u << 4},  // a commit the card fails
      {page, 0xF00000FF, 0, {{5, 20, 20}}, 0},
      {broken, kCommitPara, 0, {{7, 1, 2}}, 0},
      {unmarked, 0xF00000FF, 0, {{7, 1, 2}}, 0},  // a commit of every area keeps the list
      {unmarked, kCommitPara, 0, {}, 0},          // the area's own commit drops it, in effect
      {ParaPage(full), kCommitPara, 0, full, 0},
  };
  for (const auto& s : steps) {
    QZ_TRACE(testing::Message() << std::hex << s.commit << " " << s.failAreas);
    ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, s.page.data(), 2048));
    if (s.failAreas) cardsim_flash_commit_fail(s.failAreas, 1);
    Commit(s.commit);
    EXPECT_EQ(std::tuple(s.list, s.out), std::tuple(List(), AreasOut()));
  }
  ASSERT_EQ(0u, cardsim_reset());
  EXPECT_EQ(0u, cardsim_para_count());
}

}  // namespace
}  // namespace cardsim_test
