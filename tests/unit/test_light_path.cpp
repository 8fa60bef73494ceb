// The light-path handshakes as exact words and times: every light-path type with both kinds of
// request and release, the answer through the switch card or through inputs, the idle wait skipped,
// jobs without laser in red mode, the switch card's wait word of the two-laser types, the switch
// flags cleared by the parameter reader, and the named waits as they stood when they were looked up.
#include <string>
#include <vector>

#include "frame/wait_desc.h"
#include "laser/light_path.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

// Outputs of the handshakes in these tests and their words.
constexpr uint32_t kApplySet = 0x22100100;  // output 30 (nOssNeedApplyIO)
constexpr uint32_t kApplyClear = 0x22100000;
constexpr uint32_t kHostSet = 0x20008008;   // output 3 (master trigger)
constexpr uint32_t kHostClear = 0x20008000;
constexpr uint32_t kDevSet = 0x20020020;    // output 5 (slave ready)
constexpr uint32_t kDevClear = 0x20020000;

// One expected step of a handshake on the main stream.
struct Step {
  char kind;      // 'o' output word (1, 1); 'r' released output (1000, 1000); 'w' named wait;
                  // 'O' the switch card's wait word, then a named wait
  uint32_t arg;   // the output word, or the wait (index into kWaits)
};

// The named waits as the parameter reader builds them for the settings of the fixture: source,
// mask and value (acknowledge input 23, slave-ready inputs from 12, trigger input 11, two slaves).
struct Wait {
  uint32_t source, mask, value;
};
constexpr Wait kWaits[] = {
    {5, 0x10F, 0},            // switch card reached and idle
    {5, 0x3F0F, 0x300},       // path granted
    {1, 0x800000, 0x800000},  // laser idle
    {1, 0x800000, 0},         // laser responds
    {1, 0x3000, 0},           // slaves ready
    {1, 0x800, 0},            // synchronous trigger
    {1, 0x3000, 0x3000},      // slaves ready released
    {1, 0x800, 0x800},        // trigger released
};
enum : uint32_t { kOssIdle, kOssGrant, kLaserIdle, kLaserAck, kSlaveReady, kSynTrig, kSlaveFree, kSynFree };

Step Out(uint32_t w) { return {'o', w}; }
Step W(uint32_t i) { return {'w', i}; }
Step Oss(uint32_t i) { return {'O', i}; }

// The words of the steps from clock 0: a named wait writes the compare register's four lanes 1 µs
// on, its set-up word (no time-out word) 1 µs later and its marker 1 µs after that.
Words Expand(const std::vector<Step>& steps, uint32_t ossWord) {
  Words out;
  uint64_t t = 0;
  auto wait = [&](const Wait& w) {
    for (uint32_t lane = 0; lane < 4; ++lane) {
      out.push_back({t + 1, 0x52000000 | lane});
      out.push_back({t + 1, 0x55000000 | ((w.mask >> 8 * lane) & 0xFF) << 8 | ((w.value >> 8 * lane) & 0xFF)});
    }
    out.push_back({t + 2, 0x58000100 | w.source});
    out.push_back({t + 3, 0x51600020 | (w.source * 2) << 15});
    t += 3;
  };
  for (const Step& s : steps) {
    switch (s.kind) {
      case 'o':
        out.push_back({t + 1, s.arg});
        out.push_back({t + 2, SW_NOP});
        t += 2;
        break;
      case 'r':
        out.push_back({t + 1000, s.arg});
        out.push_back({t + 2000, SW_NOP});
        t += 2000;
        break;
      case 'O':
        out.push_back({t + 100, ossWord});
        out.push_back({t + 101, SW_NOP});
        t += 101;
        wait(kWaits[s.arg]);
        break;
      default:
        wait(kWaits[s.arg]);
        break;
    }
  }
  return out;
}

class LightPathTest : public LaserTest {
 protected:
  void SetUp() override {
    LaserTest::SetUp();
    SystemPara& p = g_SystemPara;
    p.nOssNeedApplyIO = 30;
    p.nIO_OSS_Energy_Host_Trig_O = 3;
    p.nIO_OSS_Energy_Dev_Ready_O = 5;
    p.nIO_OSS_Energy_Host_Ready_I = 12;
    p.nIO_OSS_Energy_Trig_I = 11;
    p.bOssCusApplyAckIO = 1;
    p.nOssNeedAckIO = 23;
  }
  // The light path of OSS_TYPE `type` as the parameter reader leaves it, and its waits looked up.
  static void Configure(int32_t type, int32_t ioInFromOss) {
    SystemPara& p = g_SystemPara;
    p.SetLaserIoFlags(type);
    p.IoInFromOss = ioInFromOss;
    p.InitParaAckPattern();
    p.InitParaWaits();
    LoadLightPathConfig();
  }
};

