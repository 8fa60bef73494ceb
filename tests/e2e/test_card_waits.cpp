// Input waits of a job on the simulated card: held until the inputs match.

#include <chrono>
#include <thread>

#include "e2e/card_host.h"

namespace {

class CardWaits : public qztest::CardHost {
 protected:
  // The job's waits on the inputs (the job's own start and end have waits of their own).
  std::vector<cardsim_wait> InputWaits() {
    std::vector<cardsim_wait> out;
    for (const cardsim_wait& w : WaitRecords())
      if (w.reason == 0x20) out.push_back(w);
    return out;
  }
  // Waits until the card holds its n-th input wait (counting from 1); false after 20 s.
  bool HoldsWait(size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto waits = InputWaits();
      if (waits.size() == n && waits.back().end == CARDSIM_WAIT_OPEN) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  std::string WaitInfo() {
    char text[2048] = {};
    EXPECT_EQ(GetWaitInfo(text), 0u);
    return text;
  }
};

TEST_F(CardWaits, CardHoldsARisingEdgeWaitUntilTheTestSetsTheInput) {
  OpenCard();
  ASSERT_EQ(cardsim_set_inputs_(0x4), 0u);  // input 2 high: the edge needs it low first
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkInputWait)(0, 0, 0x4, 1, 0), 0u);  // input 2 rising, no time-out
  ASSERT_EQ(QZ(MarkBufIO)(0x2, 0x2, 0, 0), 0u);       // output 1 after it
  uint32_t endRc = 0xFFFF;
  std::thread ender([&] { endRc = MarkEnd(0); });

  ASSERT_TRUE(HoldsWait(1));
  EXPECT_EQ(WaitInfo(), "OnLine Marking...\r\n  Wait IO Input:Wait Value=0，IO In=4\r\n");
  ASSERT_EQ(cardsim_set_inputs_(0x0), 0u);
  ASSERT_TRUE(HoldsWait(2));
  EXPECT_EQ(WaitInfo(), "OnLine Marking...\r\n  Wait IO Input:Wait Value=4，IO In=0\r\n");
  EXPECT_EQ(State().outputs & 0x2, 0u);  // the words after the wait have not run
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(cardsim_set_inputs_(0x4), 0u);
  ender.join();

  EXPECT_EQ(endRc, 0u);
  EXPECT_TRUE(lib->Boxes().empty());
  EXPECT_EQ(State().outputs & 0x2, 0x2u);
  const auto waits = InputWaits();
  ASSERT_EQ(waits.size(), 2u);
  for (const cardsim_wait& w : waits) EXPECT_EQ(std::pair(w.end, w.timeout_us), std::pair(uint32_t{CARDSIM_WAIT_MET}, CARDSIM_NO_TIMEOUT));
  EXPECT_GE(waits[1].held_us, 20000u);
  EXPECT_EQ(WaitInfo(), "");  // nothing waits any more
}

}  // namespace
