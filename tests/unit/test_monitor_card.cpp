// The monitor against the simulated card: the records of command 87 in both forms, and a quiet
// monitor that sends nothing.
#include <gtest/gtest.h>

#include "frame/system_para.h"
#include "monitor/monitor_thread.h"
#include "support/sim_card.h"

namespace qztest {
namespace {

class MonitorCardTest : public SimCardTest {};

TEST_F(MonitorCardTest, RecordsOfBothFormsReachTheIoWordsAndAPassStopsAtNone) {
  for (uint32_t form : {0u, 1u}) {
    Stage(0);
    ASSERT_EQ(OpenLink(), 0u);
    ResetMonitorState();
    cardsim_debug_form_(form);
    cardsim_debug_queue_(3, 480, 1);
    cardsim_debug_queue_(1, 48, 0x80008000);
    cardsim_debug_queue_(2, 1200, 0xFFFF0800);
    ReadIoDebugRecords();
    const std::vector<uint32_t> expect = {3, 480, 1, 1, 48, 0x80008000, 2, 1200, 0xFFFF0800};
    EXPECT_EQ(g_vecIoWords, expect) << "form " << form;
    EXPECT_EQ(Commands(87).size(), 4u);  // three records and the empty answer
    TearDown();
  }
}

TEST_F(MonitorCardTest, BothSwitchesOffSendNoCommand) {
  Stage(0, "bRecordInThread=0\nbRecordCheck=0\n");
  ASSERT_EQ(OpenLink(), 0u);
  g_SystemPara.InitPara();
  cardsim_debug_queue_(3, 48, 1);
  cardsim_log_clear_();
  MonitorThreadBegin();
  for (int i = 0; i < 3; ++i) MonitorCycle();
  EXPECT_TRUE(Commands().empty());
  // Either switch on brings its commands.
  g_SystemPara.bRecordCheck = 1;
  MonitorCycle();
  EXPECT_EQ(Commands(34).size(), 1u);
  EXPECT_EQ(Commands(6).size(), 1u);
  EXPECT_TRUE(Commands(87).empty());
}

}  // namespace
}  // namespace qztest
