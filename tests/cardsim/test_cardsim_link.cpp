// The driver entry points: what each card type refuses, the card index, command numbering, the reply channel.
#include <tuple>

#include "support/trace.h"
#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

using CardsimLink = CardsimTest;

TEST_F(CardsimLink, FramesByCardTypeAreAnsweredOrRefusedAndLogged) {
  struct Case { CardType type; uint32_t length; bool goodHeader; uint32_t rc; } cases[] = {
      {CardType::Usb, 10, false, 0},  {CardType::Usb, 12, false, 1},  {CardType::Usb, 16, true, 1},
      {CardType::Usb, 4, false, 1},   {CardType::Pcie, 12, false, 0}, {CardType::Pcie, 16, true, 0},
      {CardType::Pcie, 16, false, 1}, {CardType::Pcie, 10, false, 1},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << "type " << static_cast<int>(c.type) << " length " << c.length);
    Fresh(c.type);
    auto f = Frame(c.length, 0x3022, 0x0F, 0x05);  // outputs, sequence nibble 3
    if (c.length == 16 && !c.goodHeader) f[3] = 0x04;
    EXPECT_EQ(c.rc, Card().CmdSend(f.data(), c.length));
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(c.rc ? uint32_t{CARDSIM_KIND_REJECTED} : uint32_t{CARDSIM_KIND_COMMAND}, e.kind);
    EXPECT_EQ(c.length, e.length);
    EXPECT_EQ(0, std::memcmp(f.data(), e.bytes, f.size()));
    EXPECT_EQ(c.rc == 0, State().reply_pending == 1);
    if (c.rc) continue;
    EXPECT_EQ(std::tuple(34u, 3u, 0x0Fu, 0x05u, c.length == 16 ? uint32_t{CARDSIM_FRAME_HEADER} : 0u),
              std::tuple(e.command, e.seq, e.p1, e.p2, e.flags));
    // The reply has the card type's length and echoes the word.
    uint8_t buf[16];
    std::memset(buf, 0xCC, sizeof buf);
    ASSERT_EQ(0u, Card().CmdRecv(buf, 16));
    EXPECT_EQ(std::tuple(0x3022u, 0x05u, 0xCCu),
              std::tuple(uint32_t(buf[0] | (buf[1] << 8)), Get32(buf + 6),
                         uint32_t{buf[c.type == CardType::Usb ? 10 : 12]}));
  }
}

TEST_F(CardsimLink, LinkReadsControlRequestsAndOpensTheCardDoesNotKnowAreRefused) {
  Open(CardType::Pcie);
  uint8_t out[4];
  EXPECT_EQ(0u, Card().DeviceIoControl(0x222004, nullptr, 0, out, 4, nullptr));
  EXPECT_NE(0u, Card().DeviceIoControl(0x222000, nullptr, 0, out, 4, nullptr));
  EXPECT_NE(0u, Card().DeviceIoControl(0x222004, nullptr, 0, out, 3, nullptr));
  EXPECT_NE(0u, Card().DeviceIoControl(0x222004, nullptr, 0, nullptr, 4, nullptr));
  struct Case { CardType type; uint32_t direction, request, length, rc; } cases[] = {
      {CardType::Usb, 0, 0xDF, 4, 0},  {CardType::Usb, 0, 0xDC, 2, 0},  {CardType::Usb, 0, 0xA2, 1, 1},
      {CardType::Usb, 0, 0xDC, 1, 1},  {CardType::Pcie, 0, 0xDF, 4, 1}, {CardType::Pcie, 0, 0xDC, 2, 1},
      {CardType::Pcie, 0, 0xA2, 1, 0}, {CardType::Pcie, 0, 0x99, 4, 1}, {CardType::Pcie, 1, 0xA2, 1, 1},
  };
  for (const auto& c : cases) {
    Fresh(c.type);
    uint8_t b[4] = {};
    EXPECT_EQ(c.rc, Card().SendComCmd(c.direction, c.request, 0, 0, b, c.length)) << std::hex << c.request;
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(uint32_t{CARDSIM_KIND_CONTROL}, e.kind);
    EXPECT_EQ(c.request, e.command);
  }
  // The open refuses a card index beyond the cards reported.
  struct OpenCase { uint32_t present, index, rc; } opens[] = {
      {1, 0, 0}, {1, 1, 1}, {1, 2, 1}, {1, 0xFFFF, 1}, {0, 0, 1}, {3, 2, 0}, {3, 3, 1},
  };
  for (const auto& c : opens) {
    QZ_TRACE(testing::Message() << c.present << " cards, index " << c.index);
    cardsim_reset();
    ASSERT_EQ(0u, cardsim_set_present(c.present));
    uint32_t count = 9, first = 9;
    ASSERT_EQ(0u, Card().GetCardsNo(&count, &first, 88));
    EXPECT_EQ(std::tuple(c.present, 0u), std::tuple(count, first));
    EXPECT_EQ(c.rc, Card().OpenDriver(c.index));
    const cardsim_state s = State();
    const uint32_t opened = c.rc == 0 ? 1u : 0u;
    EXPECT_EQ(std::tuple(opened, opened, opened ? c.index : 0u), std::tuple(s.open, s.open_count, s.last_index));
    EXPECT_EQ(c.rc, Card().CmdSend(Frame(10, 33, 0, 0).data(), 10));  // nothing opened answers nothing
  }
}

TEST_F(CardsimLink, CommandWordsDecodeByTheCardsNumbering) {
  struct Case { uint32_t version, word, command, seq; bool legacy; } cases[] = {
      {63, 0x2055, 288, 0, true},    // legacy form of 288
      {63, 0x4A55, 330, 0, true},
      {63, 0x0055, 85, 0, false},    // plain 85 on an old card
      {63, 0x1051, 81, 1, false},    // numbered frame at open, before the version is known
      {63, 0x014E, 334, 0, false},   // fixed numbers stay plain
      {64, 0x0121, 289, 0, false},
      {85, 0xF3FF, 0x1FF, 15, false},
  };
  for (const auto& c : cases) {
    Fresh(CardType::Usb);
    cardsim_set_card_version(c.version);
    cardsim_set_run_state(1, 0, 0);
    const Reply r = Exchange(c.word);
    ASSERT_EQ(0u, r.rc);
    EXPECT_EQ(c.word, r.echo);
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(std::tuple(c.command, c.seq, c.legacy),
              std::tuple(e.command, e.seq, (e.flags & CARDSIM_FRAME_LEGACY) != 0)) << std::hex << c.word;
    EXPECT_EQ(c.command == 85 ? 1u : r.r0, r.r0) << std::hex << c.word;  // 85 is answered as the status
  }
}

}  // namespace
}  // namespace cardsim_test
