// The common frame of the mark-list commands at unit level: the mapping of what a body throws, the
// entry line at its level, and the job whose start failed (the rest through the exports, e2e).
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "cardlink/card_open.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/fifo_data.h"
#include "mark/mark_floor.h"
#include "mark/mark_job.h"
#include "mark/mark_member.h"
#include "support/sim_card.h"

namespace {

constexpr MarkMember kMember{"QZ_TestMember", KIND_IO, LOG_TRACE, EntryText::kEmpty};

class MarkMemberTest : public qztest::SimCardTest {
 protected:
  void SetUp() override {
    Stage(0);
    ASSERT_EQ(OpenLink(), 0u);
    ASSERT_TRUE(ReadAndCheckCardVersion());
    g_SystemPara.HowLongTimeFirstBuf = 20000;
    g_SystemPara.nSteadyWindowUs = 12000;
    CFifoData::ReadBufferPara(false);
    CMarkLock lock;
    CMarkJob::InitJob(1);
  }
  void TearDown() override {
    g_MarkJob.Reset();
    g_bRunFlag = 0;
    SimCardTest::TearDown();
  }
  uint32_t Run(const std::function<uint32_t()>& body) {
    return RunMarkMember(kMember, {}, [&] { return body(); });
  }
};

TEST_F(MarkMemberTest, WhatABodyThrowsBecomesTheResultAndTheGuardIsReleased) {
  struct Case {
    const char* name;
    std::function<uint32_t()> body;
    uint32_t rc;
    size_t boxes;
  } cases[] = {
      {"refusal", [] { return 2u; }, 2, 0},
      {"shown failure", []() -> uint32_t { throw MyException(RV_LAYER_NUMBER_OVER, 1); }, 6, 1},
      {"lost card", []() -> uint32_t { throw MyException(RV_CARD_NOT_CONNECTED, 0); }, 1, 0},
      {"memory", []() -> uint32_t { throw std::bad_alloc(); }, 38, 1},
      {"anything else", []() -> uint32_t { throw std::runtime_error("odd"); }, 2, 0},
  };
  size_t boxes = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.body), c.rc) << c.name;
    EXPECT_EQ(g_MarkJob.g_bMarkCallBusy.load(), 0u) << c.name;
    EXPECT_EQ(g_pCurFloor, nullptr) << c.name;
    boxes += c.boxes;
    EXPECT_EQ(Boxes().size(), boxes) << c.name;
  }
  // Memory is reported under the member's name, and the job goes on.
  bool named = false;
  for (const auto& l : ErrorLines()) named |= l.find("] QZ_TestMember:") != std::string::npos;
  EXPECT_TRUE(named);
  EXPECT_EQ(Run([] { return 0u; }), 0u);
}

TEST_F(MarkMemberTest, JobWhoseStartFailedTakesNothing) {
  g_MarkJob.nMarkState = kMarkStateStarting;
  cardsim_log_clear_();
  bool ran = false;
  EXPECT_EQ(Run([&] { return ran = true, 0u; }), 0u);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(Frames().empty());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(MarkMemberTest, EntryLineAtItsLevelInItsFormat) {
  struct Case {
    MarkMember m;
    EntryValue v;
    const char* line;  // nullptr: no line
  } cases[] = {
      {{"QZ_A", KIND_IO, LOG_TRACE, EntryText::kEmpty}, {}, "[TRACE]"},
      {{"QZ_B", KIND_IO, LOG_INFO, EntryText::kInt}, EntryValue(-12), "[INFO]"},
      {{"QZ_C", KIND_IO, LOG_TRACE, EntryText::kReal2}, EntryValue(3.14159), "[TRACE]"},
      {{"QZ_D", KIND_IO, LOG_INFO, EntryText::kReal3}, EntryValue(2.5), "[INFO]"},
      {{"QZ_E", KIND_IO, LOG_INFO, EntryText::kNoLine}, {}, nullptr},
  };
  const char* texts[] = {"QZ_A:", "QZ_B:-12", "QZ_C:3.14", "QZ_D:2.500", "QZ_E"};
  g_Link.g_bConnected = 0;  // no card: the entry line is all a member writes
  for (int level : {LOG_INFO, LOG_TRACE}) {
    g_InfoLog.SetMinLevel(level);
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      const size_t before = InfoLines().size();
      EXPECT_EQ(MarkMemberFrame(c.m, c.v, MemberStep(), MemberStep([] { return 0u; })), 1u);
      const auto lines = InfoLines();
      const bool written = c.line && (level == LOG_TRACE || std::string(c.line) == "[INFO]");
      ASSERT_EQ(lines.size(), before + (written ? 1 : 0)) << texts[i] << " at " << level;
      if (!written) continue;
      EXPECT_EQ(lines.back().rfind(c.line, 0), 0u) << lines.back();
      const std::string tail = std::string("] ") + texts[i];
      EXPECT_EQ(lines.back().substr(lines.back().size() - tail.size()), tail);
    }
  }
  g_InfoLog.SetMinLevel(LOG_INFO);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
