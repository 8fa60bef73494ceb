// Galvanometer step encoders: straight and accelerated moves, waits, the dot frame, refusals, a stop.
#include <limits>
#include <numbers>
#include <tuple>

#include "support/trace.h"
#include "calibration/galvo_stream.h"
#include "test_scan_fixture.h"

namespace qztest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;

class GalvoTest : public ScanSeqTest {
 protected:
  // A job in run mode `mode` with 16-bit (0) or 21-bit (1) codes, at (x, y).
  static void Start(uint32_t mode, int32_t bits21, double x = 0, double y = 0) {
    Job(mode);
    g_SystemPara.bNewBoxCali = bits21;
    g_Scan.dbCurX = x;
    g_Scan.dbCurY = y;
  }
  static void ExpectCur(double x, double y) { EXPECT_EQ(std::tuple(g_Scan.dbCurX, g_Scan.dbCurY), std::tuple(x, y)); }
};

// Galvanometer words: a NOP at `nop`, then one X/Y pair per step.
struct Form { uint32_t x, y; };
constexpr Form kLit{0x01000000, 0x01010000}, kUnlit{0x01040000, 0x01050000}, k21{0x01000000, 0x01400000};
struct Step { uint64_t t; uint32_t x, y; };
Words Galvo(Form f, uint64_t nop, std::initializer_list<Step> steps) {
  Words w{{nop, SW_NOP}};
  for (const Step& s : steps) w.insert(w.end(), {{s.t, f.x | s.x}, {s.t, f.y | s.y}});
  return w;
}

