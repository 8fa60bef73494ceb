// Run control and job queries through the loaded library: commands sent, answers read, refusals, loss.

#include "e2e/card_host.h"

namespace {

using qztest::kParaKey;

using RunControlHost = qztest::CardHost;

// QZ_Control sends its flags and reads status bit 9; QZ_GetMarkInfo is status word 1 with the running bit.
TEST_F(RunControlHost, ControlAndMarkInfo) {
  Stage(0);
  ASSERT_EQ(InitCard(), 0u);
  struct Case {
    uint32_t first, second;
    bool withState;
    uint32_t alarms;  // status word 0 bits
    std::vector<Frame> sent;
    uint32_t state;
  } cases[] = {
      {0, 0, false, 0, {}, 0},
      {7, 9, true, 1u << 9, {{82, 0, 0x100}, {82, 0, 0x80}, {85, 0, 0}}, 1},
      {0, 3, false, 0, {{82, 0, 0x80}}, 0},
      {0, 0, true, 1u << 8 | 1u << 10, {{85, 0, 0}}, 0},
  };
  for (const Case& c : cases) {
    cardsim_set_alarms_(c.alarms, 0);
    cardsim_log_clear_();
    uint32_t state = 0xDEAD;
    EXPECT_EQ(QZ(Control)(c.first, c.second, c.withState ? &state : nullptr), 0u);
    EXPECT_EQ(Sent(), c.sent) << c.first << " " << c.second;
    EXPECT_EQ(state, c.withState ? c.state : 0xDEADu) << c.alarms;
  }
  struct InfoCase {
    uint32_t run, alarms, info;
  } infoCases[] = {{1, 1u << 4, 3u << 21 | 2u << 16 | 0x1200 | 1}, {2, 0xFFFFFF78, 3u << 21 | 2u << 16 | 0x1200}};
  for (const InfoCase& c : infoCases) {
    cardsim_set_run_state_(c.run, 3, 2);
    cardsim_set_status_flags_(0x12FF);
    cardsim_set_alarms_(c.alarms, 0);
    cardsim_log_clear_();
    uint32_t info = 0xDEAD;
    EXPECT_EQ(QZ(GetMarkInfo)(&info), 0u);
    EXPECT_EQ(info, c.info) << c.run;
    EXPECT_EQ(Sent(), (std::vector<Frame>{{85, 0, 0}}));
  }
}

// Without a card each export returns 1; with one a null out-pointer is refused with 2. Neither sends
// anything, and the job figures never ask the card. A card lost in the middle of a job gives 1.
TEST_F(RunControlHost, NoCardNullPointersAndACardLostInAJob) {
  Stage(0);
  uint32_t v = 0xDEAD;
  for (uint32_t rc : {QZ(Mark_Stop)(), QZ(Control)(1, 1, &v), QZ(GetMarkInfo)(&v), QZ(GetMarkTime)(&v),
                      QZ(GetMarkLineCnt)(&v)})
    EXPECT_EQ(rc, 1u);
  EXPECT_EQ(v, 0xDEADu);
  EXPECT_TRUE(Frames().empty());
  ASSERT_EQ(InitCard(), 0u);
  cardsim_log_clear_();
  for (uint32_t rc : {QZ(GetMarkInfo)(nullptr), QZ(GetMarkTime)(nullptr), QZ(GetMarkLineCnt)(nullptr)})
    EXPECT_EQ(rc, 2u);
  EXPECT_EQ(QZ(GetMarkTime)(&v), 0u);
  EXPECT_EQ(QZ(GetMarkLineCnt)(&v), 0u);
  EXPECT_TRUE(Frames().empty());
  EXPECT_TRUE(lib->Boxes().empty());
  // A card lost inside a stop or a status read while a job is open: 1 without a box; the job does not
  // keep the library busy, and the card opens again.
  for (bool stop : {true, false}) {
    ASSERT_EQ(InitCard(), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    cardsim_fault_lose_at_(1);
    EXPECT_EQ(stop ? QZ(Mark_Stop)() : QZ(Control)(0, 0, &v), 1u) << stop;
    cardsim_fault_lose_at_(0);
    EXPECT_EQ(MarkEnd(0), 1u);
  }
  ASSERT_EQ(InitCard(), 0u);
  ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  EXPECT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
