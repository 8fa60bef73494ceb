// Motor words in the stream, rotation marking's rewrite of synthetic merged queues, and encoder fly
// marking: the parameter packets, the refused encoder range, the crossings' unwrapping, the waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "axis/axis_records.h"
#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/errors.h"
#include "frame/wait_desc.h"
#include "mark/fly_encode.h"
#include "mark/motor_words.h"
#include "mark/rot_mark.h"
#include "markbase/stream_words.h"
#include "support/expect_code.h"
#include "support/trace.h"
#include "test_mark_fixture.h"

namespace {

using qztest::Words;

// Register lane words (0x52, 0x55) left out: the waits' register writes have their own tests.
Words WithoutLanes(const Words& in) {
  Words out;
  for (const TimedWord& w : in) {
    if (SwOpcode(w.word) != 0x52 && SwOpcode(w.word) != 0x55) out.push_back(w);
  }
  return out;
}

class MotorTest : public qztest::MarkCallTest {
 protected:
  void SetUp() override {
    MarkCallTest::SetUp();
    InitWaitDescs();
    Axes(3);
  }
  void TearDown() override {
    for (uint32_t k = 0; k < kNxaAxisMax; ++k) NxaStoreAxis(k, NxaAxisRecord{});
    MarkCallTest::TearDown();
  }
  // `count` axes of 100 pulses per mm, maximum velocity 300, maximum acceleration 500.
  static void Axes(uint32_t count) {
    g_SystemPara.CardLinkCfg.nAxisCount = count;
    NxaAxisRecord r;
    r.dbPulsePerUnit = 100;
    r.dbMaxVel = 300;
    r.dbMaxAcc = 500;
    for (uint32_t k = 0; k < count; ++k) NxaStoreAxis(k, r);
  }
  static Words Main() { return WithoutLanes(*g_MarkFloor[0].ch[CH_MAIN]); }
};

// The platform wait: 0x85000001, a NOP, then the named wait (source 4, untimed) at +21..23.
const Words kWaitHead = {{10, 0x85000001}, {20, SW_NOP}, {22, 0x58000104}, {23, 0x51640020}};

TEST_F(MotorTest, MarkMotorStartTimelineOnPcieAndUsbRefusalsAndTheMoveInAList) {
  const double pos[4] = {100, 0, -10, 0}, vel[4] = {10, 0, 1000, 0}, acc[4] = {100, 0, 200, 0};
  const int32_t enable[3] = {1, 0, 7};
  Words want = kWaitHead;
  const Words axis1 = {{24, 0x4200C350}, {25, 0x51600010}, {26, 0x410F4240}, {27, 0x51600010},
                       {28, 0x43000465}, {29, 0x51600010}, {30, 0x4080270F}, {31, 0x51600010}};
  const Words axis3 = {{32, 0x4A000682}, {33, 0x51600010}, {34, 0x49008228}, {35, 0x51600010},
                       {36, 0x4B0008CB}, {37, 0x51600010}, {38, 0x487FFC17}, {39, 0x51600010}};
  want.insert(want.end(), axis1.begin(), axis1.end());
  Words pcie = want;
  pcie.insert(pcie.end(), axis3.begin(), axis3.end());
  pcie.insert(pcie.end(), {{40, 0x84000005}, {41, 0x51620100}});
  MarkMotorStart(enable, pos, vel, acc);
  EXPECT_EQ(Main(), pcie);
  // USB: the third axis is not loaded, its bit still stands in the start word.
  g_MarkFloor[0].Reset();
  Axes(2);
  want.insert(want.end(), {{32, 0x84000005}, {33, 0x51620100}});
  MarkMotorStart(enable, pos, vel, acc);
  EXPECT_EQ(Main(), want);
  g_MarkFloor[0].Reset();
  const double speeds[4] = {10, 10, 10, 0}, accs[4] = {100, 100, 100, 0};
  const int32_t both[3] = {1, 1, 0};
  const double nan[4] = {0, NAN, 0, 0};
  qztest::ExpectCode(RV_DATA_IS_NAN, 0, [&] { MarkMotorStart(both, nan, speeds, accs); });
  EXPECT_TRUE(g_MarkFloor[0].ch[CH_MAIN]->empty() && MarkFailed());
  ClearMarkFailure();
  // A velocity of 0 on axis 2: axis 1's words stay, the job fails with 29.
  const double zero[4] = {0, 0, 0, 0}, slow[4] = {10, 0, 10, 0};
  qztest::ExpectCode(RV_EXT_PARA_OVERFLOW, 0, [&] { MarkMotorStart(both, zero, slow, accs); });
  EXPECT_TRUE(MarkFailed());
  EXPECT_EQ(Main().back(), (TimedWord{31, 0x51600010}));
  // In a list (its words: RotMarkTest): a NaN target appends nothing.
  Words list;
  uint64_t cursor = 1000;
  qztest::ExpectCode(RV_DATA_IS_NAN, 1, [&] { MotorMoveInStream(list, cursor, true, true, 10, 100, NAN, 100); });
  EXPECT_TRUE(list.empty());
}

// ---- rotation marking

constexpr uint32_t Y(uint32_t code) { return 0x01010000 | code; }
constexpr uint32_t X(uint32_t code) { return 0x01000000 | code; }
constexpr uint32_t Y21(uint32_t code) { return 0x01400000 | code; }

class RotMarkTest : public MotorTest {
 protected:
  void SetUp() override {
    MotorTest::SetUp();
    s.axis = 1;  // the rest as the settings start: resting code 32767, 100 mm, 100 pulses, 5 mm ramps
    s.speedLimit = 100;
    s.rampFactor = 1;
    rot.Begin(s);
  }
  Words Run(Words q) {
    Words out;
    rot.Process(false, q, out);
    EXPECT_TRUE(out.empty());
    rot.Process(true, q, out);
    EXPECT_TRUE(q.empty());  // every entry consumed
    return out;
  }
  RotMarkSettings s;
  RotMark rot;
};

// Positions of the replaced axis become NOPs; nothing else changes.
TEST_F(RotMarkTest, WithoutMarkersOnlyTheReplacedAxisGoes) {
  const Words q = {{5, X(1)}, {6, Y(2)}, {7, 0x01050003}, {8, 0x01040004}, {9, 0x51200004}, {10, 0x01020005}};
  EXPECT_EQ(Run(q), (Words{{5, X(1)}, {6, SW_NOP}, {7, SW_NOP}, {8, 0x01040004}, {9, 0x51200004}, {10, 0x01020005}}));
  s.axis = 0;
  rot.Begin(s);
  EXPECT_EQ(Run(q), (Words{{5, SW_NOP}, {6, Y(2)}, {7, 0x01050003}, {8, SW_NOP}, {9, 0x51200004}, {10, 0x01020005}}));
  // 21-bit words: X 0x010xxxxx-0x011xxxxx, Y 0x014xxxxx-0x015xxxxx; jumps 0x012/0x016 and Z 0x018 stay.
  const Words q21 = {{5, X(0x10002)}, {6, Y21(0x1FFFFF)}, {7, 0x01600005}, {8, 0x01800003}};
  s.code21 = true;
  rot.Begin(s);
  EXPECT_EQ(Run(q21), (Words{{5, SW_NOP}, {6, Y21(0x1FFFFF)}, {7, 0x01600005}, {8, 0x01800003}}));
}

// One segment: the two moves, the wait for axis 1, the segment with its ramp, the return ramp 25 µs later.
TEST_F(RotMarkTest, OneSegmentRunIn16And21BitCodes) {
  const Words q = {{100, Y(30000)}, {200, 0x05000001}, {210, 0x05000002}, {300, Y(31000)},
                   {1210, 0x05000003}, {1300, X(5)}, {1400, 0x51200004}, {1500, 0x20002002}};
  const Words out = Run(q);
  EXPECT_EQ(std::tuple(rot.RampGap(), rot.TimeOffset()), std::tuple(100, 100236));
  Words ramp, rest;
  for (const TimedWord& w : WithoutLanes(out)) ((w.word & 0xFFFF0000) == 0x01010000 ? ramp : rest).push_back(w);
  const Words want = {
      {100, SW_NOP},
      // positioning: to P1 = 31000 - 2 x 3276 at the maximum velocity and acceleration
      {220, 0x85000001}, {232, 0x58000104}, {233, 0x51640020}, {234, 0x42000682}, {235, 0x51600010},
      {236, 0x41008228}, {237, 0x51600010}, {238, 0x430015FD}, {239, 0x51600010}, {240, 0x407FFB0A},
      {241, 0x51600010}, {242, 0x84000001}, {243, 0x51620100}, {253, 0x85000001}, {265, 0x58000104},
      {266, 0x51640020},
      // marking move 100 ms later: 80 mm/s to P3 = 31000 + 62 + 2 x 3276
      {100276, 0x85000001}, {100288, 0x58000104}, {100289, 0x51640020}, {100290, 0x4200186A},
      {100291, 0x51600010}, {100292, 0x4101E848}, {100293, 0x51600010}, {100294, 0x43001C27},
      {100295, 0x51600010}, {100296, 0x408002E3}, {100297, 0x51600010}, {100298, 0x84000001},
      {100299, 0x51620100},
      // axis 1 at the segment's position (source 2), then the segment 10 µs later
      {100302, 0x58000102}, {100303, 0x05000001}, {100303, 0x51620020}, {100313, 0x05000002}, {100403, SW_NOP}, {101313, 0x05000003}, {101403, X(5)},
      {101613, 0x85000001}, {101625, 0x58000104}, {101626, 0x51640020},
      {101636, 0x51200004}, {101736, 0x20002002}};
  EXPECT_EQ(rest, want);
  ASSERT_EQ(ramp.size(), 105u);
  EXPECT_EQ(ramp[0], (TimedWord{100323, Y(32767)}));  // 32767.52
  EXPECT_EQ(ramp[99], (TimedWord{101313, Y(32819)}));
  const Words back = {{101438, Y(32808)}, {101448, Y(32798)}, {101458, Y(32787)}, {101468, Y(32777)},
                      {101478, Y(32767)}};
  EXPECT_EQ(Words(ramp.begin() + 100, ramp.end()), back);
  // The same run in 21-bit codes (R 10 mm: k = 20 / 2^21 mm per code, acceleration length
  // round(0.5 mm / k) = 52429): P1 = 1030000 - 83 - 2 x 52429, P3 = 1030000 + 9982 + 2 x 52429, each
  // back in mm to axis 1's pulses; the ramp climbs from the resting code and returns to it.
  s.code21 = true;
  s.startCode = 1048576;
  s.accLenMM = 0.5;
  rot.Begin(s);
  const Words q21 = {{100, Y21(1000000)}, {200, 0x05000001}, {210, 0x05000002}, {300, Y21(1030000)},
                     {1210, 0x05000003}, {1300, X(5)}, {1400, 0x51200004}};
  Words targets, ramp21;
  for (const TimedWord& w : Run(q21)) {
    if (SwOpcode(w.word) == 0x40 || SwOpcode(w.word) == 0x42 || SwOpcode(w.word) == 0x43) targets.push_back(w);
    if ((w.word & 0xFFE00000) == 0x01400000) ramp21.push_back(w);
  }
  EXPECT_EQ(targets, (Words{{234, 0x42000682}, {238, 0x430015FD}, {240, 0x407FFF89}, {100290, 0x42001869},
                            {100294, 0x43011979}, {100296, 0x4080005B}}));
  ASSERT_EQ(ramp21.size(), 105u);
  EXPECT_EQ(ramp21[0].word, Y21(1048576 + 83));  // 8.388608 codes a µs, 10 µs a step
  EXPECT_EQ(std::tuple(ramp21[99].word, ramp21.back().word), std::tuple(Y21(1048576 + 8388), Y21(1048576)));
}

// A segment builder: start marker at t, ramp 15 µs from t + 10, a position word, an end.
void Segment(Words& q, uint64_t t, uint32_t pos) {
  q.insert(q.end(), {{t, 0x05000001}, {t + 10, 0x05000002}, {t + 20, Y(pos)}, {t + 25, 0x05000003}});
}

size_t Count(const Words& w, uint32_t word) {
  return static_cast<size_t>(std::count_if(w.begin(), w.end(), [&](const TimedWord& e) { return e.word == word; }));
}

TEST_F(RotMarkTest, RunsJoinedSegmentsDirectionChangesAndAnOpenSegment) {
  // ends: end positions of consecutive segments.
  const struct { const char* what; std::vector<uint32_t> ends; size_t runs; } cases[] = {
      {"one apart: joined", {1000, 1001, 1000}, 1},
      {"rising then falling", {1000, 2000, 1500}, 2},
      {"a new run takes the next segment in either direction", {3000, 2000, 2500, 1000}, 2},
      {"falling, rising twice", {3000, 2000, 2500, 3000}, 2},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.what);
    rot.Begin(s);
    Words q;
    uint64_t t = 1000;
    for (uint32_t p : c.ends) {
      Segment(q, t, p);
      t += 1000;
    }
    q.push_back({t, 0x51200004});
    const Words out = Run(q);
    EXPECT_EQ(Count(out, 0x84000001), 2 * c.runs);       // positioning and marking move per run
    EXPECT_EQ(Count(out, 0x51620020), c.runs);           // axis 1 position wait per run
    EXPECT_EQ(Count(out, 0x05000002), c.ends.size());    // every queue word once
    // The card takes the stream in time order.
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end(),
                               [](const TimedWord& a, const TimedWord& b) { return TwTime(a) < TwTime(b); }));
  }
  // An open segment at the end gets the offset only.
  rot.Begin(s);
  Words q;
  Segment(q, 1000, 1000);
  q.push_back({2000, 0x51200004});
  Segment(q, 3000, 2000);  // never closed
  const Words out = Run(q);
  const uint64_t off = static_cast<uint64_t>(rot.TimeOffset());
  ASSERT_GT(rot.TimeOffset(), 0);
  EXPECT_EQ(Words(out.end() - 4, out.end()),
            (Words{{3000 + off, 0x05000001}, {3010 + off, 0x05000002}, {3020 + off, SW_NOP}, {3025 + off, 0x05000003}}));
  // The offset carries over to a later final flush of the same job.
  Words later = {{4000, 0x20002002}};
  Words out2;
  rot.Process(true, later, out2);
  EXPECT_EQ(out2, (Words{{4000 + off, 0x20002002}}));
}

