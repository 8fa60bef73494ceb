// The card's parameters from the card's side: the page it loads at a commit (serial flash or NAND
// through the bad-block table), the packets it decodes and where the list ends, pages it refuses,
// and what it applies (flags of command 82, the run start threshold of command 20).
#include <array>
#include <tuple>
#include <vector>

#include "cardsim_fixture.h"
#include "support/trace.h"

namespace cardsim_test {
namespace {

using Page = std::array<uint8_t, 2048>;
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

class CardsimPara : public CardsimTest {
 protected:
  void SetUp() override {
    CardsimTest::SetUp();
    Open(CardType::Usb);
  }
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

TEST_F(CardsimPara, TheCardLoadsItsPageFromTheFlashOfItsVersion) {
  const std::vector<Packet> list = {{1, 0x3E802C0, 10}, {0x1FF, 0xFFFFFFFF, 0}, {20, 0, 23}};
  const Page page = ParaPage(list);
  struct Case { uint32_t version, chip, address; std::vector<uint32_t> bad; } cases[] = {
      {85, CARDSIM_FLASH_SPI, 0x120000, {}},
      {56, CARDSIM_FLASH_SPI, 0x120000, {}},
      {55, CARDSIM_FLASH_NAND, 0x1C200 * 2048, {}},
      // Blocks 0x708 and 0x709 bad: the page lies at the same place two blocks on.
      {55, CARDSIM_FLASH_NAND, (0x1C200 + 128) * 2048, {0x708, 0x709}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.version << " " << std::hex << c.address);
    ASSERT_EQ(0u, cardsim_reset());
    Open(CardType::Usb);
    ASSERT_EQ(0u, cardsim_set_card_version(c.version));
    if (!c.bad.empty()) {
      Page table{};
      for (uint32_t b : c.bad) table[1792 + b / 8] |= static_cast<uint8_t>(1u << (b % 8));
      table[2047] = 0xA5;
      ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x100000, table.data(), 2048));
    }
    ASSERT_EQ(0u, cardsim_flash_write(c.chip, c.address, page.data(), 2048));
    EXPECT_EQ(0u, cardsim_para_count());
    Commit(kCommitPara);
    EXPECT_EQ(list, List());
    EXPECT_EQ(0u, AreasOut());
  }
}

TEST_F(CardsimPara, TheListEndsAtThePacketWithoutItsHeadAndAPageWithoutItsMarkerGivesNone) {
  Page page = ParaPage({{7, 1, 2}, {8, 3, 4}, {9, 5, 6}});
  page[16 * 1 + 5] = 0xA4;  // the second packet's head is broken: the third is not read either
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, page.data(), 2048));
  Commit(kCommitPara);
  EXPECT_EQ((std::vector<Packet>{{7, 1, 2}}), List());

  // 127 packets fill the page up to its marker.
  std::vector<Packet> full;
  for (uint32_t i = 0; i < 127; ++i) full.emplace_back(i, i * 3, ~i);
  page = ParaPage(full);
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, page.data(), 2048));
  Commit(kCommitPara);
  EXPECT_EQ(full, List());

  // Without the marker: no list, and the commit still takes the area into effect. A commit of every
  // area keeps the list the card has; the area's own commit drops it.
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, ParaPage({{7, 1, 2}}).data(), 2048));
  Commit(kCommitPara);
  page[2047] = 0xFF;
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, page.data(), 2048));
  Commit(0xF00000FF);
  EXPECT_EQ((std::vector<Packet>{{7, 1, 2}}), List());
  Commit(kCommitPara);
  EXPECT_TRUE(List().empty());
  EXPECT_EQ(0u, AreasOut());
}

TEST_F(CardsimPara, OnlyCommitsOfTheAreaThatItTakesLoadTheList) {
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, ParaPage({{5, 20, 20}}).data(), 2048));
  for (uint32_t word : {1u, 0x10000002u, 0x30000008u, 0x60000040u}) Commit(word);
  EXPECT_TRUE(List().empty());
  // A commit the card fails keeps the old list.
  cardsim_flash_commit_fail(1u << 4, 1);
  Commit(kCommitPara);
  EXPECT_TRUE(List().empty());
  EXPECT_EQ(1u << 4, AreasOut());
  Commit(0xF00000FF);
  EXPECT_EQ((std::vector<Packet>{{5, 20, 20}}), List());
  ASSERT_EQ(0u, cardsim_reset());
  EXPECT_EQ(0u, cardsim_para_count());
  cardsim_para_packet p{};
  EXPECT_EQ(1u, cardsim_para_get(0, &p));
  EXPECT_EQ(1u, cardsim_para_get(0, nullptr));
}

TEST_F(CardsimPara, TheCardAppliesItsFlagsAndItsRunStartThreshold) {
  const Page page = ParaPage({{82, 1, 0x2000}, {82, 5, 0x10}, {20, 0, 0x117}, {82, 0, 0x100000}});
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x120000, page.data(), 2048));
  Commit(kCommitPara);
  struct Case { uint32_t mask, value, count; } cases[] = {{0x2000, 1, 1}, {0x10, 5, 1}, {0x100000, 0, 1}, {0x200, 0, 0}};
  for (const auto& c : cases) {
    uint32_t value = 99, count = 99;
    ASSERT_EQ(0u, cardsim_get_flag(c.mask, &value, &count));
    EXPECT_EQ(std::make_pair(c.value, c.count), std::make_pair(value, count)) << std::hex << c.mask;
  }
  EXPECT_EQ(5u, State().debug);  // flag 0x10 is the card's debug records
  cardsim_fifo f{};
  ASSERT_EQ(0u, cardsim_get_fifo(&f));
  EXPECT_EQ(0x17u * 0x10000u, f.start_threshold);  // the low 8 bits, in 64 KiB
}

}  // namespace
}  // namespace cardsim_test
