// Encoder fly marking: the parameter packets, the refused encoder range, the unwrapping of the
// card's crossings, and the encoder waits on the main stream.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "calibration/box_para.h"
#include "frame/errors.h"
#include "support/expect_code.h"
#include "mark/fly_encode.h"
#include "test_mark_fixture.h"

namespace {

using qztest::HasLine;
using qztest::Words;
using Packet = std::tuple<uint32_t, uint32_t, uint32_t>;  // command, p1, p2

class FlyEncodeTest : public qztest::MarkCallTest {
 protected:
  void SetUp() override {
    MarkCallTest::SetUp();
    CCaliLink::SetHalfRange(10.0);
    Restore();
  }
  void TearDown() override {
    Restore();
    MarkCallTest::TearDown();
  }
  static void Restore() {
    g_FlyScanPara = FlyScanPara{};
    const FlyScanPara d;
    g_FlyEncode.SetPara(d.nEncRange, d.dbMarkBeforeSafeRat, d.dbMarkAfterSafeRat, d.dbMeasMarkDisMM * d.nEncPPM,
                        d.nEncPPM * d.dbEncMaxSpeedMMPS);
    g_FlyEncode.ResetUnwrap();
  }
  bool ReadFly(const std::string& fly, const std::string& scan = "") {
    WriteFile("ini/QZMarkPara.cfg", "[FLY]\n" + fly + "\n[SCAN]\n" + scan + "\n");
    return ReadFlyScanPara();
  }
  static std::vector<Packet> Packets() {
    CmdBatch batch;
    EXPECT_TRUE(AppendFlyParaCmds(g_FlyScanPara, &batch));
    std::vector<Packet> out;
    for (const CmdPacket& p : batch) out.emplace_back(p.Cmd(), p.P1(), p.P2());
    return out;
  }
  // The compare values of the encoder waits on the main stream, which holds nothing else.
  static std::vector<uint32_t> WaitValues() {
    const std::vector<uint32_t> v = qztest::EncoderWaitValues(F(0).ch3);
    EXPECT_EQ(F(0).ch3.size(), 10 * v.size());
    return v;
  }
};

const std::vector<Packet> kDefaultPackets = {{97, 10995116, 0}, {98, 1, 480},  {99, 0, 0x1000000},   {9, 0xFFFFFFFF, 0},
                                             {10, 1, 0},         {10, 2, 0x8000}, {82, 0xF0, 0x400000}};

TEST_F(FlyEncodeTest, PacketsFollowTheKeys) {
  // changed: packets that differ from the default list.
  struct Case { const char* fly; const char* scan; std::vector<std::pair<size_t, Packet>> changed; } cases[] = {
      {"", "", {}},
      // A quarter turn: the X part vanishes (below 1 it truncates to 0); 30°.
      {"nFlyDir=1", "", {{0, {97, 0, 10995116}}}},
      {"nFlyDirAngle=0.5235987755982988\nnEncRange=1234\nbEncRange=1\nnEncOutnerDirectNeg=1", "",
       {{0, {97, 9522050, 5497558}}, {2, {99, 1, 1234}}}},
      // bEncRange 1 sends the range cut to 24 bits; 0 the full counter whatever the range.
      {"nEncRange=305419896\nbEncRange=1", "", {{2, {99, 0, 0x345678}}}}, {"nEncRange=305419896\nbEncRange=0", "", {}},
      // Scan limits inside and beyond the field, each half clamped to 0..65535.
      {"", "bScanLimitErrEn=7\ndbScanLimitP0=5\ndbScanLimitP1=10\ndbScanLimitN0=-5\ndbScanLimitN1=-12",
       {{3, {9, 0xFFFFC000, 0x4000}}, {4, {10, 1, 1}}}},
      // The internal encoder: on, counting down, 2000 µs (96000 ticks cut to 16 bits); its input.
      {"bEncEx=0\nbEnEncInner=1\nnEncInnerDirectNeg=1\nnEncInnerPeriodUS=2000\nbEnInnerEncValidByIO=1\n"
       "InnerEncValidByIO_idx=3",
       "", {{1, {98, 0, 0x11000000 | (96000 & 0xFFFF)}}, {6, {82, 0x31, 0x400000}}}},
      // The fly mark range: Y against a positive Y direction beyond the field; X against negative X.
      {"nFlyDir=1\nbFlyMarkRangeEn=1\nbEncIsAdd=1\ndbFlyMarkRangeScanPos=12", "",
       {{0, {97, 0, 10995116}}, {5, {10, 2, 0x1FFFF}}}},
      {"nFlyDir=2\nbFlyMarkRangeEn=1\nbEncIsAdd=1\ndbFlyMarkRangeScanPos=-3", "",
       {{0, {97, static_cast<uint32_t>(-10995116), 0}}, {5, {10, 2, 0x20000 | 22937}}}},
      // A PPM of 0 or below saturates (0 x infinity gives NaN, which converts to 0).
      {"nEncPPM=0", "", {{0, {97, 0x7FFFFFFF, 0}}}}, {"nEncPPM=-5000", "", {{0, {97, 0xFF583A54, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fly);
    g_FlyScanPara = FlyScanPara{};
    ReadFly(c.fly, c.scan);
    std::vector<Packet> expected = kDefaultPackets;
    for (const auto& [i, p] : c.changed) expected[i] = p;
    EXPECT_EQ(Packets(), expected);
  }
  // The range keys are kept while the range is off: axis 1, direction 0, the code of 4 mm.
  ReadFly("nFlyDir=1\nbFlyMarkRangeEn=1\ndbFlyMarkRangeScanPos=4");
  ReadFly("nFlyDir=2\nbFlyMarkRangeEn=0\ndbFlyMarkRangeScanPos=-4");
  EXPECT_EQ(Packets()[5], (Packet{10, 2, 0x10000u | 45875u}));
}

TEST_F(FlyEncodeTest, AnEncoderRangeBelowTenIsRefusedAndChangesNothing) {
  ReadFly("nEncRange=5000\ndbMeasMarkDisMM=1");
  const FlyScanPara before = g_FlyScanPara;
  for (const char* range : {"9", "0", "-1000000"}) {
    ClearLogs();
    EXPECT_FALSE(ReadFly(std::string("nEncRange=") + range + "\ndbMeasMarkDisMM=2"));
    const std::string text = std::string("[FLY] nEncRange=") + range + " is below 10";
    EXPECT_TRUE(HasLine(Boxes(), text)) << range;
    EXPECT_TRUE(HasLine(ErrorLines(), text)) << range;
    EXPECT_EQ(std::tuple(g_FlyScanPara.nEncRange, g_FlyScanPara.dbMeasMarkDisMM, g_FlyEncode.State().nRange,
                         g_FlyEncode.State().dMeasBase),
              std::tuple(before.nEncRange, 1.0, 5000, 5000.0));
  }
  ReadFly("nEncRange=10\ndbMarkBeforeSafeRat=0.25\ndbMarkAfterSafeRat=1e20\ndbEncMaxSpeedMMPS=3");
  const FlyEncodeState s = g_FlyEncode.State();
  EXPECT_EQ(std::make_tuple(s.nRange, s.nRangeHalf, s.nRangeQuarter, s.nRangeTenth, s.nBeforeSafe, s.nAfterSafe),
            std::make_tuple(10, 5, 2, 1, 2, 0x7FFFFFFF));
  EXPECT_EQ(std::make_tuple(s.dMeasBase, s.dMaxPulseRate), std::make_tuple(1000000.0, 15000.0));
}

TEST_F(FlyEncodeTest, UnwrapsCrossingsAcrossTheCountersWrap) {
  ReadFly("nEncRange=1000");
  // (position, io, dir) as the card reports them, and the travel after each.
  struct Step { int32_t pos; uint32_t io, dir; double travel; int32_t state; } steps[] = {
      {0, 1, 0, 0, 2},        {100, 1, 0, 100, 2},    {250, 0, 0, 250, 1},    {400, 1, 0, 400, 1},
      {500, 0, 0, 500, 2},    {999, 1, 0, 999, 2},    {10, 1, 0, 1010, 2},    {250, 0, 0, 1250, 1},
      {500, 0, 0, 1500, 2},   {250, 0, 0, 2250, 1},   {300, 1, 1, 2300, 1},   {250, 0, 1, 2250, 1},
      {0, 1, 1, 2000, 1},     {600, 1, 1, 1600, 1},   {500, 0, 1, 1500, 2},   {250, 0, 1, 1250, 1},
      {500, 0, 1, 500, 2},    {250, 0, 1, 250, 1},    {500, 0, 1, -500, 2},   {250, 0, 1, -750, 1},
      {100, 1, 1, -900, 1},
  };
  for (const Step& s : steps) {
    g_FlyEncode.updateEncPos(s.pos, s.io, s.dir);
    const FlyEncodeState st = g_FlyEncode.State();
    EXPECT_EQ(st.nEncPosAbs, s.travel) << s.pos << " " << s.travel;
    EXPECT_EQ(st.nState, s.state) << s.travel;
    EXPECT_EQ(st.nLastEncPos, s.pos);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FlyEncodeTest, ReportsWhatTheUnwrappingDoesNotExpect) {
  ReadFly("nEncRange=1000");
  struct Case {
    std::vector<std::tuple<int32_t, uint32_t, uint32_t>> before;
    int32_t pos;
    uint32_t io;
    const char* text;  // nullptr: no report
  } cases[] = {
      {{}, 300, 0, "updateEncPos unExpect"}, {{{250, 0, 0}}, 500, 1, "nEncPos == nRangeHalf"},
      {{}, 250, 1, "nEncPos == nRangeHalf2"}, {{}, 0x200, 1, nullptr},
  };
  for (const Case& c : cases) {
    g_FlyEncode.ResetUnwrap();
    for (const auto& [p, io, dir] : c.before) g_FlyEncode.updateEncPos(p, io, dir);
    ClearLogs();
    g_FlyEncode.updateEncPos(c.pos, c.io, 1);
    EXPECT_EQ(Boxes(), c.text ? std::vector<std::string>{std::string("topmost ok: ") + c.text}
                             : std::vector<std::string>{})
        << c.pos;
    EXPECT_EQ(HasLine(ErrorLines(), "CFlyEncode::updateEncPos"), c.text != nullptr) << c.pos;
  }
  // An unexpected event takes the position but neither the direction nor a quarter count.
  g_FlyEncode.ResetUnwrap();
  g_FlyEncode.updateEncPos(300, 0, 1);
  const FlyEncodeState s = g_FlyEncode.State();
  EXPECT_EQ(std::make_tuple(s.nLastDir, s.nCountEnc, s.nLastEncPos, s.nEncPosAbs), std::make_tuple(0, -2.0, 300, -700.0));
}

TEST_F(FlyEncodeTest, CompareInOutSkipsAnEmptyBufferAndReportsAnOverflow) {
  ReadFly("nEncRange=1000");
  g_FlyEncode.CompareInOut(0x200 | 1, 700);
  EXPECT_EQ(g_FlyEncode.State().nLastEncPos, 0);
  EXPECT_FALSE(HasLine(InfoLines(), "MarkI="));
  g_FlyEncode.CompareInOut(0x100, 250);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: EncPosBuf Full Error!"});
  EXPECT_EQ(g_FlyEncode.State().nEncPosAbs, 250.0);
  EXPECT_TRUE(HasLine(InfoLines(),
                      "CFlyEncode::CompareInOut:PPM=5000.00 nRange=1000 MarkI=250.00 MarkO=0.00 dif=-250.00 tmLeft=-0.00"));
}

TEST_F(FlyEncodeTest, AnEmptyStretchWaitsEveryTenthOfTheRange) {
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(5000000.0), 0u);
  std::vector<uint32_t> expected;
  for (uint32_t d = 900000; d < 4900000; d += 100000) expected.push_back(d % 1000000);
  EXPECT_EQ(WaitValues(), expected);
  EXPECT_EQ(F(0).ch3.front().time, 1u);
  EXPECT_EQ(F(0).clock, 3u * expected.size());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 4800000.0);
  // A stretch shorter than the safe margins adds nothing and keeps the last position.
  F(0).ch3.clear();
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(4800000.0 + 900000 + 100000), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 4800000.0);
}

TEST_F(FlyEncodeTest, AMarkPositionWaitsForItsTarget) {
  ReadFly("nEncPPM=100\ndbMeasMarkDisMM=50");  // target = mm x 100 + 5000 (pulses)
  ASSERT_EQ(g_FlyEncode.SetFlyMarkPosPulse(9955.0), 0u);  // 1 000 500 pulses
  EXPECT_EQ(WaitValues(), (std::vector<uint32_t>{900000, 500}));
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 1000500.0);
  g_FlyEncode.MarkFlushed();
  EXPECT_EQ(g_FlyEncode.State().dMarkOut, 1000500.0);
  F(0).ch3.clear();
  g_FlyEncode.SetMeasBase(0.0);
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPos(30000.0), 0u);  // 3 000 000 pulses: waits from 1 900 500
  EXPECT_EQ(WaitValues(), (std::vector<uint32_t>{900500, 500, 100500, 200500, 300500, 400500, 500500, 600500,
                                                 700500, 800500}));
}

