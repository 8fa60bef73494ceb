// The encoder fly exports against the simulated card's encoder: commands, answers, refusals, the fly
// parameters, and the travel followed across the counter's wraps (a range below 10: FlyEncodeTest).

#include <cmath>
#include <limits>

#include "e2e/card_host.h"

namespace {

class FlyHost : public qztest::CardHost {
 protected:
  // QZ_GetEncBufPosAbs until the card answers its counter itself (status bit 0) or has nothing.
  double TravelMm() {
    uint32_t status = 0;
    double mm = std::nan("");
    for (int i = 0; i < 100; ++i) {
      EXPECT_EQ(QZ(GetEncBufPosAbs)(&status, &mm), 0u);
      if (status & 0x201) break;
    }
    return mm;
  }
};

TEST_F(FlyHost, RefusalsTheRotationCentreAndTheQueries) {
  Stage(0);
  uint32_t u = 0;
  uint16_t c = 0;
  double d = 0, cx = 0, cy = 0;
  for (uint32_t rc : {QZ(SetFlyEncInitPos)(5), QZ(GetEncPos)(&u), QZ(GetEncVel)(&d), QZ(GetBufferCnt)(&u, &c),
                      QZ(SetFlyPara)(), QZ(SetOffsetCompensation)(1, 1), QZ(GetEncPosBuf2)(&u, &u),
                      QZ(GetEncPosBuf)(&u, &u), QZ(GetEncBufPosAbs)(&u, &d), QZ(SetEncPosBufSwitch)(1)})
    EXPECT_EQ(rc, 1u);
  // The rotation centre of two points needs no card.
  struct Case { double x1, y1, x2, y2, angle, cx, cy; } cases[] = {
      {1, 0, 0, 1, 90, 0, 0},
      {5, 3, 2.0 + 3 * 0.8660254037844387 - 4 * 0.5, -1.0 + 3 * 0.5 + 4 * 0.8660254037844387, 30, 2, -1},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(QZ(GetRotateCent)(k.x1, k.y1, k.x2, k.y2, k.angle, &cx, &cy), 0u);
    EXPECT_NEAR(cx, k.cx, 1e-9) << k.angle;
    EXPECT_NEAR(cy, k.cy, 1e-9) << k.angle;
  }
  EXPECT_EQ(QZ(GetRotateCent)(1, 2, 1, 2, 0, &cx, &cy), 0u);
  EXPECT_FALSE(std::isfinite(cx) && std::isfinite(cy));
  // With a card: null out-pointers, offsets not finite or beyond 32 bits of 1/8192: 2, nothing sent.
  ASSERT_EQ(InitCard(), 0u);
  cardsim_log_clear_();
  for (uint32_t rc : {QZ(GetEncPos)(nullptr), QZ(GetEncVel)(nullptr), QZ(GetBufferCnt)(nullptr, &c),
                      QZ(GetBufferCnt)(&u, nullptr), QZ(GetEncPosBuf2)(nullptr, &u), QZ(GetEncPosBuf2)(&u, nullptr),
                      QZ(GetEncPosBuf)(nullptr, &u), QZ(GetEncBufPosAbs)(&u, nullptr), QZ(GetEncBufPosAbs)(nullptr, &d),
                      QZ(GetRotateCent)(1, 0, 0, 1, 90, nullptr, &d), QZ(GetRotateCent)(1, 0, 0, 1, 90, &d, nullptr)})
    EXPECT_EQ(rc, 2u);
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {std::nan(""), inf, -inf, 262144.0, -262144.1}) {
    EXPECT_EQ(QZ(SetOffsetCompensation)(bad, 0), 2u) << bad;
    EXPECT_EQ(QZ(SetOffsetCompensation)(0, bad), 2u) << bad;
  }
  EXPECT_TRUE(Sent().empty());
  // The queries send their command and read the card's encoder.
  cardsim_set_encoder_(123456, 9600);
  cardsim_log_clear_();
  uint32_t pos = 0, flag = 9;
  uint16_t count = 9;
  double vel = 0;
  EXPECT_EQ(QZ(SetFlyEncInitPos)(-5), 0u);
  EXPECT_EQ(QZ(GetEncPos)(&pos), 0u);
  EXPECT_EQ(pos, 0xFFFFFBu);  // -5 in the card's 24-bit counter
  EXPECT_EQ(QZ(GetEncVel)(&vel), 0u);
  EXPECT_DOUBLE_EQ(vel, 1.0);  // 9600 ticks a pulse, 5000 pulses a mm
  EXPECT_EQ(QZ(GetBufferCnt)(&flag, &count), 0u);
  EXPECT_EQ(std::make_tuple(flag, count), std::make_tuple(0u, uint16_t{0}));
  EXPECT_EQ(QZ(SetOffsetCompensation)(0.5, -0.25), 0u);
  EXPECT_EQ(QZ(SetOffsetCompensation)(-262144.0, 262143.9), 0u);
  EXPECT_EQ(Sent(), (std::vector<Frame>{{101, 0, 0xFFFFFFFB}, {100, 0, 0}, {100, 0, 1}, {100, 0, 0},
                                        {105, 0xFFFFF800, 4096}, {105, 0x7FFFFCCC, 0x80000000}}));
  // What the card answers with the count: its low 16 bits and bit 16; a period of 0.
  cardsim_set_answer_(100, 0, 0, 0x0003ABCD, 7);
  cardsim_set_answer_(100, 0, 1, 0, 0);
  EXPECT_EQ(QZ(GetBufferCnt)(&flag, &count), 0u);
  EXPECT_EQ(std::make_tuple(flag, count), std::make_tuple(1u, uint16_t{0xABCD}));
  EXPECT_EQ(QZ(GetEncVel)(&vel), 0u);
  EXPECT_EQ(vel, std::numeric_limits<double>::infinity());
  // A card lost during the exchange.
  cardsim_fault_lose_at_(1);
  EXPECT_EQ(QZ(GetEncPos)(&pos), 1u);
}