TEST_F(LightPathTest, HandshakesByTypeAndKind) {
  struct Case {
    const char* name;
    int32_t type, ioInFromOss, ignoreIdle, redMode, laserType;
    uint32_t mode;  // 0 fires the laser, 1 does not
    bool release;
    int32_t kind, apply, wait;
    std::vector<Step> steps;
  } cases[] = {
      {"no light path: request 1", 0, 1, 0, 0, 0, 0, false, 1, 1, 1, {}},
      {"no light path: request 2", 0, 1, 0, 0, 0, 0, false, 2, 1, 1, {}},
      {"no light path: release 1", 0, 1, 0, 0, 0, 0, true, 1, 0, 0, {}},
      {"no light path: release 2", 0, 1, 0, 0, 0, 0, true, 2, 0, 0, {}},
      {"switch 1: request 1", 1, 1, 0, 0, 0, 0, false, 1, 1, 1,
       {Oss(kOssIdle), Out(kApplySet), Oss(kOssGrant)}},
      {"switch 1: apply only", 1, 1, 0, 0, 0, 0, false, 1, 1, 0, {Oss(kOssIdle), Out(kApplySet)}},
      {"switch 1: wait only", 1, 1, 0, 0, 0, 0, false, 1, 0, 1, {Oss(kOssGrant)}},
      {"switch 1: request 2 writes nothing", 1, 1, 0, 0, 0, 0, false, 2, 1, 1, {}},
      {"switch 1: release 1, 1000 µs each side", 1, 1, 0, 0, 0, 0, true, 1, 0, 0, {{'r', kApplyClear}}},
      {"switch 1: release 2 waits for the grant", 1, 1, 0, 0, 0, 0, true, 2, 0, 0, {Oss(kOssGrant)}},
      {"switch 1 on inputs: request 1", 1, 0, 0, 0, 0, 0, false, 1, 1, 1,
       {W(kLaserIdle), Out(kApplySet), W(kLaserAck)}},
      {"switch 1 on inputs, idle ignored", 1, 0, 1, 0, 0, 0, false, 1, 1, 1, {Out(kApplySet), W(kLaserAck)}},
      {"switch 1 on inputs: release 2", 1, 0, 0, 0, 0, 0, true, 2, 0, 0, {W(kLaserAck)}},
      {"switch 1, laser type 7", 1, 1, 0, 0, 7, 0, false, 1, 0, 1, {Oss(kOssGrant)}},
      {"switch 1, laser type 5", 1, 1, 0, 0, 5, 0, false, 1, 1, 0, {Oss(kOssIdle), Out(kApplySet)}},
      {"switch 2: request 1 writes nothing", 2, 1, 0, 0, 0, 0, false, 1, 1, 1, {}},
      {"switch 2: request 2", 2, 1, 0, 0, 0, 0, false, 2, 1, 1, {Oss(kOssIdle), Out(kApplySet), Oss(kOssGrant)}},
      {"switch 2: release 1", 2, 1, 0, 0, 0, 0, true, 1, 0, 0, {{'r', kApplyClear}}},
      {"switch 2: release 2", 2, 1, 0, 0, 0, 0, true, 2, 0, 0, {Oss(kOssGrant), Out(kApplyClear), Oss(kOssIdle)}},
      {"switch 2 on inputs: release 2", 2, 0, 0, 0, 0, 0, true, 2, 0, 0,
       {W(kLaserAck), Out(kApplyClear), W(kLaserIdle)}},
      {"switch 2 on inputs, idle ignored: release 2", 2, 0, 1, 0, 0, 0, true, 2, 0, 0,
       {W(kLaserAck), Out(kApplyClear)}},
      {"slave: request 2", 3, 0, 0, 0, 0, 0, false, 2, 0, 1, {Out(kDevSet), W(kSynTrig), Out(kDevClear)}},
      {"slave: request 2 without wait", 3, 0, 0, 0, 0, 0, false, 2, 1, 0, {}},
      {"slave: release 2", 3, 0, 0, 0, 0, 0, true, 2, 0, 0, {W(kSynFree)}},
      {"slave: release 1", 3, 0, 0, 0, 0, 0, true, 1, 0, 0, {}},
      {"master of 2: request 2", 5, 0, 0, 0, 0, 0, false, 2, 0, 1, {W(kSlaveReady), Out(kHostSet), W(kSynTrig)}},
      {"master of 2: release 2", 5, 0, 0, 0, 0, 0, true, 2, 0, 0, {Out(kHostClear), W(kSlaveFree), W(kSynFree)}},
      {"master: request 1", 5, 0, 0, 0, 0, 0, false, 1, 1, 1, {}},
      {"kind 3", 1, 1, 0, 0, 0, 0, false, 3, 1, 1, {}},
      {"kind 3 released", 1, 1, 0, 0, 0, 0, true, 3, 0, 0, {}},
      {"red mode, job without laser: request", 1, 1, 0, 1, 0, 1, false, 1, 1, 1, {}},
      {"red mode, job without laser: release", 1, 1, 0, 1, 0, 1, true, 1, 0, 0, {}},
      {"red mode, job without laser: master", 5, 0, 0, 1, 0, 1, false, 2, 0, 1, {}},
      {"red mode, job with laser", 1, 1, 0, 1, 0, 0, true, 1, 0, 0, {{'r', kApplyClear}}},
      {"job without laser, red mode off", 2, 1, 0, 0, 0, 1, true, 1, 0, 0, {{'r', kApplyClear}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.bIgnoreOssIdle = c.ignoreIdle;
    g_SystemPara.nRedModeNoOss = c.redMode;
    g_SystemPara.LASER_TYPE = c.laserType;
    Configure(c.type, c.ioInFromOss);
    const uint32_t rc = c.release ? AppendLightPathRelease(c.kind) : AppendLightPathRequest(c.kind, c.apply, c.wait);
    EXPECT_EQ(rc, 0u);
    const uint32_t ossWord = c.laserType == 5 || c.laserType == 7 ? 0x7500000F : 0x75000007;
    EXPECT_EQ(Floor().ch3, Expand(c.steps, ossWord));
    EXPECT_EQ(Floor().clock, Floor().ch3.empty() ? 0u : Floor().ch3.back().time);
  }
}

TEST_F(LightPathTest, SwitchFlagsClearedByTheReaderMeanNoHandshakeAtAll) {
  // OSS_TYPE 1 in a configuration that switches laser parameters while the laser is on: the reader
  // clears the switch flags (and IoInFromOss) but not the type-1 flag. Neither request nor release
  // touches the switch card, so the request output can never be left set.
  Configure(1, 1);
  g_SystemPara.bOssType2 = 0;
  g_SystemPara.bOssType1Or2 = 0;
  g_SystemPara.IoInFromOss = 0;
  EXPECT_EQ(EffectiveOssType(), 0);
  for (int32_t kind : {1, 2}) {
    AppendLightPathRequest(kind, 1, 1);
    AppendLightPathRelease(kind);
  }
  EXPECT_TRUE(Floor().ch3.empty());
}

TEST_F(LightPathTest, EffectiveType) {
  for (int32_t type = -1; type <= 8; ++type) {
    g_SystemPara.nEnergySplitSlaves = 0;
    g_SystemPara.SetLaserIoFlags(type);
    EXPECT_EQ(EffectiveOssType(), type >= 1 && type <= 6 ? type : 0) << type;
  }
}

TEST_F(LightPathTest, WaitsAreThoseOfTheLastLookUp) {
  Configure(1, 1);
  // A table published after the look-up does not change the words; a new look-up takes it.
  WaitDescMap table = BaseWaitDescs();
  AddWaitDesc(table, 7, 0xAB, 0xCD, "等待分光卡光路申请反馈");
  g_mapWaitDesc.Publish(table);
  AppendOssWaitStep(LightPathWait::kOssGrant);
  EXPECT_EQ(Floor().ch3, Expand({Oss(kOssGrant)}, 0x75000007));

  LoadLightPathConfig();
  Job(0);
  AppendOssWaitStep("等待分光卡光路申请反馈");
  ASSERT_EQ(Floor().ch3.size(), 12u);
  EXPECT_EQ(Floor().ch3[3], (TimedWord{102, 0x5500ABCD}));
  EXPECT_EQ(Floor().ch3[11], (TimedWord{104, 0x51670020}));

  // A wait the table no longer holds writes nothing after the wait word, and is logged.
  g_mapWaitDesc.Publish({});
  LoadLightPathConfig();
  Job(0);
  AppendOssWaitStep(LightPathWait::kOssIdle);
  EXPECT_EQ(Floor().ch3, (Words{{100, 0x75000007}, {101, SW_NOP}}));
  EXPECT_TRUE(HasLine(ErrorLines(), "no such wait condition: 等待分光卡通讯成功且空闲"));
}

TEST_F(LightPathTest, OssWaitStepByAnotherName) {
  Configure(1, 1);
  // Not a light-path wait: looked up in the table as any named wait (a platform condition).
  AppendOssWaitStep("等待平台到位");
  ASSERT_EQ(Floor().ch3.size(), 12u);
  EXPECT_EQ(Floor().ch3[0], (TimedWord{100, 0x75000007}));
  EXPECT_EQ(Floor().ch3[3], (TimedWord{102, 0x55001110}));
  EXPECT_EQ(Floor().ch3[10], (TimedWord{103, 0x58000104}));
}

}  // namespace
}  // namespace qztest
