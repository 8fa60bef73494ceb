// What the card answers, to the bit: status, alarms, inputs and outputs, hardware words, the link, the encoder.
#include <tuple>
#include <vector>

#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

using CardsimCard = CardsimTest;

TEST_F(CardsimCard, StatusReplyCarriesEveryField) {
  struct Case { uint32_t run, task, sub, alarms, laser, flags, offline, r0, r1; } cases[] = {
      {0, 0, 0, 0, 0, 0, 1, 0, 1u << 26},
      {2, 9, 2, 0, 0, 0x8000, 0, 0x2, (9u << 21) | (2u << 16) | 0x8000},
      {4, 31, 31, 0, 0, 0, 0, 0x4, (31u << 21) | (31u << 16)},
      {0, 0, 0, (1u << 10) | (1u << 21) | (1u << 4) | (1u << 31), 0, 0, 0, (1u << 10) | (1u << 21) | (1u << 4) | (1u << 31), 0},
      {0, 0, 0, 0, 17, 0, 0, 1u << 7, 8u << 27},  // the laser alarm
      {0, 0, 0, 0x87, 0, 0, 0, 0, 0},             // run-state and laser bits are no alarm bits
  };
  for (const auto& c : cases) {
    Fresh(CardType::Pcie);
    cardsim_set_run_state(c.run, c.task, c.sub);
    cardsim_set_alarms(c.alarms, c.laser);
    cardsim_set_status_flags(c.flags);
    ASSERT_EQ(0u, Exchange(0x1052, c.offline, 0x20).rc);
    const auto s = Status();
    EXPECT_EQ(std::tuple(c.r0, c.r1, c.r0, c.r1), std::tuple(s.first, s.second, State().status_r0, State().status_r1))
        << std::hex << c.r0 << " " << c.r1;
  }
}

// The alarm clear on the rising value leaves the sticky alarms; inputs, outputs and analogue values.
TEST_F(CardsimCard, AlarmClearInputsOutputsAndAnalogueValues) {
  Open(CardType::Usb);
  const uint32_t alarms = (1u << 10) | (1u << 14) | (1u << 20) | (1u << 21) | (1u << 30) | (1u << 31);
  cardsim_set_alarms(alarms, 17);
  ASSERT_EQ(0u, Exchange(82, 0, 0x400).rc);
  EXPECT_EQ(alarms, State().alarm_bits);
  ASSERT_EQ(0u, Exchange(82, 1, 0x400).rc);
  EXPECT_EQ((1u << 14) | (1u << 20) | (1u << 30), State().alarm_bits);
  EXPECT_EQ(0u, State().laser_alarm);
  cardsim_set_sticky(0, 0);
  ASSERT_EQ(0u, Exchange(82, 1, 0x400).rc);
  EXPECT_EQ(0u, State().alarm_bits);
  // Inputs, outputs and analogue values.
  cardsim_set_inputs(0xA5A5);
  EXPECT_EQ(0xA5A5u, Exchange(33).r0);
  struct Step { uint32_t mask, value, outputs; } steps[] = {
      {0x0F, 0x05, 0x05}, {0xF0, 0xFF, 0xF5}, {0x01, 0x00, 0xF4}, {0, 0, 0xF4}, {0x100, 0x1FF, 0x1F4}};
  for (const auto& s : steps) {
    const uint32_t answer = Exchange(34, s.mask, s.value).r1;
    EXPECT_EQ(std::tuple(s.outputs, s.outputs), std::tuple(answer, State().outputs)) << std::hex << s.mask;
  }
  ASSERT_EQ(0u, Exchange(35, 0, 0x1ABC).rc);  // 12 bits kept
  ASSERT_EQ(0u, Exchange(35, 1, 0x123).rc);
  cardsim_set_ad(0x7FF);
  const Reply r = Exchange(39);
  EXPECT_EQ(std::tuple(0x7FFu, 0xABCu, 0x123u), std::tuple(r.r0 & 0xFFF, (r.r1 >> 8) & 0xFFF, r.r1 >> 20));
}

TEST_F(CardsimCard, HardwareWordCarriesTheCardVersionInBits0To4And8To10AndTheLinkItsHandshake) {
  Open(CardType::Pcie);
  cardsim_set_hw_words(0x02100000, 0x00123454, 0x11, 0x22);
  struct Case { uint32_t version, word; } cases[] = {
      {0x30, 0x02100110}, {63, 0x0210011F}, {64, 0x02100200}, {85, 0x02100215}, {96, 0x02100300}, {255, 0x0210071F},
  };
  for (const auto& c : cases) {
    cardsim_set_card_version(c.version);
    const Reply r = Exchange(81);
    EXPECT_EQ(std::tuple(c.word, 0x00123454u), std::tuple(r.r0, r.r1)) << c.version;
  }
  const Reply r = Exchange(84, 1, 0);
  EXPECT_EQ(std::tuple(0x11u, 0x22u), std::tuple(r.r0, r.r1));
  // A handshake step out of order breaks the link; the latch words fill the link's status word.
  cardsim_set_link_latches(0xC, 0x2AB);
  EXPECT_EQ(0u, (LinkState() >> 16) & 0x3FF);
  ASSERT_EQ(0u, LinkWord(0x07000000));
  EXPECT_EQ(0xDu, (LinkState() >> 16) & 0x3FF);  // not linked: slave link failed
  ASSERT_EQ(0u, LinkWord(0x07000005));
  EXPECT_EQ(0x2ABu, (LinkState() >> 16) & 0x3FF);

  cardsim_set_secondary(1, 0);
  cardsim_set_link_fields(2, 5, 0x60);
  ASSERT_EQ(0u, LinkWord(0x04000200));
  for (uint32_t w : {0x01000001u, 0x01000005u}) ASSERT_EQ(0u, LinkWord(w));
  EXPECT_EQ(0xFFu, State().handshake_state);
  EXPECT_EQ(0u, (LinkState() >> 12) & 3);
  for (uint32_t w : {0x01000001u, 0x01000004u, 0x01000005u, 0x01000002u, 0x01000000u}) ASSERT_EQ(0u, LinkWord(w));
  const uint32_t st = LinkState();
  EXPECT_EQ(std::tuple(2u, 3u, 5u, 0x60u), std::tuple((st >> 14) & 3, (st >> 12) & 3, (st >> 9) & 7, st & 0x60));
  ASSERT_EQ(0u, LinkWord(0x07000000));
  EXPECT_EQ(0xCu, (LinkState() >> 16) & 0x3FF);  // linked now: the reasons alone
}

