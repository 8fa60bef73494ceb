// The common frame of the mark-list commands: what a body throws, the entry line, refusals that fail the job.
#include <functional>
#include <limits>
#include <new>
#include <stdexcept>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "mark/line_storage.h"
#include "markbase/mark_floor.h"
#include "mark/mark_member.h"
#include "qzmark.h"
#include "test_mark_card_fixture.h"

namespace {

constexpr MarkMember kMember{"QZ_TestMember", KIND_IO, LOG_TRACE, EntryText::kEmpty};

class MarkMemberTest : public qztest::MarkCardTest {
 protected:
  void SetUp() override {
    Open(85);  // the simulated card's own version
    Begin(1);
  }
  uint32_t Run(const std::function<uint32_t()>& body) {
    return RunMarkMember(kMember, {}, [&] { return body(); });
  }
};

TEST_F(MarkMemberTest, WhatABodyThrowsBecomesTheResultAndAJobWhoseStartFailedTakesNothing) {
  struct Case { const char* name; std::function<uint32_t()> body; uint32_t rc; size_t boxes; } cases[] = {
      {"refusal", [] { return 2u; }, 2, 0},
      {"shown failure", []() -> uint32_t { throw MyException(RV_LAYER_NUMBER_OVER, 1); }, 6, 1},
      {"lost card", []() -> uint32_t { throw MyException(RV_CARD_NOT_CONNECTED, 0); }, 1, 0},
      {"memory", []() -> uint32_t { throw std::bad_alloc(); }, 38, 1},
      {"anything else", []() -> uint32_t { throw std::runtime_error("odd"); }, 2, 0},
  };
  size_t boxes = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Run(c.body), c.rc);
    EXPECT_EQ(std::tuple(g_MarkJob.g_bMarkCallBusy.load(), g_pCurFloor), std::tuple(0u, nullptr));
    EXPECT_EQ(Boxes().size(), boxes += c.boxes);
  }
  // Memory is reported under the member's name, and the job goes on.
  EXPECT_TRUE(qztest::HasLine(ErrorLines(), "] QZ_TestMember:"));
  EXPECT_EQ(Run([] { return 0u; }), 0u);
  // A job whose start failed takes nothing.
  const size_t shown = Boxes().size();
  g_MarkJob.nMarkState = kMarkStateStarting;
  cardsim_log_clear_();
  bool ran = false;
  EXPECT_EQ(Run([&] { return ran = true, 0u; }), 0u);
  EXPECT_TRUE(!ran && Frames().empty());
  EXPECT_EQ(Boxes().size(), shown);
}

