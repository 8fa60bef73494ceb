// Opening, synchronising and closing a card through the exports, against the simulated card.

#include "e2e/card_host.h"
#include "platform/module.h"
#include "platform/system_mutex.h"

namespace {

using qztest::HasLine;
using qztest::CardHost;
using qztest::kParaKey;

TEST_F(CardHost, UsbOpenRecordsTheCardVersionAndGoesOnline) {
  Stage(0);
  ASSERT_EQ(InitCard(), 0u);
  // Link open, hardware version, on-line, status for the synchronisation.
  EXPECT_EQ(std::tuple(Commands(), State().offline), std::tuple(std::vector<uint32_t>{82, 81, 82, 85}, 0u));
  // Version 85 on a fresh configuration is recorded (the keys: test_card_version.cpp).
  EXPECT_NE(ConfigText().find("bConfiguration=1"), std::string::npos);
  EXPECT_TRUE(HasLine(InfoLog(), "QZ_InitCard:卡号:32768   V6版本:3454") && lib->Boxes().empty());
  uint32_t cards = 0, index = 7;
  EXPECT_EQ(GetCardsNo(&cards, &index), 0u);
  EXPECT_EQ(std::pair(cards, index), std::pair(1u, 0u));
  // The close commits, switches off-line and closes.
  EXPECT_EQ(CloseCard(), 0u);
  const cardsim_state s = State();
  EXPECT_EQ(std::tuple(s.operate_op, s.operate_arg, s.offline, s.open), std::tuple(4u, 0xF00000FFu, 1u, 0u));
  EXPECT_EQ(CloseCard(), 1u);  // nothing open any more
  // An open-only open stops after the version check, and its close commits nothing.
  ASSERT_EQ(OpenOnly(1), 0u);
  cardsim_log_clear_();
  ASSERT_EQ(InitCard(), 0u);
  EXPECT_EQ(std::tuple(Commands(), State().offline), std::tuple(std::vector<uint32_t>{82, 81}, 1u));
  cardsim_log_clear_();
  EXPECT_EQ(CloseCard(), 0u);
  for (uint32_t c : Commands()) EXPECT_NE(c, 83u);
  EXPECT_EQ(State().offline, 1u);
}

// The PID names the card and its mutex; a failed open (the card lost at each exchange, a start-up that leaves
// the link shut) lets the mutex go, and then the card opens.
TEST_F(CardHost, CardNumberComesFromPidAndNamesTheMutexThatFailedOpensLetGo) {
  Stage(0, "[HARDWARE]\nPID=32770\n");
  cardsim_set_present_(3);  // three cards: the PID names the third
  // Another holder of this card's mutex (as another process would be) refuses the open.
  plat::SystemMutex other;
  ASSERT_EQ(other.Create("KVX1000 card USB3"), plat::SystemMutex::Result::Created);
  EXPECT_EQ(InitCard(), 1u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: Opened, cannot open again!"});
  EXPECT_TRUE(HasLine(ErrorLog(), "OpenCardBigEvent:打开卡 32770 失败"));
  other.Close();
  cardsim_log_clear_();
  ASSERT_EQ(InitCard(), 0u);
  const uint32_t sends = static_cast<uint32_t>(Commands().size());
  EXPECT_EQ(State().last_index, 2u);
  EXPECT_NE(ConfigText().find("PID_pre=32770"), std::string::npos);
  EXPECT_TRUE(HasLine(ErrorLog(), "CardNo Change to 32770"));
  // While this process holds the card, nobody else can take its mutex.
  EXPECT_EQ(other.Create("KVX1000 card USB3"), plat::SystemMutex::Result::AlreadyExists);
  EXPECT_EQ(CloseCard(), 0u);
  EXPECT_EQ(other.Create("KVX1000 card USB3"), plat::SystemMutex::Result::Created);
  other.Close();
  for (uint32_t n = 1; n <= sends; ++n) {
    cardsim_fault_lose_at_(n);
    EXPECT_EQ(InitCard(), 1u) << "lost at exchange " << n;
  }
  cardsim_fault_lose_at_(0);
  cardsim_set_usb_startup_(1, 0);
  EXPECT_EQ(InitCard(), 1u);
  EXPECT_EQ(other.Create("KVX1000 card USB3"), plat::SystemMutex::Result::Created);
  other.Close();
  cardsim_set_usb_startup_(0, 0);
  EXPECT_EQ(InitCard(), 0u);
}

// An open finds the card as a crashed host left it: it restores the card or refuses it, each with its box.
TEST_F(CardHost, OpenAfterACrashRestoresOrRefuses) {
  // stickyRun: run-state bits the card's requests do not clear; box nullptr: none.
  struct Case { const char* name; uint32_t runState, taskId, subState, stickyRun, result; const char* box; } cases[] = {
      {"idle", 0, 0, 0, 0, 0, nullptr},
      {"markingRunning", 1, 1, 0, 0, 0, "topmost ok: The board is in a running state and has been aborted"},
      {"markingStopped", 0, 1, 0, 0, 0, nullptr},
      {"markingCannotStop", 1, 2, 0, 1, 1, "topmost ok: The card is marking; stopping failed."},
      {"taskDoneNotCleared", 0, 9, 0, 0, 0,
       "topmost ok: The software did not shut down properly, the board is in the Page Down... state and has not "
       "been completed. It has now been restored!"},
      {"flashWriteFinished", 2, 9, 2, 0, 0,
       "topmost ok: The software did not shut down properly, and the board is in the Page Down... state. Writing "
       "flash has not been completed, it has now been restored!"},
      {"flashWriteStuck", 2, 9, 2, 2, 1,
       "topmost ok: The software did not shut down properly, and the board is in the Page Down... state. Writing to "
       "flash is incomplete and cannot be restored!"},
      {"flushInterrupted", 4, 13, 3, 0, 1,
       "topmost ok: The software did not shut down properly, and the board is in the File Down... state. It is "
       "incomplete and cannot be restored!FLUSH_BUF\\r\\n"},
      {"cardInitAborted", 4, 20, 0, 0, 0, "topmost ok: The board is in initialization state and has been aborted"},
      {"cardInitStuck", 4, 20, 0, 4, 1, "topmost ok: Board initialization cannot be completed"},
      {"busyOnItsOwn", 2, 20, 0, 0, 1, nullptr},
  };
  Stage(0);
  for (const Case& c : cases) {
    const size_t before = lib->Boxes().size();
    cardsim_set_run_state_(c.runState, c.taskId, c.subState);
    cardsim_set_sticky_(0, c.stickyRun);
    EXPECT_EQ(InitCard(), c.result) << c.name;
    const std::vector<std::string> boxes = lib->Boxes();
    EXPECT_EQ(std::vector<std::string>(boxes.begin() + before, boxes.end()),
              c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{}) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(std::tuple(State().task_id, State().run_state), std::tuple(0u, 0u)) << c.name;
    } else {
      EXPECT_EQ(SetFlag(kParaKey, 0), 1u) << c.name;  // the refused open left no card open for card tasks
    }
  }
}

// A job needs accepted parameters and a card that is neither busy nor in alarm; an open job keeps the card.
TEST_F(CardHost, MarkTaskNeedsAcceptedParametersAndAReadyCard) {
  Stage(0);
  ASSERT_EQ(InitCard(), 0u);
  EXPECT_EQ(MarkStart(0, 0, 0), 2u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: OnLine Marking... fail,for system not initialized"});
  // A refused claim from idle leaves the job "starting": its end is a failed job, not a box.
  EXPECT_EQ(MarkEnd(0), 3u);
  ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  cardsim_log_clear_();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  // Claim: status, then the task id registered with the card.
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{85, 82}));
  EXPECT_EQ(State().task_id, 1u);
  // While the job is open a second task, start or open is refused and leaves the job its link, mutex and card.
  EXPECT_EQ(SetFlag(kParaKey, 0), 2u);
  EXPECT_EQ(lib->Boxes().back(), "topmost ok: Card Initializing... failed,  System is OnLine Marking...");
  EXPECT_EQ(MarkStart(1, 0, 0), 2u);
  const uint32_t closes = State().close_count;
  cardsim_log_clear_();
  EXPECT_EQ(InitCard(), 1u);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(State().close_count, closes);
  plat::SystemMutex other;
  EXPECT_EQ(other.Create("KVX1000 card USB1"), plat::SystemMutex::Result::AlreadyExists);
  uint32_t version = 0;
  EXPECT_EQ(GetHdVer(&version), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);  // nothing was marked: no run
  EXPECT_TRUE(HasLine(InfoLog(), "QZ_MarkEnd:> no run"));
  EXPECT_EQ(State().task_id, 0u);
  EXPECT_EQ(MarkEnd(0), 17u);  // and the job is over
  EXPECT_EQ(SetFlag(kParaKey, 0), 0u);  // the library is idle again
  // An unknown run mode is refused before any claim, and arms no job.
  cardsim_log_clear_();
  for (uint32_t mode : {5u, 0xFFFFFFFFu}) EXPECT_EQ(MarkStart(mode, 0, 0), 2u) << mode;
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(MarkEnd(0), 17u);
  // A busy card refuses the job with a box.
  cardsim_set_run_state_(4, 0, 0);
  EXPECT_EQ(MarkStart(0, 0, 0), 2u);
  EXPECT_EQ(lib->Boxes().back(), "topmost ok: OnLine Marking... fail,for Card is Busy");
  // The quiet task 6 in the same situation writes the daily log only.
  const size_t boxes = lib->Boxes().size();
  EXPECT_EQ(SetFlag(kParaKey, 0), 2u);
  EXPECT_EQ(lib->Boxes().size(), boxes);
  EXPECT_TRUE(HasLine(InfoLog(), "Card Initializing... fail,for Card is Busy"));
  cardsim_set_run_state_(0, 0, 0);
  cardsim_set_alarms_(1u << 13, 0);
  EXPECT_EQ(MarkStart(0, 0, 0), 2u);  // answered No
  EXPECT_EQ(lib->Boxes().back(),
            "topmost yesno: Board receiving and issuing instructions error (can be cleared)\\r\\n    Do you want to clear "
            "the error?\\r\\n");
  plat::SetEnvVar("QZMARK_MSGBOX_ANSWER", "yes");
  EXPECT_EQ(MarkStart(0, 0, 0), 2u);  // Yes clears the alarms, and still refuses this time
  EXPECT_EQ(State().alarm_bits, 0u);
  plat::SetEnvVar("QZMARK_MSGBOX_ANSWER", "");
  EXPECT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
}

