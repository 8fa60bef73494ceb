// The card's encoder: the counter and its range, the crossings its position buffer keeps and what
// commands 100 to 103 answer.
#include <tuple>
#include <vector>

#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

constexpr uint32_t kEncoder = 100, kSetPos = 101, kPosBuf = 102, kPosBufSwitch = 103, kRange = 99;
using Entry = std::pair<uint32_t, uint32_t>;  // status, position

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

TEST_F(CardsimEncoder, KeepsEveryArrivalAtAQuarterAndAtHalfTheRange) {
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
}

TEST_F(CardsimEncoder, TheBufferKeepsNothingWhileOffAndOverflowsWhenFull) {
  ASSERT_EQ(0u, Exchange(kRange, 0, 1000).rc);
  cardsim_encoder_move(300);
  EXPECT_EQ(Drain(), (std::vector<Entry>{{0x200, 300}}));
  Exchange(kPosBufSwitch, 1, 0);
  cardsim_encoder_move(100000);  // 200 crossings, 64 kept
  EXPECT_EQ(Encoder().entries, 64u);
  EXPECT_EQ(Encoder().overflow, 1u);
  const std::vector<Entry> answers = Drain();
  ASSERT_EQ(answers.size(), 65u);
  EXPECT_EQ(answers[0], (Entry{0x100, 500}));
  EXPECT_EQ(answers[1], (Entry{0, 250}));
  EXPECT_EQ(answers[63], (Entry{0, 250}));
  EXPECT_EQ(answers[64], (Entry{1, 300}));
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
  struct Case {
    uint32_t range;     // command 99 p2
    uint32_t setPos;    // command 101 p2
    uint32_t simPos;    // cardsim_set_encoder
    uint32_t afterSet, afterSim;
  } cases[] = {
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