TEST_F(FlyEncodeTest, RefusedFlyPositionsAppendNothing) {
  ASSERT_EQ(g_FlyEncode.SetFlyMarkPosPulse(0.0), 0u);  // the target is dMeasBase: 1 000 000 pulses
  F(0).ch3.clear();
  ClearLogs();
  struct Case { bool mark; double value; uint32_t code; const char* text; } cases[] = {
      {false, 999999.0, 1, "The fly position does not increase"},
      {true, -0.001, 1, "The fly position does not increase"},
      {false, std::nan(""), 2, "The fly position is out of range: nan pulses"},
      {true, 1e305, 2, "The fly position is out of range: inf pulses"},
      {false, 9007199254740994.0, 2, "The fly position is out of range: 9007199254740994 pulses"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.mark ? g_FlyEncode.SetFlyMarkPosPulse(c.value) : g_FlyEncode.SetFlyEmptyPosPulse(c.value), c.code);
    EXPECT_EQ(Boxes(), std::vector<std::string>{std::string("topmost ok: ") + c.text}) << c.value;
    ClearLogs();
  }
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 1000000.0);
}

TEST_F(FlyEncodeTest, AStoppedJobEndsTheStretch) {
  g_MarkJob.bStopMark = 1;
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(5000000.0), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 0.0);
}

TEST_F(FlyEncodeTest, The64BitWaitReducesIntoTheRange) {
  for (int64_t p : {int64_t{0}, int64_t{-1}, int64_t{-2000001}, int64_t{1000000}, INT64_MAX, INT64_MIN})
    AppendEncoderWaitWord64(p);
  EXPECT_EQ(WaitValues(), (std::vector<uint32_t>{0, 999999, 999999, 0, 775807, 224192}));
}

TEST_F(FlyEncodeTest, AHostThreadPollsWhileTheJobAppendsAndFlushes) {
  // Under the thread sanitizer: the unwrapping and the flushed position are shared under the lock.
  std::atomic<bool> stop{false};
  std::thread poll([&] {
    for (int i = 0; i < 2000 && !stop; ++i) g_FlyEncode.CompareInOut(1, static_cast<uint32_t>(i % 1000) * 1000);
  });
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(g_FlyEncode.SetFlyMarkPosPulse(1000.0 * i), 0u);
    g_FlyEncode.MarkFlushed();
  }
  stop = true;
  poll.join();
  EXPECT_EQ(g_FlyEncode.State().dMarkOut, 49000.0 * 5000 + 1000000);
}

}  // namespace