// The stream index: the other axis under a swapping coordinate transform (4-7). The resting code:
// trunc(p / (FX / 65535) + 32767.0) with the X field for either index (16-bit), or the 21-bit
// encoder's rounded code of p (R 10 mm).
TEST_F(RotMarkTest, SettingsUnpairedMarkersAndCodesTheCardCannotTake) {
  g_Scan.SetFieldSizes(100, 50, 100);
  g_SystemPara.MarkEnd_X = 10.0001;  // 39320.57; the X field's own encoder gives 39321
  g_SystemPara.MarkEnd_Y = 2.7;      // 34536.45 (the Y field's: 36306); 21-bit 1331691.52
  const struct { uint32_t axis; int32_t coordType, code21; uint32_t index; int32_t rest; } cases[] = {
      {0, 0, 0, 0, 39320}, {1, 3, 0, 1, 34536}, {0, 4, 0, 1, 34536}, {1, 7, 0, 0, 39320}, {0, 5, 1, 1, 1331692}};
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.axis << " " << c.coordType << " " << c.code21);
    SetRotateMarkPara(1, c.axis, 100, 1);
    g_Scan.nCoordType = c.coordType;
    g_SystemPara.bNewBoxCali = c.code21;
    const RotMarkSettings got = RotMark::CurrentSettings();
    EXPECT_EQ(std::tuple(got.axis, got.startCode), std::tuple(c.index, c.rest));
  }
  // Unpaired markers are refused (2) before any motor word; a speed limit or an acceleration length
  // of 0 fails (29) at the marking move; two ramp starts at one time are an infinite speed, so the
  // speed limit decides (80 mm/s: 0x4200186A) with a ramp gap of 0.
  const Words one = {{1, 0x05000001}, {2, 0x05000002}, {3, 0x05000003}, {4, 0x51200004}};
  const struct { const char* what; double speedLimit, accLen; Words q; uint32_t code; const char* text; } refusals[] = {
      {"no ramp start", 100, 5, {{1, 0x05000001}, {2, 0x05000003}, {3, 0x51200004}}, RV_ERROR, "ramp starts 0"},
      {"speed 0", 0, 5, one, RV_EXT_PARA_OVERFLOW, ""},
      {"acceleration length 0", 100, 0.001, one, RV_EXT_PARA_OVERFLOW, ""},
      {"ramps at one time", 100, 5,
       {{1, 0x05000001}, {2, 0x05000002}, {3, Y(10)}, {4, 0x05000003}, {5, 0x05000001}, {2, 0x05000002},
        {6, Y(500)}, {7, 0x05000003}, {8, 0x51200004}},
       RV_OK, nullptr},
  };
  for (const auto& c : refusals) {
    QZ_TRACE(c.what);
    ClearMarkFailure();
    s.speedLimit = c.speedLimit;
    s.accLenMM = c.accLen;
    rot.Begin(s);
    Words q = c.q, out;
    if (c.code == RV_OK) {
      rot.Process(true, q, out);
      EXPECT_EQ(std::tuple(Count(out, 0x4200186A), rot.RampGap()), std::tuple(1u, 0));
      continue;
    }
    qztest::ExpectCode(c.code, 0, [&] { rot.Process(true, q, out); });
    EXPECT_TRUE(MarkFailed());
    EXPECT_NE(MarkErrorText().find(c.text), std::string::npos) << MarkErrorText();
    EXPECT_EQ(Count(out, 0x84000001), 0u);
  }
}