// A refused vector, dot or position fails the job: one box, the run stopped, nothing kept, then 20, QZ_MarkEnd 3;
// the next job is clean.
TEST_F(MarkMemberTest, RefusedVectorsDotsAndPositionsFailTheJob) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  // Host records of three reals (six for the wobble figure), (x, y) first.
  auto pts = [](std::initializer_list<double> xy, size_t width = 3) {
    std::vector<double> out;
    for (size_t i = 0; i < xy.size() * width / 2; ++i) out.push_back(i % width < 2 ? xy.begin()[i / width * 2 + i % width] : 0.0);
    return out;
  };
  const std::vector<double> good = pts({0, 0, 1, 2}), nanLine = pts({0, 0, nan, 1}), infLine = pts({inf, 0, 1, 1}),
                            farOne = pts({101, 0}), far = pts({1, 2, 0, -101}), far2R = pts({0, 0, 21, 0}),
                            wobFar = pts({0, 0, 21, 0}, 6), wobNan = pts({0, 0, 1, nan}, 6);
  // The field reaches its size from the centre with 16-bit codes (X 100 mm, Y fieldY), 2R = 20 mm with 21-bit codes.
  struct Case {
    const char* name; std::function<uint32_t()> call; uint32_t rc; int32_t bits21 = 0; double fieldY = 100;
  } cases[] = {
      {"vector, null points", [] { return QZ_MarkVector(nullptr, 2, 1); }, 2},
      {"vector, NaN before layer 256", [&] { return QZ_MarkVector(nanLine.data(), 2, 256); }, 7},
      {"vector, infinite", [&] { return QZ_MarkVector(infLine.data(), 2, 1); }, 7},
      {"vector, one point beyond the field", [&] { return QZ_MarkVector(farOne.data(), 1, 1); }, 12},
      {"vector, layer 256 beyond the field", [&] { return QZ_MarkVector(far.data(), 2, 256); }, 6},
      {"vector beyond the field", [&] { return QZ_MarkVector(far.data(), 2, 1); }, 2},
      {"vector beyond 2R", [&] { return QZ_MarkVector(far2R.data(), 2, 1); }, 2, 1},
      {"dots, null points", [] { return QZ_MarkDot(nullptr, 2, 50, 0); }, 2},
      {"dots, infinite", [&] { return QZ_MarkDot(infLine.data(), 2, 50, 0); }, 7},
      {"dot time +inf", [&] { return QZ_MarkDot(good.data(), 2, inf, 0); }, 7},
      {"dot time below 0.99", [&] { return QZ_MarkDot(good.data(), 2, 0.989, 0); }, 31},
      {"dots shorter than their whole µs", [&] { return QZ_MarkDot(good.data(), 2, 0.995, 0); }, 31},
      {"dot time NaN", [&] { return QZ_MarkDot(good.data(), 2, nan, 0); }, 31},
      {"dots, layer -1 beyond the field", [&] { return QZ_MarkDot(far.data(), 2, 50, -1); }, 6},
      {"dots beyond the field", [&] { return QZ_MarkDot(far.data(), 2, 50, 0); }, 2},
      {"scan position beyond a 100 x 50 field", [] { return QZ_MarkBufScanPos(0, 50.25, 0, 0); }, 2, 0, 50},
      {"dot by input beyond the field", [] { return QZ_MarkDotLaserByIO(-101, 0, 0, 1000, 100, 0, 0, 5); }, 2},
      {"dot by encoder beyond 2R", [] { return QZ_MarkDotLaserByEnc(0, 20.5, 0, 1000, 100, 0, 0, 0, 0); }, 2, 1},
      {"wobble figure beyond 2R", [&] { return QZ_MarkWobLaserByEnc(wobFar.data(), 2, 0, 0, 0); }, 2, 1},
      {"scan position NaN", [] { return QZ_MarkBufScanPos(nan, 0, 0, 0); }, 7},
      {"dot by input at NaN", [] { return QZ_MarkDotLaserByIO(0, nan, 0, 1000, 100, 0, 0, 5); }, 7},
      {"dot by input, spot time +inf", [] { return QZ_MarkDotLaserByIO(0, 0, 0, 1000, inf, 0, 0, 5); }, 7},
      {"dot by encoder at NaN", [] { return QZ_MarkDotLaserByEnc(nan, 0, 0, 1000, 100, 0, 0, 0, 0); }, 7},
      {"wobble figure NaN, 16-bit codes", [&] { return QZ_MarkWobLaserByEnc(wobNan.data(), 2, 0, 0, 0); }, 7},
      {"motor target NaN", [] { return QZ_MarkMotorRun(0, 0, 1, 1, 1, nan, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1); }, 7},
  };
  CCaliLink::SetHalfRange(10.0);
  g_SystemPara.BASETIME = 10;  // a position within reach moves: only the reach refuses
  size_t boxes = 0;
  uint32_t stops = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_SystemPara.bNewBoxCali = c.bits21;
    g_Scan.SetFieldSizes(100, c.fieldY, 17);
    ASSERT_EQ(QZ_MarkStart(1, 0, 0), 0u);
    EXPECT_EQ(c.call(), c.rc);
    EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateBufferStarted);  // the frame started the buffer
    ASSERT_EQ(Boxes().size(), ++boxes);
    EXPECT_EQ(Boxes().back(), "topmost ok: " + GetErrText(static_cast<int32_t>(c.rc)));
    EXPECT_EQ(Stops(), ++stops);
    EXPECT_TRUE(g_LineStorage.vecLastLine.empty());
    for (const CMarkFloor& f : g_MarkFloor) EXPECT_TRUE(f.ch0.empty());  // no move
    EXPECT_EQ(QZ_MarkVector(good.data(), 2, 1), RV_MARK_ERROR);
    EXPECT_EQ(QZ_MarkEnd(0), RV_MARK_FAIL);
    EXPECT_EQ(Boxes().size(), boxes);
  }
  g_SystemPara.bNewBoxCali = 0;
  ASSERT_EQ(QZ_MarkStart(1, 0, 0), 0u);
  EXPECT_EQ(QZ_MarkBufIO(1, 1, 0, 0), 0u);
  EXPECT_EQ(QZ_MarkEnd(0), 0u);
  EXPECT_EQ(std::tuple(Boxes().size(), Stops()), std::tuple(boxes, stops));
}

TEST_F(MarkMemberTest, EntryLineAtItsLevelInItsFormat) {
  struct Case { MarkMember m; EntryValue v; const char* line; const char* text; } cases[] = {  // line nullptr: none
      {{"QZ_A", KIND_IO, LOG_TRACE, EntryText::kEmpty}, {}, "[TRACE]", "QZ_A:"},
      {{"QZ_B", KIND_IO, LOG_INFO, EntryText::kInt}, EntryValue(-12), "[INFO]", "QZ_B:-12"},
      {{"QZ_C", KIND_IO, LOG_TRACE, EntryText::kReal2}, EntryValue(3.14159), "[TRACE]", "QZ_C:3.14"},
      {{"QZ_D", KIND_IO, LOG_INFO, EntryText::kReal3}, EntryValue(2.5), "[INFO]", "QZ_D:2.500"},
      {{"QZ_E", KIND_IO, LOG_INFO, EntryText::kNoLine}, {}, nullptr, "QZ_E"},
  };
  g_Link.g_bConnected = 0;  // no card: the entry line is all a member writes
  for (int level : {LOG_INFO, LOG_TRACE}) {
    g_InfoLog.SetMinLevel(level);
    for (const Case& c : cases) {
      const size_t before = InfoLines().size();
      EXPECT_EQ(MarkMemberFrame(c.m, c.v, MemberStep(), MemberStep([] { return 0u; })), 1u);
      const auto lines = InfoLines();
      const bool written = c.line && (level == LOG_TRACE || std::string(c.line) == "[INFO]");
      ASSERT_EQ(lines.size(), before + (written ? 1 : 0)) << c.text << " at " << level;
      if (!written) continue;
      EXPECT_EQ(lines.back().rfind(c.line, 0), 0u) << lines.back();
      const std::string tail = std::string("] ") + c.text;
      EXPECT_EQ(lines.back().substr(lines.back().size() - tail.size()), tail);
    }
  }
  g_InfoLog.SetMinLevel(LOG_INFO);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
