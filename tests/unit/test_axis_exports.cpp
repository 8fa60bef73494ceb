// Axis codes, home orders and the axis INI files; on the simulated card, the exports' and UpdateMotorPara's
// frames (moves, jogs, homing, reads, stops, records), their refusals, and QZ_Test under the test clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <tuple>

#include "axis/axis_codes.h"
#include "axis/axis_commands.h"
#include "axis/axis_motion.h"
#include "axis/axis_records.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "platform/clock.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "markbase/job_state.h"
#include "platform/files.h"
#include "qzmark.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"
#include "support/sim_card.h"
#include "support/trace.h"

namespace {

TEST(AxisCodes, ConversionsHomeModesAndTheAxisFile) {
  using C = AxisValueCodes;
  struct Case { const char* what; uint32_t got, want; } cases[] = {
      // The plain codes go out in AxisExportTest's frames.
      {"rounds to 0", C::Position(-0.004, 100), 8388607},    {"far below", C::Position(-1e9, 100), 1},
      {"far above", C::Position(1e9, 100), 16777214},        {"NaN position", C::Position(NAN, 100), 1},
      {"velocity 0", C::Velocity(0, 100), 0xFFFFFFFF},       {"start beyond 24 bits", C::Start(838861), 0xFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  const struct { int16_t o[4]; uint32_t list; } orders[] = {
      {{15, 15, 15, 15}, 0xFFFF}, {{3, 2, 1, 0}, 0x0123}, {{0, 0, 0, 0}, 0x3210}, {{-1, 4, 1, 1}, 0xFF32}};
  for (const auto& c : orders) EXPECT_EQ(HomeOrderList(c.o), c.list) << c.o[0] << c.o[1] << c.o[2] << c.o[3];
  // HOMEMODE, the mode of an old-style file, of a new-style file
  const uint32_t modes[][3] = {{0, 0, 1}, {1, 1, 0}, {2, 6, 7}, {3, 7, 6}, {5, 15, 14}, {~0u, 15, 14}};
  for (const auto& m : modes) {
    const int32_t key = static_cast<int32_t>(m[0]);
    EXPECT_EQ(std::pair(MapHomeMode(key, false), MapHomeMode(key, true)), std::pair(m[1], m[2])) << key;
  }
  // The axis file chosen from the library folder.
  const struct { const char* dir; int32_t flag; const char* path; bool newStyle; } files[] = {
      {"/a/QuenloDLL0/", 0, "/a/ini/MoveCardPara/Card1AxisPara.ini", true},
      {"/a/QuenloDLL1/b/", 0, "/a/ini/MoveCardPara/Card2AxisPara.ini", true},
      {"/a/b/", 1, "/a/b/ini/Card1AxisPara.ini", true},
      {"/a/b/", 0, "/a/b/ini/DeviceNXA.ini", false},
  };
  for (const auto& c : files) {
    const AxisParaIni f = ChooseAxisParaIni(qztest::NativePath(c.dir), c.flag);
    EXPECT_EQ(std::tuple(f.path, f.bNewStyle), std::tuple(qztest::NativePath(c.path), c.newStyle)) << c.dir;
  }
}

class AxisIniTest : public qztest::LibFolderTest {
 protected:
  // The record of axis `index` read from `text` as the axis file chosen by `flag`, described.
  std::string Read(int32_t flag, const std::string& text, uint32_t index = 0) {
    const AxisParaIni f = ChooseAxisParaIni(GetModuleDir(), flag);
    if (!text.empty()) {
      EXPECT_TRUE(plat::WriteWholeFile(f.path, text));
    }
    int32_t lmt = -1;
    const NxaAxisRecord r = ReadAxisRecord(f, index, lmt);
    plat::DeleteFilePath(f.path);
    return StrFormat("rot %u p %.17g scale %.17g mode %u home %g %g %g %g %g stop %g sense %u %u %u enc %u "
                     "max %g %g lmt %d", r.bRotary, r.dbPulsePerUnit, r.dbRotaryScale, r.nHomeMode,
                     r.dbHomeLowVel, r.dbHomeLowAcc, r.dbHomeDist, r.dbHomeHighVel, r.dbHomeHighAcc, r.dbStopAcc,
                     r.nSense1, r.nSense2, r.nSense3, r.nEncSense, r.dbMaxVel, r.dbMaxAcc, lmt);
  }
};

TEST_F(AxisIniTest, DefaultsEveryKeyOfBothStylesAndRefusedValues) {
  const std::string oldKeys =
      "[AXIS2]\nHOMELACC=210\nHOMEDIS=-3.5\nHOMEHACC=220\nHOMEHVEL=55\nHOMELVEL=6\nHOMEMODE=2\nMODE=0\nAxisMode=1\n"
      "REDUCE=2\nPULSEPRESCREW=5000\nSCREW=4\nLMTSNSUP=1\nLmtEnable=0\nENCSNS=3\nENSSns=0\nPtoPMoveHAcc=7\n"
      "[COMMON]\nSTPACC=1500\nMAXVEL=250\nMAXACC=450\n[SYSTEM]\nMAXVEL=1\n";
  const std::string newKeys =
      "[AXIS1]\nAxisMode=1\nMODE=0\nRADIO=10\nSCREW=1\nHOMEMODE=3\nPtoPMoveHAcc=800\nENSSns=2\nENCSNS=0\n"
      "[SYSTEM]\nMAXVEL=120\nMAXACC=140\n[COMMON]\nSTPACC=9\nMAXVEL=9\n";
  const struct { int32_t flag; std::string text; uint32_t index; const char* want; } cases[] = {
      {0, "", 0, "rot 0 p 100 scale 0 mode 0 home 5 200 10 50 200 stop 1000 sense 0 0 0 enc 0 max 300 500 lmt 1"},
      {1, "", 0, "rot 0 p 100 scale 0 mode 1 home 5 200 10 50 200 stop 1000 sense 0 0 0 enc 0 max 300 500 lmt 1"},
      {0, oldKeys, 1,
       "rot 0 p 2500 scale 0 mode 6 home 6 210 -3.5 55 220 stop 1500 sense 1 1 1 enc 3 max 250 450 lmt 0"},
      {1, newKeys, 0,
       "rot 1 p 2.7777777777777777 scale 5.7295779513082321 mode 6 home 5 200 10 50 200 stop 800 sense 0 0 0 enc 2 "
       "max 120 140 lmt 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.flag, c.text, c.index), c.want) << c.text;
  // A refused value stops UpdateMotorPara before a record changes or a command goes out (no card).
  g_SystemPara.CardLinkCfg.nAxisCount = 2;
  g_SystemPara.bNewAxisFileName = 0;
  NxaAxisRecord before;
  before.dbPulsePerUnit = 7;
  const char* kAbove = "a finite number above 0";
  const struct { const char* text; const char* key; const char* need; } refusals[] = {
      {"[AXIS1]\nSCREW=0\n", "[AXIS1] SCREW = \"0\"", kAbove},
      {"[AXIS2]\nPULSEPRESCREW=abc\n", "[AXIS2] PULSEPRESCREW = \"abc\"", kAbove},
      {"[AXIS1]\nHOMELVEL=nan\n", "[AXIS1] HOMELVEL = \"nan\"", kAbove},
      {"[AXIS2]\nHOMEDIS=inf\n", "[AXIS2] HOMEDIS = \"inf\"", "a finite number"},
      {"[COMMON]\nSTPACC=0\n", "[COMMON] STPACC = \"0\"", kAbove},
      {"[COMMON]\nMAXACC=-1\n", "[COMMON] MAXACC = \"-1\"", kAbove},
      {"[AXIS1]\nMODE=1\nRADIO=1e-320\n", "[AXIS1] 360 / (RADIO x 2 pi) = \"inf\"", kAbove},
      {"[AXIS1]\nPULSEPRESCREW=1e300\nREDUCE=1e300\n", "[AXIS1] PULSEPRESCREW x REDUCE / SCREW = \"inf\"", kAbove},
  };
  for (const auto& c : refusals) {
    QZ_TRACE(c.text);
    ClearLogs();
    NxaStoreAxis(0, before);
    WriteFile("ini/DeviceNXA.ini", c.text);
    qztest::ExpectCode(RV_EXT_PARA_OVERFLOW, 0, [] { UpdateMotorPara(); });
    EXPECT_EQ(NxaGetAxis(0).dbPulsePerUnit, 7);
    const std::string want =
        "Axis file " + dir.File("ini/DeviceNXA.ini") + ": " + c.key + " is refused: it must be " + c.need;
    std::string box = "topmost ok: ";  // the box log doubles backslashes
    for (char ch : want) box += ch == '\\' ? std::string(2, ch) : std::string(1, ch);
    EXPECT_EQ(Boxes(), std::vector<std::string>{box});
    EXPECT_TRUE(qztest::HasLine(ErrorLines(), "UpdateMotorPara:" + want));
  }
}

using Frame = std::tuple<uint32_t, uint32_t, uint32_t>;
using FrameList = std::vector<Frame>;

class AxisExportTest : public qztest::SimCardTest {
 protected:
  // A card with the default axis records (100 pulses per mm, maximum velocity 300, home mode 0, home
  // distance 10, home high velocity 50, acceleration 200) unless `axisFile` says otherwise.
  void Open(int cardType = 0, const std::string& config = "", const std::string& axisFile = "", bool update = true) {
    Stage(cardType, config);
    if (!axisFile.empty()) {
      ASSERT_TRUE(plat::WriteWholeFile(GetModuleDir() + qztest::NativePath("ini/DeviceNXA.ini"), axisFile));
    }
    ASSERT_EQ(OpenLink(), 0u);
    g_CmdNumTable.Fill(true);
    if (update) UpdateMotorPara();
    cardsim_log_clear_();
  }
  void TearDown() override {
    g_CmdNumTable = CmdNumTable{};
    for (uint32_t k = 0; k < kNxaAxisMax; ++k) NxaStoreAxis(k, NxaAxisRecord{});
    g_MarkJob.Reset();
    SimCardTest::TearDown();
  }
  // The axis commands (0x120..0x135 and 33) since the last clear.
  FrameList AxisCommands() {
    FrameList out;
    for (const Frame& f : Sent()) {
      const uint32_t c = std::get<0>(f);
      if ((c >= 0x120 && c <= 0x135) || c == CMD_INPUT) out.push_back(f);
    }
    return out;
  }
  // The error lines of QZ_Test giving up on axis 1 still moving (status 0x10) `after`.
  size_t GaveUp(const std::string& after) {
    const std::string line = "QZ_Test:axis 1 still moving " + after + " (status 0x10)";
    size_t n = 0;
    for (const std::string& l : ErrorLines()) n += l.find(line) != std::string::npos;
    return n;
  }
};

TEST_F(AxisExportTest, FramesOfMovesJogsSettersManualModeLegacyNumbersAndReads) {
  Open(1);
  const struct { const char* what; std::function<uint32_t()> call; FrameList want; } cases[] = {
      {"move axis 1 to 100 at 10", [] { return QZ_NXA_AxisMove(1, 100, 7, 10, 100); },
       {{0x120, 0xF4240, 50000}, {0x121, 1125, 1125}, {0x125, 0x180270F, 0}}},
      {"velocity clamped to 300", [] { return QZ_NXA_AxisMove(3, 100, 0, 1000, -10); },
       {{0x120, 0x20000000 | 33320, 1666}, {0x121, 0x20000000 | 1125, 1125}, {0x125, 0x21000000 | 8387607, 0}}},
      {"velocity +inf clamped to 300", [] { return QZ_NXA_AxisMoveJOG(1, 100, 0, INFINITY, 1); },
       {{0x120, 33320, 1666}, {0x121, 1125, 1125}, {0x125, 0x1FFFFFE, 2}}},
      {"jog direction 0", [] { return QZ_NXA_AxisMoveJOG(2, 100, 0, 10, 0); },
       {{0x120, 0x100F4240, 50000}, {0x121, 0x10000000 | 1125, 1125}, {0x125, 0x11000001, 2}}},
      {"home modes and order", [] { return QZ_NXA_SetHomeMode(0, 1, 6, 7, 2, 0, 15, 1); }, {{0x12B, 0x7610, 0xF031}}},
      {"soft home 5 twice", [] { return QZ_NXA_SetAxisSoftHome(1, 5.0) | QZ_NXA_SetAxisSoftHome(1, 5.0); },
       {{0x12F, 0, 8389107}, {0x12F, 0, 8388607}}},
      {"current position", [] { return QZ_NXA_SetCurPos(2, -1.5); }, {{0x135, 0x10000000, 8388457}}},
      {"gear", [] { return QZ_NXA_SetAxisGearRatio(3, 0x1001, 2, 3, 0xFFF4); },
       {{0x127, 0x20002001, 0xFF4003}}},
      {"stop acceleration", [] { return QZ_NXA_SetAxisStopAcc(2, 200); }, {{0x12C, 0x10000000 | 2251, 0}}},
      {"stop bits", [] { return QZ_NXA_StopAxis(1, 0, -1, 7); }, {{0x12D, 13, 0}}},
      {"home all", [] { return QZ_NXA_SearchHomeAll(); }, {{0x125, 0x1000000, 1}}},
      {"manual mode on PCIe", [] { return QZ_NXA_SetSTKManualMode(3, 5, 2, 0x1234); },
       {{0x132, 0x31, 1}, {0x127, 0x234, 0}}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.what);
    cardsim_log_clear_();
    EXPECT_EQ(c.call(), 0u);
    EXPECT_EQ(AxisCommands(), c.want);
  }
  EXPECT_TRUE(Sent(CMD_SET_FLAG).empty());
  // USB: manual mode and the legacy command numbers.
  Open(0);
  cardsim_set_card_version_(63);
  g_CmdNumTable.Fill(false);
  g_Link.g_bCmdSeqOn = 0;
  EXPECT_EQ(QZ_NXA_SetSTKManualMode(3, 5, 2, 0x1234), 0u);
  EXPECT_EQ(AxisCommands(), (FrameList{{0x132, 0x10, 1}, {0x127, 0x234, 0}}));
  EXPECT_EQ(Frames()[0].word, LegacyCmdNum(0x132));
  cardsim_log_clear_();
  uint32_t di = 0;
  cardsim_set_answer_(CMD_INPUT, 0, 0, 0, 0x55);
  EXPECT_EQ(QZ_NXA_GetMotorDi(&di), 0u);
  EXPECT_EQ(di, 0x55u);
  EXPECT_EQ(Frames()[0].word & 0x1FF, 33u);  // a fixed number in either form
  // The reads decode their replies.
  cardsim_log_clear_();
  cardsim_set_answer_(0x126, 0x10000000, 0, 0x410, 0);
  cardsim_set_answer_(0x125, 0x10000000, 0, 0xAB000000u | (8388607 + 250), 0);
  cardsim_set_answer_(0x125, 0, 0, 0, 0xFFFF2220u);
  uint32_t sts = 0, home = 0;
  double pos = -1, none = -1, soft = -1;
  EXPECT_EQ(QZ_NXA_GetAxisSts(2, &sts), 0u);
  EXPECT_EQ(QZ_NXA_GetAxisPos(2, &pos), 0u);
  EXPECT_EQ(QZ_NXA_GetHomeSts(&home), 0u);
  EXPECT_EQ(QZ_NXA_GetAxisPos(0, &none), 0u);
  EXPECT_EQ(QZ_NXA_GetAxisSoftHome(1, &soft), 0u);
  EXPECT_EQ(std::tuple(sts, pos, home, none, soft), std::tuple(0x410u, 2.5, 2u, 0.0, 0.0));
  EXPECT_EQ(AxisCommands(), (FrameList{{0x126, 0x10000000, 0}, {0x125, 0x10000000, 0}, {0x125, 0, 0}}));
}

// Every refusal sends nothing (no stop flag either, except the code 29 of a move, which stops the card's run).
TEST_F(AxisExportTest, RefusalsSendNothingCodesTheCardCannotTakeStopItsRunNoCardAndACardLostWhileHoming) {
  uint32_t u = 0;
  double d = 0;
  const uint32_t got[] = {QZ_NXA_AxisMove(1, 1, 1, 1, 1), QZ_NXA_GetAxisSts(1, &u), QZ_NXA_GetAxisPos(1, &d),
                          QZ_NXA_SearchHome(1), QZ_NXA_SetMotorPara(), QZ_NXA_SetHomeMode(0, 0, 0, 0, 0, 0, 0, 0),
                          QZ_NXA_SetMotorDo(1, 1), QZ_NXA_GetMotorDo(&u)};
  EXPECT_EQ(std::vector<uint32_t>(std::begin(got), std::end(got)), (std::vector<uint32_t>{1, 1, 1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(QZ_Test(), 0u);
  Open(0);
  NxaAxisRecord r = NxaGetAxis(1);
  r.nHomeMode = 15;
  NxaStoreAxis(1, r);
  const std::string over = "topmost ok: " + GetErrText(RV_EXT_AXIS_NUMBER_OVER), e29 = "topmost ok: " + GetErrText(29);
  const struct { const char* what; std::function<uint32_t()> call; uint32_t code; std::string box; } cases[] = {
      {"soft home of axis 3 on USB", [] { return QZ_NXA_SetAxisSoftHome(3, 1.0); }, 15, over},
      {"move of axis 0", [] { return QZ_NXA_AxisMove(0, 100, 0, 10, 1); }, 15, over},
      {"manual mode axis 5", [] { return QZ_NXA_SetSTKManualMode(0, 0, 5, 0); }, 15, over},
      {"home mode 15", [] { return QZ_NXA_SearchHome(2); }, 2, "topmost ok: Home return method not supported"},
      {"NaN move", [] { return QZ_NXA_AxisMove(1, 100, 0, 10, NAN); }, 7, ""},
      {"NaN position", [] { return QZ_NXA_SetCurPos(1, NAN); }, 7, ""},
      {"NaN soft home", [] { return QZ_NXA_SetAxisSoftHome(1, NAN); }, 7, ""},
      {"null status", [] { return QZ_NXA_GetAxisSts(1, nullptr); }, 2, ""},
      {"status of axis INT_MIN", [] { uint32_t s = 0; return QZ_NXA_GetAxisSts(INT32_MIN, &s); }, 15, over},
      {"null position", [] { return QZ_NXA_GetAxisPos(1, nullptr); }, 2, ""},
      {"null home status", [] { return QZ_NXA_GetHomeSts(nullptr); }, 2, ""},
      {"null soft home", [] { return QZ_NXA_GetAxisSoftHome(1, nullptr); }, 2, ""},
      {"null inputs", [] { return QZ_NXA_GetMotorDi(nullptr); }, 2, ""},
      {"stop acceleration 0", [] { return QZ_NXA_SetAxisStopAcc(1, 0); }, 29, e29},
      {"stop acceleration code over 24 bits", [] { return QZ_NXA_SetAxisStopAcc(1, 1e300); }, 29, e29},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.what);
    cardsim_log_clear_();
    std::remove(dir.File("boxes.txt").c_str());
    EXPECT_EQ(c.call(), c.code);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Boxes(), c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.box});
  }
  // Codes the card cannot take: 29, the run stopped; a bad acceleration is found after 0x120 went out.
  const struct { const char* what; double acc, vel; FrameList sent; } codes[] = {
      {"velocity 0", 100, 0, {}}, {"negative velocity", 100, -10, {}}, {"NaN velocity", 100, NAN, {}},
      {"acceleration 0", 0, 10, {{0x120, 0xF4240, 50000}}},
      {"acceleration code over 24 bits", 1e12, 10, {{0x120, 0xF4240, 50000}}},
  };
  for (const auto& c : codes) {
    QZ_TRACE(c.what);
    cardsim_log_clear_();
    EXPECT_EQ(QZ_NXA_AxisMove(1, c.acc, 0, c.vel, 5), 29u);
    EXPECT_EQ(AxisCommands(), c.sent);
    EXPECT_EQ(Sent(CMD_SET_FLAG), (std::vector<qztest::Cmd>{{CMD_SET_FLAG, 0, FLAG_STOP}}));
  }
  // Homing waits on the status without a limit: a card lost during the polls ends it with 1.
  Open(0);
  cardsim_set_answer_(0x126, 0, 0, 0x10, 0);  // moving for ever
  cardsim_fault_lose_at_(40);
  EXPECT_EQ(QZ_NXA_SearchHome(1), 1u);
  const FrameList sent = AxisCommands();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(std::tuple(sent[0], sent[1], sent.back()),
            std::tuple(Frame(0x12B, 0, 0xFFF0), Frame(0x125, 0x1000000, 1), Frame(0x126, 0, 0)));
  EXPECT_GE(clock.slept, 30u);
}

// QZ_Test's waits: the stopped move, a status stuck at 0x10 given up after 60 s, a card lost.
TEST_F(AxisExportTest, AxisTestSearchHomeAndAJogOnTheSimulatedAxes) {
  Open(0);
  cardsim_set_answer_(0x126, 0, 0, 0x400, 0);
  EXPECT_EQ(QZ_Test(), 0u);
  const Frame vel{0x120, 0xF4240, 50000}, acc{0x121, 1125, 1125}, to{0x125, 0x180270F, 0}, zero{0x135, 0, 0x7FFFFF};
  const Frame stop{0x12D, 1, 0}, poll{0x126, 0, 0};
  EXPECT_EQ(AxisCommands(), (FrameList{zero, vel, acc, to, stop, poll, zero, vel, acc, to, poll, zero}));
  EXPECT_EQ(clock.slept, 3000u);
  cardsim_log_clear_();
  cardsim_set_answer_(0x126, 0, 0, 0x10, 0);
  clock.slept = 0;
  EXPECT_EQ(QZ_Test(), 0u);
  // Each wait polls every 10 ms until 60 s of ticks have passed (the test clock also ticks per reading).
  const size_t polls = Sent(0x126).size();
  EXPECT_GT(polls, 2u * 5000u);
  EXPECT_LE(polls, 2u * 6001u);
  EXPECT_EQ(GaveUp("after 60000 ms"), 2u);
  // An axis slower than the test's 10 mm/s waits three times the move's time (100 mm at 2.5 mm/s: 120 s).
  ClearLogs();
  NxaAxisRecord r = NxaGetAxis(0);
  r.dbMaxVel = 2.5;
  NxaStoreAxis(0, r);
  EXPECT_EQ(QZ_Test(), 0u);
  EXPECT_EQ(std::pair(GaveUp("after 120000 ms"), GaveUp("after 60000 ms")), std::pair(size_t{2}, size_t{0}));
  cardsim_fault_lose_at_(8);
  EXPECT_EQ(QZ_Test(), 0u);
  EXPECT_FALSE(g_Link.g_bConnected.load());
  // On the simulated card's axes: homing to 0, then to the home distance of the record.
  Open(1);
  const struct { uint32_t mode; double want; } cases[] = {{0, 10}, {6, 10}, {1, -10}, {7, -10}};
  for (const auto& c : cases) {
    QZ_TRACE(c.mode);
    NxaAxisRecord r = NxaGetAxis(1);
    r.nHomeMode = c.mode;
    NxaStoreAxis(1, r);
    ASSERT_EQ(QZ_NXA_SetCurPos(2, 3.0), 0u);
    ASSERT_EQ(QZ_NXA_SearchHome(2), 0u);
    double pos = 0;
    EXPECT_EQ(QZ_NXA_GetAxisPos(2, &pos), 0u);
    EXPECT_EQ(pos, c.want);
    uint32_t home = 0;
    EXPECT_EQ(QZ_NXA_GetHomeSts(&home), 0u);
    EXPECT_EQ(home, 0x20u);  // axis 2 homed: its bit 0x20 of 0x2222 inverted
  }
  // A jog runs until another thread stops it, or until an enabled limit.
  ASSERT_EQ(QZ_NXA_AxisMoveJOG(1, 100, 0, 10, 1), 0u);
  // The waiting thread polls on the system clock; the other stops the axis once it has run 1 mm.
  plat::SetClock(nullptr);
  std::thread stopper([this] {
    cardsim_axis a{};
    while (cardsim_axis_get_(0, &a) == 0 && a.position < 8388607 + 100) std::this_thread::yield();
    QZ_NXA_StopAxis(1, 0, 0, 0);
  });
  NxaWaitAxisDone(0);
  stopper.join();
  plat::SetClock(&clock);
  uint32_t sts = 0;
  EXPECT_EQ(QZ_NXA_GetAxisSts(1, &sts), 0u);
  EXPECT_EQ(sts, 0x400u);
  double pos = 0;
  ASSERT_EQ(QZ_NXA_GetAxisPos(1, &pos), 0u);
  EXPECT_GT(pos, 0.0);
  // The negative limit of axis 1 at -2 mm, enabled (0x12E bit 25): the jog stops there; the input shows it.
  cardsim_axis_set_switches_(0, 0, 0, 8388607 - 200);
  ASSERT_EQ(SendAxisCmd(0x12E, 1u << 25, 50).r0(), 0u);
  ASSERT_EQ(QZ_NXA_AxisMoveJOG(1, 100, 0, 100, 0), 0u);
  NxaWaitAxisDone(0);
  ASSERT_EQ(QZ_NXA_GetAxisPos(1, &pos), 0u);
  EXPECT_EQ(pos, -2.0);
  uint32_t di = 0;
  EXPECT_EQ(QZ_NXA_GetMotorDi(&di), 0u);
  EXPECT_EQ(di, 4u);
}

// A USB card without an axis file: two default axes, the home modes, limits, flags and the commit.
TEST_F(AxisExportTest, UsbDefaultsPcieLimitsAndALostCardKeepsTheNewRecords) {
  FrameList want;
  for (uint32_t f : {0u, 0x10000000u}) {
    const FrameList axis = {
        {0x12F, f, 8388607},      {0x127, f | 0x2001, 0x8004}, {0x12C, f | 11258, 0},
        {0x122, f | 100000, 10000}, {0x123, f | 2251, 2251},   {0x124, f | 100000, 8389607},
        {0x130, f | 500000, 50000}, {0x131, f | 562, 562}};
    want.insert(want.end(), axis.begin(), axis.end());
  }
  want.insert(want.end(), {{0x12B, 0, 0xFFFF}, {0x12E, 0xF, 50}, {0x133, 0, 0}, {0x134, 1, 0}});
  Open(0, "", "", false);
  NxaAxisRecord stale;
  stale.nHomeMode = 6;
  NxaStoreAxis(2, stale);  // left by a PCIe card: zeroed, so its home mode does not go out
  UpdateMotorPara();
  EXPECT_EQ(Sent(), want);
  EXPECT_EQ(Frames()[0].word, 0x112Fu);  // after the open's command, nibble 1
  // A PCIe card: the limits, the senses and the home modes.
  Open(1, "[MOTOR]\nbEnLimitP0=1\nbEnLimitH0=1\nbEnLimitN1=1\nbEnLimitN2=1\nbEnLimitH2=1\n",
       "[AXIS1]\nLMTSNSUP=1\nENCSNS=1\nHOMEMODE=3\n[AXIS2]\nLmtEnable=0\nHOMEMODE=1\n[AXIS3]\nHOMEMODE=9\n", false);
  UpdateMotorPara();
  const auto cmds = Sent();
  ASSERT_EQ(cmds.size(), 28u);
  // Axis 1: no flag word 1 (bits 0-3), encoder sense (bit 4), senses (12-14), P0 and H0 (24, 26);
  // axis 2's limits are off; axis 3: N2 (31) and H2 (23).
  EXPECT_EQ(FrameList(cmds.end() - 4, cmds.end()),
            (FrameList{{0x12B, 0x0F17, 0xFFFF}, {0x12E, 0x8580701F, 50}, {0x133, 0, 0}, {0x134, 1, 0}}));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: 轴正限位与零点限位不能同时使能！"});
  EXPECT_TRUE(qztest::HasLine(InfoLines(), "UpdateMotorPara:轴正限位与零点限位不能同时使能！"));
  // Lost at the second axis's first command: both records hold their new values.
  Open(0, "", "[AXIS1]\nSCREW=5\n", false);
  cardsim_fault_lose_at_(9);
  qztest::ExpectLost([] { UpdateMotorPara(); });
  EXPECT_EQ(std::tuple(NxaGetAxis(0).dbPulsePerUnit, NxaGetAxis(1).dbPulsePerUnit), std::tuple(200, 100));
}

}  // namespace
