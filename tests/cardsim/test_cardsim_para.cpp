// The card's parameters from the card's side: the page it loads at a commit (serial flash or NAND
// through the bad-block table), the packets it decodes and where the list ends, and pages and
// commits that give it no list. (What it applies is seen by the end-to-end test of the upload.)
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

TEST_F(CardsimPara, WhichCommitsAndPagesGiveTheCardAList) {
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
    EXPECT_EQ(s.list, List());
    EXPECT_EQ(s.out, AreasOut());
  }
  ASSERT_EQ(0u, cardsim_reset());
  EXPECT_EQ(0u, cardsim_para_count());
}

}  // namespace
}  // namespace cardsim_test
