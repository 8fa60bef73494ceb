// The command channel and the link status word as the library's driver link relies on them.
#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

using CardsimLink = CardsimTest;

TEST_F(CardsimLink, ToggleNibbleAlternatesBetweenAAnd5OnEveryRead) {
  Open(CardType::Pcie);
  uint32_t prev = LinkState() >> 28;
  ASSERT_TRUE(prev == 0xA || prev == 0x5);
  for (int i = 0; i < 9; ++i) {
    if (i == 4) {  // and across a close and reopen
      Card().CloseDriver();
      Card().OpenDriver(0);
    }
    const uint32_t n = LinkState() >> 28;
    EXPECT_EQ(prev == 0xA ? 0x5u : 0xAu, n) << "read " << i;
    prev = n;
  }
}

TEST_F(CardsimLink, ReadyBitsStaySetAndPendingBitsFollowTheChannels) {
  Open(CardType::Pcie);
  EXPECT_EQ(0xCu, LinkState() & 0xF);
  ASSERT_EQ(0u, Send(33, 0, 0));
  EXPECT_EQ(0xEu, LinkState() & 0xF);  // reply pending
  ASSERT_EQ(0u, Receive().rc);
  EXPECT_EQ(0xCu, LinkState() & 0xF);
  cardsim_inject_stale_bulk(512);
  EXPECT_EQ(0xDu, LinkState() & 0xF);  // bulk data pending
  // Other request codes and short or missing buffers are refused.
  uint8_t out[4];
  EXPECT_NE(0u, Card().DeviceIoControl(0x222000, nullptr, 0, out, 4, nullptr));
  EXPECT_NE(0u, Card().DeviceIoControl(0x222004, nullptr, 0, out, 3, nullptr));
  EXPECT_NE(0u, Card().DeviceIoControl(0x222004, nullptr, 0, nullptr, 4, nullptr));
}

TEST_F(CardsimLink, FrameLengthsByCardType) {
  struct Case { CardType type; uint32_t length; bool goodHeader; uint32_t rc; uint32_t kind; } cases[] = {
      {CardType::Usb, 10, false, 0, CARDSIM_KIND_COMMAND},   {CardType::Usb, 12, false, 1, CARDSIM_KIND_REJECTED},
      {CardType::Usb, 16, true, 1, CARDSIM_KIND_REJECTED},   {CardType::Usb, 4, false, 1, CARDSIM_KIND_REJECTED},
      {CardType::Pcie, 12, false, 0, CARDSIM_KIND_COMMAND},  {CardType::Pcie, 16, true, 0, CARDSIM_KIND_COMMAND},
      {CardType::Pcie, 16, false, 1, CARDSIM_KIND_REJECTED}, {CardType::Pcie, 10, false, 1, CARDSIM_KIND_REJECTED},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(c.type);
    auto f = Frame(c.length, 33, 0, 0);
    if (c.length == 16 && !c.goodHeader) f[3] = 0x04;
    EXPECT_EQ(c.rc, Card().CmdSend(f.data(), c.length)) << c.length;
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(c.kind, e.kind) << c.length;
    EXPECT_EQ(c.length, e.length);
    EXPECT_EQ(0, std::memcmp(f.data(), e.bytes, std::min<size_t>(16, f.size())));
    EXPECT_EQ(c.rc == 0, State().reply_pending == 1);
  }
}

TEST_F(CardsimLink, HeaderFrameCarriesTheCommandAtOffsetFour) {
  Open(CardType::Pcie);
  const Reply r = Exchange(0x3022, 0x0F, 0x05, 16);  // outputs, sequence nibble 3
  ASSERT_EQ(0u, r.rc);
  EXPECT_EQ(0x3022u, r.echo);
  EXPECT_EQ(0x05u, r.r1);
  const cardsim_frame e = LastFrame();
  EXPECT_EQ(34u, e.command);
  EXPECT_EQ(3u, e.seq);
  EXPECT_EQ(0x0Fu, e.p1);
  EXPECT_EQ(0x05u, e.p2);
  EXPECT_EQ(uint32_t{CARDSIM_FRAME_HEADER}, e.flags);
}

TEST_F(CardsimLink, ReplyHasTheReplyLengthAndEchoesTheWordWithItsSequenceNibble) {
  for (CardType type : {CardType::Usb, CardType::Pcie}) {
    cardsim_reset();
    Open(type);
    const uint32_t len = type == CardType::Usb ? 10 : 12;
    for (uint32_t seq = 0; seq < 16; ++seq) {
      const uint32_t word = (seq << 12) | 81;
      ASSERT_EQ(0u, Send(word, 0, 0));
      uint8_t buf[16];
      std::memset(buf, 0xCC, sizeof buf);
      ASSERT_EQ(0u, Card().CmdRecv(buf, 16));
      EXPECT_EQ(word, uint32_t(buf[0] | (buf[1] << 8)));
      EXPECT_EQ(0x215u, Get32(buf + 2));  // hardware word of version 85
      EXPECT_EQ(0xCCu, buf[len]);         // nothing beyond the reply length
      if (len == 12) {
        EXPECT_EQ(0u, buf[10]);
        EXPECT_EQ(0u, buf[11]);
      }
      EXPECT_EQ(seq, LastFrame().seq);
    }
  }
}

TEST_F(CardsimLink, ASecondFrameReplacesAnUnreadReplyAndAReplyIsReadOnce) {
  Open(CardType::Usb);
  ASSERT_EQ(0u, Send(0x1021, 0, 0));
  ASSERT_EQ(0u, Send(0x2051, 0, 0));
  const Reply r = Receive();
  EXPECT_EQ(0u, r.rc);
  EXPECT_EQ(0x2051u, r.echo);
  EXPECT_NE(0u, Receive().rc);
}

