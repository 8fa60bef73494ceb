// The card's galvanometer during a run: position words of both forms into the position trace, position_at.
#include <tuple>
#include <vector>

#include "support/trace.h"
#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

constexpr uint32_t X = CARDSIM_POS_X, Y = CARDSIM_POS_Y, Z = CARDSIM_POS_Z, LIT = CARDSIM_POS_LIT,
                   JUMP = CARDSIM_POS_JUMP, B21 = CARDSIM_POS_21BIT;

class CardsimGalvo : public CardsimStream {
 protected:
  static void Run(const std::vector<Timed>& words) { CardsimStream::Run(words, CardType::Usb, 1); }
  static cardsim_galvo Galvo() {
    cardsim_galvo g{};
    EXPECT_EQ(0u, cardsim_galvo_state(&g));
    return g;
  }
};

void ExpectPositions(const std::vector<cardsim_position>& want) {
  ExpectRecords(want, ReadAll<cardsim_position>(cardsim_position_count(), cardsim_position_get),
                [](const cardsim_position& p) {
                  return std::tuple(p.time_us, p.x, p.y, p.z, p.flags, p.word, p.words);
                });
}

TEST_F(CardsimGalvo, SixteenBitWordsIntoPositionsAtTheirTimes) {
  const std::vector<Timed> words = {
      {10, 0x01008000}, {10, 0x01014000},  // a lit step
      {20, 0x0104FFFF}, {20, 0x01050000},  // unlit
      {30, 0x01081234}, {30, 0x01095678},  // a jump
      {35, 0x010C0001},                    // an unlit jump of X alone
      {40, 0x01020100}, {50, 0x01060200},  // Z lit, unlit
      {60, 0x01030001}, {60, 0x010A0001},  // Z with Y or with a jump: no position word
      {60, 0x01200010}, {60, 0x01700000},  // laser-module program words
      {70, kEnd},
  };
  Run(words);
  ExpectPositions({{10, 0x8000, 0x4000, 0, X | Y | LIT, 0x01014000, 2},
                   {20, 0xFFFF, 0, 0, X | Y, 0x01050000, 2},
                   {30, 0x1234, 0x5678, 0, X | Y | LIT | JUMP, 0x01095678, 2},
                   {35, 1, 0x5678, 0, X | JUMP, 0x010C0001, 1},
                   {40, 1, 0x5678, 0x100, Z | LIT, 0x01020100, 1},
                   {50, 1, 0x5678, 0x200, Z, 0x01060200, 1}});
  const cardsim_galvo g = Galvo();
  EXPECT_EQ(std::tuple(16u, 0x01008000u, 9u, 6u, 0u, uint64_t{50}, 1u, 0x5678u, 0x200u),
            std::tuple(g.form, g.form_word, g.words, g.position_count, g.dropped, g.last_time_us, g.x, g.y, g.z));
}

TEST_F(CardsimGalvo, TheRunsFirstGalvanometerOrCorrectionWordFixesTheForm) {
  struct Case { const char* what; std::vector<Timed> words; uint32_t form; std::vector<cardsim_position> positions; }
  cases[] = {
      {"21 bit, lit",
       {{1, 0x04000002}, {10, 0x01100000}, {10, 0x015FFFFF}, {20, 0x01200005}, {20, 0x01600006},
        {30, 0x01800007}, {40, 0x01A00000}, {50, 0x04000001}, {60, 0x01000009}},
       21,
       {{10, 0x100000, 0x1FFFFF, 0, X | Y | LIT | B21, 0x015FFFFF, 2},
        {20, 5, 6, 0, X | Y | LIT | JUMP | B21, 0x01600006, 2},
        {30, 5, 6, 7, Z | LIT | B21, 0x01800007, 1},
        {60, 9, 6, 7, X | LIT | B21, 0x01000009, 1}}},
      {"21 bit, unlit",
       {{1, 0x04000001}, {10, 0x01010000}, {10, 0x01400001}},
       21,
       {{10, 0x10000, 1, 0, X | Y | B21, 0x01400001, 2}}},
      {"a galvanometer word first: 16 bit",
       {{1, 0x01000001}, {2, 0x04000000}, {10, 0x01010002}, {10, 0x01400003}},
       16,
       {{1, 1, 0, 0, X | LIT, 0x01000001, 1}, {10, 1, 2, 0, Y | LIT, 0x01010002, 1}}},  // 0x0140 is no 16-bit word
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.what);
    cardsim_reset();
    std::vector<Timed> words = c.words;
    words.push_back({100, kEnd});
    Run(words);
    EXPECT_EQ(std::tuple(c.form, c.words[0].word), std::tuple(Galvo().form, Galvo().form_word)) << c.what;
    ExpectPositions(c.positions);
  }
}

TEST_F(CardsimGalvo, PositionAtAnswersWhereTheMirrorsWereAndWhetherALaserWasOn) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  Run({{10, 0x01001000}, {10, 0x01011000},
       {20, 0x11000030}, {20, 0x12000030}, {20, 0x16000001},  // laser 0 on
       {30, 0x01002000}, {30, 0x01012000},
       {35, 0x1C000001},                                      // laser 1 on
       {40, 0x16000000},                                      // laser 0 off
       {50, 0x01003000}, {60, kEnd}});
  cardsim_mirror m{};
  ASSERT_EQ(0u, cardsim_step_us(45));
  EXPECT_EQ(1u, cardsim_position_at(46, &m));  // not run yet
  ASSERT_EQ(0u, cardsim_position_at(45, &m));
  EXPECT_EQ(2u, m.laser_on);  // laser 1 runs on while the card is there
  ASSERT_EQ(0u, cardsim_step_us(20));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  struct Case { uint64_t t; uint32_t x, y, index, laserOn; uint64_t moved; } cases[] = {
      {0, 0, 0, 0xFFFFFFFF, 0, 0},  // before the first position word
      {10, 0x1000, 0x1000, 0, 0, 10},
      {19, 0x1000, 0x1000, 0, 0, 10},
      {20, 0x1000, 0x1000, 0, 1, 10},
      {30, 0x2000, 0x2000, 1, 1, 30},
      {35, 0x2000, 0x2000, 1, 3, 30},
      {39, 0x2000, 0x2000, 1, 3, 30},
      {40, 0x2000, 0x2000, 1, 2, 30},   // [on, off): off at the stop word's time
      {55, 0x3000, 0x2000, 2, 2, 50},
      {60, 0x3000, 0x2000, 2, 0, 50},   // the end of the run stops laser 1
  };
  for (const auto& c : cases) {
    ASSERT_EQ(0u, cardsim_position_at(c.t, &m)) << c.t;
    EXPECT_EQ(std::tuple(c.t, c.moved, c.x, c.y, c.index, c.laserOn),
              std::tuple(m.time_us, m.moved_us, m.x, m.y, m.index, m.laser_on))
        << c.t;
  }
  EXPECT_EQ(1u, cardsim_position_at(61, &m));
  EXPECT_EQ(1u, cardsim_position_at(0, nullptr));
  // The next buffer open starts the galvanometer over.
  ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
  EXPECT_EQ(std::tuple(0u, 0u, 0u), std::tuple(cardsim_position_count(), Galvo().x, Galvo().form));
}

}  // namespace
}  // namespace cardsim_test