TEST_F(GalvoTest, StraightAndAcceleratedMovesAndRefusedMovesThatChangeNothing) {
  // steps -1: StreamMoveTo at `speed` (result: its result); else StreamVector with this count (result: bWrote);
  // fieldY: the field's Y size (X 100 mm)
  const struct { const char* name; uint32_t mode; int32_t bits21; double fromX, x, y, speed; int32_t steps, result;
                 Words words; double fieldY = 100; } cases[] = {
      // 2 mm at 0.05 mm/µs: 0.5 mm (327.675 codes, 52428.8 in 21 bits) per 10 µs step.
      {"16-bit", 0, 0, 0, 2, 0, 0.05, -1, 4,
       Galvo(kLit, 0, {{10, 33095, 32767}, {20, 33422, 32767}, {30, 33750, 32767}, {40, 34078, 32767}})},
      // sqrt(5) mm in 5 steps on a 100 x 50 mm field: 262.14 codes per step on each axis, from 32767.5.
      {"16-bit, job without laser, 100 x 50 mm", 1, 0, 0, 2, -1, 0.05, -1, 5,
       Galvo(kUnlit, 0, {{10, 33029, 32505}, {20, 33291, 32243}, {30, 33553, 31981}, {40, 33816, 31718},
                         {50, 34078, 31456}}), 50},
      {"21-bit, job without laser", 1, 1, 0, 2, 0, 0.05, -1, 4,
       Galvo(k21, 0, {{10, 1101005, 1048576}, {20, 1153434, 1048576}, {30, 1205862, 1048576}, {40, 1258291, 1048576}})},
      // 1.97 codes in 10 steps: the first and last pairs and those where a truncated code changes.
      {"16-bit slow move", 0, 0, 0, 0.003, 0, 0.00003, -1, 10,
       Galvo(kLit, 0, {{10, 32767, 32767}, {30, 32768, 32767}, {80, 32769, 32767}, {100, 32769, 32767}})},
      // 20.97 codes in 10 steps: a pair each 6.4 codes and the last step's pair.
      {"21-bit slow move", 0, 1, 0, 0.0002, 0, 0.000002, -1, 10,
       Galvo(k21, 0, {{40, 1048584, 1048576}, {70, 1048591, 1048576}, {100, 1048597, 1048576}})},
      // 5.24 codes: only the last step's pair, which does not count as written.
      {"21-bit, below 6.4 codes", 0, 1, 0, 0.00005, 0, 0.0000017, -1, 0, Galvo(k21, 0, {{30, 1048581, 1048576}})},
      {"zero length", 0, 0, 0, 0, 0, 1.0, -1, 1, Galvo(kLit, 0, {{10, 32767, 32767}})},
      {"zero length, 21-bit", 0, 1, 0, 0, 0, 1.0, -1, 0, Galvo(k21, 0, {{10, 1048576, 1048576}})},
      {"ends clamped to the same codes, 3 steps: first and last pairs", 0, 0, 60, 70, 0, 0, 3, 1,
       Galvo(kLit, 0, {{10, 65535, 32767}, {30, 65535, 32767}})},
      {"beyond the field", 0, 0, 0, 60, -70, 5.0, -1, 2, Galvo(kLit, 0, {{10, 49151, 16383}, {20, 65535, 0}})},
      {"beyond the range, 21-bit", 0, 1, 0, 15, -15, 1.1, -1, 2,
       Galvo(k21, 0, {{10, 1572864, 524288}, {20, 2097151, 0}})},
      {"a count of 0 is one step", 0, 0, 0, 2, 0, 0, 0, 1, Galvo(kLit, 0, {{10, 34078, 32767}})},
      // The running sum ends at 65534.99999999999: the last step is the end point itself.
      {"no drift", 0, 0, -49.9589, 50, 0, 0, 3, 1,
       Galvo(kLit, 0, {{10, 21862, 32767}, {20, 43698, 32767}, {30, 65535, 32767}})},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    Start(c.mode, c.bits21, c.fromX, 0);
    g_Scan.SetFieldSizes(100, c.fieldY, 17);
    if (c.steps < 0) {
      EXPECT_EQ(StreamMoveTo({c.x, c.y}, c.speed), c.result);
      ExpectCur(c.x, c.y);
    } else {
      FieldPoint from{c.fromX, 0};
      uint8_t wrote = 7;
      StreamVector(from, {c.x, c.y}, c.steps, wrote);
      EXPECT_EQ(std::tuple(wrote, from.x), std::tuple(c.result, c.x));
    }
    EXPECT_EQ(std::tuple(Floor().ch0, GalvoClock(), Floor().clock),
              std::tuple(c.words, static_cast<int64_t>(c.words.back().time), 0u));
  }
  // Accelerated moves.
  struct Accel { const char* name; int32_t bits21; double x, y, vs, ve; uint8_t wrote; Words words; } accels[] = {
      {"from rest", 1, 2, 0, 0.0, 0.1, 1,
       Galvo(k21, 0, {{10, 1061683, 1048576}, {20, 1101005, 1048576}, {30, 1166541, 1048576}, {40, 1258291, 1048576}})},
      {"braking on a diagonal", 1, 1.2, -1.6, 0.1, 0.0, 1,
       Galvo(k21, 0, {{10, 1103626, 975176}, {20, 1142948, 922747}, {30, 1166541, 891290}, {40, 1174405, 880804}})},
      {"zero length: its NOP alone", 1, 0, 0, 0.05, 0.05, 0, Galvo(k21, 0, {})},
      {"16-bit codes: no words", 0, 2, 0, 0.05, 0.05, 0, {}},
  };
  for (const Accel& c : accels) {
    QZ_TRACE(c.name);
    Start(0, c.bits21);
    FieldPoint from{0, 0};
    uint8_t wrote = 7;
    StreamVector21(from, {c.x, c.y}, wrote, c.vs, c.ve);
    EXPECT_EQ(std::tuple(wrote, Floor().ch0, GalvoClock(), from.y),
              std::tuple(c.wrote, c.words, c.words.empty() ? 0 : static_cast<int64_t>(c.words.back().time), c.y));
  }
  // Refused moves change nothing.
  enum Kind { MOVE, JUMP, VECTOR, ACCEL };
  // The target (x, 0) from (1, 2); ve for ACCEL.
  // A speed not above 0 fails with a text that names it (the language file's, else the built-in one).
  const std::string speedText = "The mark speed is 0 or negative; set the pen's mark speed above 0.";
  struct Refusal { const char* name; Kind kind; int32_t base; double x, speed, ve; uint32_t code;
                   std::string text = ""; } refusals[] = {
      {"base time 0", MOVE, 0, 5, 1.0, 0, 2}, {"negative base time", VECTOR, -10, 5, 1.0, 0, 2},
      {"speed 0", MOVE, 10, 5, 0.0, 0, 2, speedText}, {"NaN speed", MOVE, 10, 5, kNaN, 0, 7},
      {"jump, base time 0", JUMP, 0, 5, 0.0, 0, 2}, {"NaN target", MOVE, 10, kNaN, 1.0, 0, 7},
      {"infinite target", VECTOR, 10, std::numeric_limits<double>::infinity(), 1.0, 0, 7},
      {"steps beyond the counter", JUMP, 10, 1e12, 1.0, 0, 7},
      {"accelerated, negative start speed", ACCEL, 10, 5, -0.1, 0.2, 2},
      {"accelerated, both speeds 0", ACCEL, 10, 5, 0, 0, 2, speedText},
      {"accelerated, NaN end speed", ACCEL, 10, 5, 0.1, kNaN, 7},
  };
  for (const Refusal& c : refusals) {
    QZ_TRACE(c.name);
    Start(0, c.kind == ACCEL ? 1 : 0, 1, 2);
    g_SystemPara.BASETIME = c.base;
    g_Scan.dbPrevX = 9;
    ExpectCode(c.code, 0, [&] {
      FieldPoint from{1, 2};
      uint8_t wrote = 0;
      switch (c.kind) {
        case MOVE: StreamMoveTo({c.x, 0}, c.speed); break;
        case JUMP: StreamJumpTo({c.x, 0}, c.speed); break;
        case VECTOR: StreamVector(from, {c.x, 0}, 5, wrote); break;
        case ACCEL: StreamVector21(from, {c.x, 0}, wrote, c.speed, c.ve); break;
      }
    });
    EXPECT_TRUE(c.text.empty() || MarkErrorText() == c.text) << MarkErrorText();
    EXPECT_TRUE(Floor().ch0.empty());
    EXPECT_EQ(GalvoClock(), 0);
    ExpectCur(1, 2);
    EXPECT_EQ(g_Scan.dbPrevX, 9);
  }
}

