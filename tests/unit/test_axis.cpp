// Axis records from their INI files (defaults, old- and new-style keys, refusals), the axis codes and
// the home order list.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "axis/axis_codes.h"
#include "axis/axis_commands.h"
#include "axis/axis_records.h"
#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"
#include "support/trace.h"

namespace {

using qztest::NativePath;

TEST(AxisCodes, Conversions) {
  using C = AxisValueCodes;
  struct Case { const char* what; uint32_t got, want; } cases[] = {
      {"position 0", C::Position(0, 100), 8388607},          {"position 5", C::Position(5, 100), 8389107},
      {"rounds to 0", C::Position(-0.004, 100), 8388607},    {"far below", C::Position(-1e9, 100), 1},
      {"far above", C::Position(1e9, 100), 16777214},        {"NaN position", C::Position(NAN, 100), 1},
      {"velocity 50", C::Velocity(50, 100), 10000},          {"velocity 0", C::Velocity(0, 100), 0xFFFFFFFF},
      {"start", C::Start(10000), 200000},                    {"start beyond 24 bits", C::Start(838861), 0xFFFFFF},
      {"acceleration 200", C::Accel(200, 100), 2251},        {"field of axis 3", C::Field(2), 0x20000000},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(AxisCodes, HomeOrderListAndHomeModes) {
  const struct { int16_t o[4]; uint32_t list; } orders[] = {
      {{2, 0, 15, 1}, 0xF031}, {{15, 15, 15, 15}, 0xFFFF}, {{3, 2, 1, 0}, 0x0123},
      {{0, 0, 0, 0}, 0x3210},  {{-1, 4, 1, 1}, 0xFF32},
  };
  for (const auto& c : orders) EXPECT_EQ(HomeOrderList(c.o), c.list) << c.o[0] << c.o[1] << c.o[2] << c.o[3];
  // HOMEMODE, the mode of an old-style file, of a new-style file
  const uint32_t modes[][3] = {{0, 0, 1}, {1, 1, 0}, {2, 6, 7}, {3, 7, 6}, {5, 15, 14}, {~0u, 15, 14}};
  for (const auto& m : modes) {
    const int32_t key = static_cast<int32_t>(m[0]);
    EXPECT_EQ(std::pair(MapHomeMode(key, false), MapHomeMode(key, true)), std::pair(m[1], m[2])) << key;
  }
}

TEST(AxisFile, ChosenFromTheLibraryFolder) {
  const struct { const char* dir; int32_t flag; const char* path; bool newStyle; } cases[] = {
      {"/a/QuenloDLL0/", 0, "/a/ini/MoveCardPara/Card1AxisPara.ini", true},
      {"/a/QuenloDLL1/b/", 0, "/a/ini/MoveCardPara/Card2AxisPara.ini", true},
      {"/a/b/", 1, "/a/b/ini/Card1AxisPara.ini", true},
      {"/a/b/", 0, "/a/b/ini/DeviceNXA.ini", false},
  };
  for (const auto& c : cases) {
    const AxisParaIni f = ChooseAxisParaIni(NativePath(c.dir), c.flag);
    EXPECT_EQ(f.path, NativePath(c.path)) << c.dir;
    EXPECT_EQ(f.bNewStyle, c.newStyle) << c.dir;
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

TEST_F(AxisIniTest, DefaultsAndEveryKeyOfBothStyles) {
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
  EXPECT_TRUE(Boxes().empty());
}

// A refused value stops UpdateMotorPara before a record changes or a command goes out (no card is
// open: a command would throw code 1).
TEST_F(AxisIniTest, ValuesAnAxisCannotHaveAreRefused) {
  g_SystemPara.CardLinkCfg.nAxisCount = 2;
  g_SystemPara.bNewAxisFileName = 0;
  NxaAxisRecord before;
  before.dbPulsePerUnit = 7;
  const char* kAbove = "a finite number above 0";
  const struct { const char* text; const char* key; const char* need; } cases[] = {
      {"[AXIS1]\nSCREW=0\n", "[AXIS1] SCREW = \"0\"", kAbove},
      {"[AXIS2]\nPULSEPRESCREW=abc\n", "[AXIS2] PULSEPRESCREW = \"abc\"", kAbove},
      {"[AXIS1]\nHOMELVEL=nan\n", "[AXIS1] HOMELVEL = \"nan\"", kAbove},
      {"[AXIS2]\nHOMEDIS=inf\n", "[AXIS2] HOMEDIS = \"inf\"", "a finite number"},
      {"[COMMON]\nSTPACC=0\n", "[COMMON] STPACC = \"0\"", kAbove},
      {"[COMMON]\nMAXACC=-1\n", "[COMMON] MAXACC = \"-1\"", kAbove},
      {"[AXIS1]\nMODE=1\nRADIO=1e-320\n", "[AXIS1] 360 / (RADIO x 2 pi) = \"inf\"", kAbove},
      {"[AXIS1]\nPULSEPRESCREW=1e300\nREDUCE=1e300\n", "[AXIS1] PULSEPRESCREW x REDUCE / SCREW = \"inf\"", kAbove},
  };
  for (const auto& c : cases) {
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

}  // namespace