// ---- encoder fly marking

using qztest::HasLine;
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

TEST_F(FlyEncodeTest, PacketsFollowTheKeysAndAnEncoderRangeBelowTenIsRefused) {
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
  // An encoder range below 10 is refused and changes nothing.
  Restore();
  ReadFly("nEncRange=5000\ndbMeasMarkDisMM=1");
  const FlyScanPara before = g_FlyScanPara;
  for (const char* range : {"9", "0", "-1000000"}) {
    ClearLogs();
    EXPECT_FALSE(ReadFly(std::string("nEncRange=") + range + "\ndbMeasMarkDisMM=2"));
    const std::string text = std::string("[FLY] nEncRange=") + range + " is below 10";
    EXPECT_TRUE(HasLine(Boxes(), text) && HasLine(ErrorLines(), text)) << range;
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

TEST_F(FlyEncodeTest, UnwrapsCrossingsAcrossTheCountersWrapAndReportsTheUnexpected) {
  ReadFly("nEncRange=1000");
  // (position, io, dir) as the card reports them, and the travel after each.
  struct Step { int32_t pos; uint32_t io, dir; double travel; int32_t state; } steps[] = {
      {0, 1, 0, 0, 2},        {250, 0, 0, 250, 1},    {400, 1, 0, 400, 1},    {500, 0, 0, 500, 2},
      {999, 1, 0, 999, 2},    {10, 1, 0, 1010, 2},    {250, 0, 0, 1250, 1},   {500, 0, 0, 1500, 2},
      {250, 0, 0, 2250, 1},   {250, 0, 1, 2250, 1},   {600, 1, 1, 1600, 1},   {500, 0, 1, 1500, 2},
      {250, 0, 1, 1250, 1},   {500, 0, 1, 500, 2},    {250, 0, 1, 250, 1},    {500, 0, 1, -500, 2},
      {250, 0, 1, -750, 1},   {100, 1, 1, -900, 1},
  };
  for (const Step& s : steps) {
    g_FlyEncode.updateEncPos(s.pos, s.io, s.dir);
    const FlyEncodeState st = g_FlyEncode.State();
    EXPECT_EQ(st.nEncPosAbs, s.travel) << s.pos << " " << s.travel;
    EXPECT_EQ(st.nState, s.state) << s.travel;
  }
  EXPECT_TRUE(Boxes().empty());
  using Event = std::tuple<int32_t, uint32_t, uint32_t>;  // (position, io, dir)
  // before: reported first; text: the report, nullptr for none.
  struct Case { std::vector<Event> before; int32_t pos; uint32_t io; const char* text; } cases[] = {
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
  // CompareInOut skips an empty buffer and reports an overflow.
  g_FlyEncode.ResetUnwrap();
  ClearLogs();
  g_FlyEncode.CompareInOut(0x200 | 1, 700);
  EXPECT_EQ(g_FlyEncode.State().nLastEncPos, 0);
  EXPECT_FALSE(HasLine(InfoLines(), "MarkI="));
  g_FlyEncode.CompareInOut(0x100, 250);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: EncPosBuf Full Error!"});
  EXPECT_EQ(g_FlyEncode.State().nEncPosAbs, 250.0);
  EXPECT_TRUE(HasLine(InfoLines(),
                      "CFlyEncode::CompareInOut:PPM=5000.00 nRange=1000 MarkI=250.00 MarkO=0.00 dif=-250.00 tmLeft=-0.00"));
}

TEST_F(FlyEncodeTest, AnEmptyStretchWaitsEveryTenthOfTheRangeAMarkPositionForItsTargetRefusalsAppendNothing) {
  // The 64-bit wait reduces into the range.
  for (int64_t p : {int64_t{0}, int64_t{-1}, int64_t{-2000001}, int64_t{1000000}, INT64_MAX, INT64_MIN})
    AppendEncoderWaitWord64(p);
  EXPECT_EQ(WaitValues(), (std::vector<uint32_t>{0, 999999, 999999, 0, 775807, 224192}));
  F(0).ch3.clear();
  F(0).clock = 0;
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(5000000.0), 0u);
  std::vector<uint32_t> expected;
  for (uint32_t d = 900000; d < 4900000; d += 100000) expected.push_back(d % 1000000);
  EXPECT_EQ(WaitValues(), expected);
  EXPECT_EQ(std::tuple(F(0).ch3.front().time, F(0).clock, g_FlyEncode.State().dLastPos),
            std::tuple(1u, 3u * expected.size(), 4800000.0));
  // A stretch shorter than the safe margins adds nothing and keeps the last position.
  F(0).ch3.clear();
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(4800000.0 + 900000 + 100000), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 4800000.0);
  // A stopped job ends the stretch before its first wait.
  g_MarkJob.bStopMark = 1;
  ASSERT_EQ(g_FlyEncode.SetFlyEmptyPosPulse(9000000.0), 0u);
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 4800000.0);
  // A mark position waits for its target.
  g_MarkJob.bStopMark = 0;
  Restore();
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
  // Refused fly positions append nothing.
  Restore();
  F(0).ch3.clear();
  ASSERT_EQ(g_FlyEncode.SetFlyMarkPosPulse(0.0), 0u);  // the target is dMeasBase: 1 000 000 pulses
  F(0).ch3.clear();
  ClearLogs();
  struct Case { bool mark; double value; uint32_t code; const char* text; } cases[] = {
      {false, 999999.0, 1, "The fly position does not increase"},
      {true, -0.001, 1, "The fly position does not increase"},
      {false, std::nan(""), 2, "The fly position is out of range: nan pulses"},
      {true, 1e305, 2, "The fly position is out of range: inf pulses"},
      {false, 2147483648.0, 2, "The fly position is out of range: 2147483648 pulses"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.mark ? g_FlyEncode.SetFlyMarkPosPulse(c.value) : g_FlyEncode.SetFlyEmptyPosPulse(c.value), c.code);
    EXPECT_EQ(Boxes(), std::vector<std::string>{std::string("topmost ok: ") + c.text}) << c.value;
    ClearLogs();
  }
  EXPECT_TRUE(F(0).ch3.empty());
  EXPECT_EQ(g_FlyEncode.State().dLastPos, 1000000.0);
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