TEST_F(FlyHost, SetFlyParaSendsTheFlyCommandsAtOnce) {
  Stage(0, 
      "[FLY]\nnFlyType=1\nFlyAngelTrans=2.5\nnEncPPM=2000\ndbFlyRotateCentX=-5\ndbFlyRotateCentY=3\n"
      "nEncRange=5000\nbEncRange=1\n[SCAN]\ndbScanLimitP0=7\ndbScanLimitN1=-4\n");
  ASSERT_EQ(InitCard(), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(SetFlyPara)(), 0u);
  // Rotary fly: the angle factor saturates the scale; the centre goes as codes of Y and X; then the
  // other six (their words: FlyEncodeTest).
  const std::vector<Frame> sent = Sent();
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(std::vector<Frame>(sent.begin(), sent.begin() + 2),
            (std::vector<Frame>{{97, 0x7FFFFFFF, 0}, {106, 42598, 16384}}));
}

TEST_F(FlyHost, FollowsTheTravelAcrossTheCountersWrap) {
  Stage(0, "[FLY]\nnEncRange=1000\nbEncRange=1\nnEncPPM=10\n");
  ASSERT_EQ(InitCard(), 0u);
  ASSERT_EQ(QZ(SetFlyPara)(), 0u);
  ASSERT_EQ(QZ(SetFlyEncInitPos)(0), 0u);
  cardsim_log_clear_();
  ASSERT_EQ(QZ(SetEncPosBufSwitch)(1), 0u);
  EXPECT_EQ(Sent(), (std::vector<Frame>{{103, 1, 0}}));
  int64_t travel = 0;
  // Across the wrap both ways (every crossing: the unit tests of the unwrapping).
  for (int32_t move : {300, 2500, -4000, 13175}) {
    ASSERT_EQ(cardsim_encoder_move_(move), 0u);
    travel += move;
    EXPECT_EQ(TravelMm(), static_cast<double>(travel) / 10.0) << move;
  }
  // The buffer switched off: nothing to report, the travel starts over.
  cardsim_log_clear_();
  ASSERT_EQ(QZ(SetEncPosBufSwitch)(0), 0u);
  cardsim_encoder_move_(400);
  uint32_t status = 0, value = 0;
  EXPECT_EQ(QZ(GetEncPosBuf)(&status, &value), 0u);
  EXPECT_EQ(std::make_tuple(status, value), std::make_tuple(0x200u, 375u));  // (11975 + 400) mod 1000
  double mm = 1;
  EXPECT_EQ(QZ(GetEncBufPosAbs)(&status, &mm), 0u);
  EXPECT_EQ(mm, 0.0);
  EXPECT_EQ(Sent(), (std::vector<Frame>{{103, 1, 1}, {102, 0, 0}, {102, 0, 0}}));
}

}  // namespace