TEST_F(CardHost, CardLostAtEachExchangeOfAClaimAndOfAJob) {
  OpenCard();
  cardsim_log_clear_();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  const uint32_t claim = static_cast<uint32_t>(Commands().size());
  cardsim_log_clear_();
  ASSERT_EQ(MarkEnd(0), 0u);
  const uint32_t release = static_cast<uint32_t>(Commands().size());
  ASSERT_GE(release, 2u);  // (the claim's two: the job test)
  for (uint32_t n = 1; n <= claim + release; ++n) {
    InitAndAccept();
    cardsim_fault_lose_at_(n);
    const uint32_t start = MarkStart(0, 0, 0);
    const uint32_t end = MarkEnd(0);
    if (n <= claim) {
      EXPECT_EQ(start, 1u) << "lost at exchange " << n << " of the claim";
    } else {
      EXPECT_EQ(start, 0u);
      EXPECT_EQ(end, 1u) << "lost at exchange " << n - claim << " of the end";
    }
    cardsim_fault_lose_at_(0);
  }
  InitAndAccept();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);  // the library was never left busy
  // The card lost between the calls of a job: the abandoned job no longer holds the library.
  cardsim_fault_lose_at_(1);
  char text[1024];
  EXPECT_EQ(GetWaitInfo(text), 1u);
  cardsim_fault_lose_at_(0);
  InitAndAccept();
  EXPECT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