TEST_F(CardsimLink, CommandWordsDecodeByTheCardsNumbering) {
  struct Case { uint32_t version, word, command, seq; bool legacy; } cases[] = {
      {63, 0x2055, 288, 0, true},    // legacy form of 288
      {63, 0x4A55, 330, 0, true},
      {63, 0x0055, 85, 0, false},    // plain 85 on an old card
      {63, 0x1051, 81, 1, false},    // numbered frame at open, before the version is known
      {63, 0x014E, 334, 0, false},   // fixed numbers stay plain
      {64, 0x2055, 85, 2, false},    // numbered card: status with sequence nibble 2
      {64, 0x0121, 289, 0, false},
      {85, 0xF3FF, 0x1FF, 15, false},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(CardType::Usb);
    cardsim_set_card_version(c.version);
    cardsim_set_run_state(1, 0, 0);
    const Reply r = Exchange(c.word);
    ASSERT_EQ(0u, r.rc);
    EXPECT_EQ(c.word, r.echo);
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(c.command, e.command) << std::hex << c.word;
    EXPECT_EQ(c.seq, e.seq) << std::hex << c.word;
    EXPECT_EQ(c.legacy, (e.flags & CARDSIM_FRAME_LEGACY) != 0) << std::hex << c.word;
    if (c.command == 85) {
      EXPECT_EQ(1u, r.r0) << std::hex << c.word;  // answered as the status
    }
  }
}

TEST_F(CardsimLink, UsbStatusRequestFollowsStartUpMode) {
  struct Case { uint32_t mode, polls; std::vector<std::pair<uint8_t, uint8_t>> answers; } cases[] = {
      {0, 0, {{'[', 0x51}, {'[', 0x51}}},
      {0, 2, {{'[', 0x10}, {'[', 0x10}, {'[', 0x51}}},
      {1, 0, {{0x00, 0x00}, {0x00, 0x00}}},
      {2, 0, std::vector<std::pair<uint8_t, uint8_t>>(25, {'[', 0x10})},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(CardType::Usb);
    cardsim_set_usb_startup(c.mode, c.polls);
    for (size_t i = 0; i < c.answers.size(); ++i) {
      uint8_t b[4] = {0xCC, 0xCC, 0xCC, 0xCC};
      ASSERT_EQ(0u, Card().SendComCmd(0, 0xDF, 0, 0, b, 4));
      EXPECT_EQ(c.answers[i].first, b[0]) << "mode " << c.mode << " poll " << i;
      EXPECT_EQ(c.answers[i].second, b[1]) << "mode " << c.mode << " poll " << i;
      EXPECT_EQ(0u, b[2]);
    }
  }
}

TEST_F(CardsimLink, UsbStatusShowsAStaleReplyUntilItIsDrained) {
  Open(CardType::Usb);
  cardsim_inject_stale_reply(0x5055, 1, 2);
  uint8_t b[4];
  ASSERT_EQ(0u, Card().SendComCmd(0, 0xDF, 0, 0, b, 4));
  EXPECT_EQ(0x50u, b[1]);
  uint8_t drain[512];
  ASSERT_EQ(0u, Card().CmdRecv(drain, 512));
  ASSERT_EQ(0u, Card().SendComCmd(0, 0xDF, 0, 0, b, 4));
  EXPECT_EQ(0x51u, b[1]);
}

TEST_F(CardsimLink, ControlRequestsBelongToTheirCardType) {
  struct Case { CardType type; uint32_t request, length; uint32_t rc; } cases[] = {
      {CardType::Usb, 0xDF, 4, 0},  {CardType::Usb, 0xDC, 2, 0},  {CardType::Usb, 0xA2, 1, 1},
      {CardType::Usb, 0xDC, 1, 1},  {CardType::Pcie, 0xDF, 4, 1}, {CardType::Pcie, 0xDC, 2, 1},
      {CardType::Pcie, 0xA2, 1, 0}, {CardType::Pcie, 0x99, 4, 1},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(c.type);
    uint8_t b[4] = {};
    EXPECT_EQ(c.rc, Card().SendComCmd(0, c.request, 0, 0, b, c.length)) << std::hex << c.request;
    const cardsim_frame e = LastFrame();
    EXPECT_EQ(uint32_t{CARDSIM_KIND_CONTROL}, e.kind);
    EXPECT_EQ(c.request, e.command);
  }
  uint8_t b[4];
  EXPECT_NE(0u, Card().SendComCmd(1, 0xA2, 0, 0, b, 1));  // direction is always 0
}

TEST_F(CardsimLink, SecondaryCardAnswerComesThroughTheBufferOrTheValueOn32Bit) {
  Open(CardType::Pcie);
  cardsim_set_secondary(1, 0);
  uint8_t answer = 0;
  ASSERT_EQ(0u, Card().SendComCmd(0, 0xA2, 0, 0, &answer, 1));
  EXPECT_EQ(1u, answer);
  cardsim_set_secondary(0, 0);
  answer = 7;
  ASSERT_EQ(0u, Card().SendComCmd(0, 0xA2, 0, 0, &answer, 1));
  EXPECT_EQ(0u, answer);
  cardsim_set_secondary(1, 0);
  answer = 0;
  const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&answer));
  if constexpr (sizeof(void*) == 4) {
    ASSERT_EQ(0u, Card().SendComCmd(0, 0xA2, address, 0, nullptr, 0));
    EXPECT_EQ(1u, answer);
  } else {
    EXPECT_NE(0u, Card().SendComCmd(0, 0xA2, address, 0, nullptr, 0));
    EXPECT_EQ(0u, answer);
  }
}

}  // namespace
}  // namespace cardsim_test