constexpr uint32_t kEncoder = 100, kSetPos = 101, kPosBuf = 102, kPosBufSwitch = 103, kRange = 99;
using Entry = std::pair<uint32_t, uint32_t>;  // status, position

// The encoder: the counter and its range, the crossings its position buffer keeps, commands 99-103.
class CardsimEncoder : public CardsimTest {
 protected:
  void SetUp() override {
    CardsimTest::SetUp();
    Open(CardType::Usb);
  }
  static cardsim_encoder Encoder() {
    cardsim_encoder e{};
    EXPECT_EQ(0u, cardsim_get_encoder(&e));
    return e;
  }
  // Command 102 until it answers the counter itself (bit 0), that answer included.
  static std::vector<Entry> Drain() {
    std::vector<Entry> out;
    for (int i = 0; i < 100; ++i) {
      const Reply r = Exchange(kPosBuf);
      out.emplace_back(r.r0, r.r1);
      if (r.r0 & 0x201) break;
    }
    return out;
  }
};

TEST_F(CardsimEncoder, KeepsEveryArrivalAtAQuarterAndAtHalfTheRangeInABufferThatOverflowsWhenFull) {
  ASSERT_EQ(0u, Exchange(kRange, 0, 1000).rc);
  ASSERT_EQ(0u, Exchange(kPosBufSwitch, 1, 0).rc);
  struct Move {
    int32_t pulses;
    std::vector<Entry> answers;  // through the first answer of the counter itself
  } moves[] = {
      {249, {{1, 249}}},
      {1, {{0, 250}, {1, 250}}},
      {0, {{1, 250}}},
      {1250, {{0, 500}, {0, 250}, {0, 500}, {1, 500}}},  // up across the wrap
      {-1, {{3, 499}}},
      {-249, {{2, 250}, {3, 250}}},
      {-1250, {{2, 500}, {2, 250}, {3, 0}}},  // down across the wrap
      {-500, {{2, 500}, {3, 500}}},
  };
  for (const Move& m : moves) {
    ASSERT_EQ(0u, cardsim_encoder_move(m.pulses));
    EXPECT_EQ(Drain(), m.answers) << m.pulses;
  }
  // Counting against the pulses.
  ASSERT_EQ(0u, Exchange(kRange, 1, 1000).rc);
  cardsim_encoder_move(100);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{3, 400}}));
  cardsim_encoder_move(-150);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{0, 500}, {1, 550}}));
  // The buffer keeps nothing while off and overflows when full.
  Fresh(CardType::Usb);
  ASSERT_EQ(0u, Exchange(kRange, 0, 1000).rc);
  cardsim_encoder_move(300);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{0x200, 300}}));
  Exchange(kPosBufSwitch, 1, 0);
  cardsim_encoder_move(100000);  // 200 crossings, 64 kept
  EXPECT_EQ(std::tuple(64u, 1u), std::tuple(Encoder().entries, Encoder().overflow));
  const std::vector<Entry> answers = Drain();
  ASSERT_EQ(answers.size(), 65u);
  EXPECT_EQ(std::tuple(Entry{0x100, 500}, Entry{0, 250}, Entry{0, 250}, Entry{1, 300}),
            std::tuple(answers[0], answers[1], answers[63], answers[64]));
  // Each switch empties the buffer.
  cardsim_encoder_move(250);
  Exchange(kPosBufSwitch, 1, 0);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{1, 550}}));
  cardsim_encoder_move(250);
  Exchange(kPosBufSwitch, 1, 1);
  EXPECT_EQ(Encoder().entries, 0u);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{0x200, 800}}));
}

TEST_F(CardsimEncoder, CounterPeriodAndRangeThroughTheCommands) {
  // Command 99's p2, command 101's p2, the card's own position; what command 100 answers after each.
  struct Case { uint32_t range, setPos, simPos, afterSet, afterSim; } cases[] = {
      {1000, 0xFFFFFFFF, 1234, 999, 234},
      {0x1000001, 0x1000005, 0x1FFFFFF, 5, 0xFFFFFF},  // beyond 24 bits: the full counter
  };
  for (const Case& c : cases) {
    Exchange(kRange, 0, c.range);
    Exchange(kSetPos, 0, c.setPos);
    const Reply r = Exchange(kEncoder, 0, 0);
    EXPECT_EQ(std::make_tuple(r.r0, r.r1), std::make_tuple(0u, c.afterSet)) << c.range;
    cardsim_set_encoder(c.simPos, 9600);
    EXPECT_EQ(Exchange(kEncoder, 0, 0).r1, c.afterSim) << c.range;
    EXPECT_EQ(Exchange(kEncoder, 0, 1).r1, 9600u);
  }
}

}  // namespace
}  // namespace cardsim_test