TEST_F(GalvoTest, AStopEndsTheMoveAtItsEndPoint) {
  // A mark error pending before the move: only the opening NOP.
  Start(0, 1);
  RecordMarkFailure("failed before");
  StreamMoveTo({2, 0}, 0.05);
  EXPECT_EQ(Floor().ch0, (Words{{0, SW_NOP}}));
  ExpectCur(2, 0);
  // A stopped job, likewise, in a move of 200 million steps (2000 s of stream time).
  Start(0, 0);
  g_MarkJob.bStopMark = 1;
  FieldPoint from{0, 0};
  uint8_t wrote = 0;
  StreamVector(from, {0.003, 0}, 200000000, wrote);
  EXPECT_EQ(std::tuple(Floor().ch0, GalvoClock(), from.x), std::tuple(Words{{0, SW_NOP}}, int64_t{0}, 0.003));
}

// ---- waits

TEST_F(GalvoTest, JumpAndCornerDelaysAuxWaitsTheDotFrameAndTheEnableWord) {
  // delay: after a move of one step (10 µs; 20 µs for 20 mm at 1 mm/µs)
  struct Case { const char* name; int32_t dMin, dMax, longLen; double length; int64_t delay; double speed = 1.0; };
  const Case cases[] = {
      {"the long-jump length itself: full", 10, 40, 20, 20, 40}, {"half: 25 rounds to 30", 10, 40, 20, 10, 30},
      {"half: 24 rounds to 20", 10, 38, 20, 10, 20}, {"half: 24.5 rounds to 25, then 30", 0, 49, 20, 10, 30},
      {"long-jump length 0: always full", 10, 40, 0, 5, 40}, {"negative delays wait nothing", -100, -50, 20, 0, -90},
      {"jump speed 0: one step", 10, 40, 20, 20, 40, 0.0}, {"NaN jump speed: one step", 10, 40, 20, 20, 40, kNaN},
  };
  for (const Case& c : cases) {
    QZ_TRACE(c.name);
    Start(0, 0, -3, 1);
    g_Scan.nJumpDelayMin = c.dMin;
    g_Scan.nJumpDelayMax = c.dMax;
    g_Scan.nLongJumpLen = c.longLen;
    EXPECT_EQ(StreamJumpTo({-3 + c.length, 1}, c.speed), c.delay);  // 10 mm per step
    EXPECT_EQ(g_Scan.dbPrevX, -3);
    const int64_t moved = c.length == 20 && c.speed == 1.0 ? 20 : 10;
    const TimedWord last = Floor().ch0.back();
    if (c.delay > 0) {
      EXPECT_EQ(last, (TimedWord{static_cast<uint64_t>(moved + c.delay), SW_NOP}));
    } else {
      EXPECT_EQ(last.time, static_cast<uint64_t>(moved));
      EXPECT_NE(last.word, SW_NOP);
    }
    EXPECT_EQ(GalvoClock(), static_cast<int64_t>(last.time));
  }
  // Corner delays (wait: after the move's one step at 10).
  struct Corner { const char* name; int32_t bits21; double length, angle; int64_t wait; } corners[] = {
      {"180°: full", 0, 1, kPi, 100}, {"45°: half", 0, 1, kPi / 4, 50},
      {"0.3 rad: 19.6 truncates to 19, then 20", 0, 1, 0.3, 20}, {"straight on", 0, 1, 0, 0},
      {"NaN angle", 0, 1, kNaN, 0}, {"21-bit move that wrote no pair", 1, 0.00005, kPi, 0},
  };
  for (const Corner& c : corners) {
    QZ_TRACE(c.name);
    Start(0, c.bits21);
    g_Scan.dbMarkSpeed = 1.0;
    g_Scan.nPolygonDelay = 100;
    StreamMoveWithAngleDelay({c.length, 0}, c.angle);
    EXPECT_EQ(std::tuple(LineEndTime(), GalvoClock(), Floor().ch0.size(), Floor().ch0.back().time),
              std::tuple(10, 10 + c.wait, c.wait ? 4u : 3u, static_cast<uint64_t>(10 + c.wait)));
  }
  // Aux waits of nothing add nothing.
  Start(0, 0);
  GalvoClock() = 40;
  AppendAuxWait(0);
  AppendAuxWait(7);
  EXPECT_EQ(std::tuple(Floor().ch0, GalvoClock()), std::tuple(Words{{47, SW_NOP}}, 47));
  LineStartTime() = 99;
  StreamStartRecords(20, 300);
  EXPECT_EQ(Floor().ch0, (Words{{47, SW_NOP}, {0, SW_NOP}, {320, SW_NOP}}));
  EXPECT_EQ(std::tuple(LineStartTime(), LineEndTime(), GalvoClock(), Floor().clock), std::tuple(0, 300, 47, 0u));
  // An enable output switched with every segment goes out the ready delay (100 µs) ahead, at the merged time.
  Start(0, 0);
  CLaser& l = g_Laser[0];
  l.bEnableEachSegment = 1;
  l.nEnableBit = 25;
  l.dbReadyAfterEnableMS = 0.1;
  l.nPulseHighTicks = l.nPulseLowTicks = 240;
  g_MarkData2Fifo.Reset();
  AppendAuxWait(1000);
  g_MarkData2Fifo.MergeChannels(0);
  l.On(1100, 1600);
  g_MarkData2Fifo.MergeChannels(0);
  EXPECT_EQ(g_MarkData2Fifo.vMerged[1], (TimedWord{1000, 0x22008008}));
  EXPECT_FALSE(MarkFailed());
}

}  // namespace
}  // namespace qztest
