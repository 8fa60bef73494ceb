#pragma once
// An opened simulated card of a chosen version, windows of 20 ms and 12 ms, and a job of count markers on it.
#include <algorithm>
#include <string>

#include "cardlink/card_open.h"
#include "cardlink/card_wire.h"
#include "cardlink/task_state.h"
#include "frame/system_para.h"
#include "mark/fifo_data.h"
#include "mark/mark_data2fifo.h"
#include "mark/mark_job.h"
#include "markbase/stream_words.h"
#include "support/sim_card.h"

namespace qztest {

class MarkCardTest : public SimCardTest {
 protected:
  void Open(uint32_t version = 80, const std::string& config = "", int cardType = 0) {
    Stage(cardType, config);
    cardsim_set_card_version_(version);
    ASSERT_EQ(OpenLink(), 0u);
    ASSERT_TRUE(ReadAndCheckCardVersion());
    g_SystemPara.HowLongTimeFirstBuf = 20000;
    g_SystemPara.nSteadyWindowUs = 12000;
    CFifoData::ReadBufferPara(!config.empty());
    g_bCardSynced = 1;
    g_bParaAccepted = 1;
  }
  void TearDown() override {
    g_MarkJob.Reset();
    g_bRunFlag = 0;
    SimCardTest::TearDown();
  }
  // Job start as QZ_MarkStart does it after the claim.
  static void Begin(uint32_t mode = 1) {
    CMarkLock lock;
    ASSERT_TRUE(lock.Owns());
    CMarkJob::InitJob(mode);
  }
  // One mark-list call: `n` count markers 10 µs apart numbered from `first`, then `delay` µs.
  static uint32_t Call(uint32_t n, uint32_t first = 0, int64_t delay = 0) {
    CMarkLock lock;
    const uint32_t rc = MarkBufferBefore(KIND_BUFFER);
    for (uint32_t i = 0; i < n; ++i) AppendStreamWord(10, 0, 0x62000000u | ((first + i) & 0xFFFF));
    for (; delay > 0; delay -= 0x40000000) AppendStreamNop(static_cast<int32_t>(std::min<int64_t>(delay, 0x40000000)));
    return rc;
  }
  static uint32_t End() {
    CMarkLock lock;
    return MustEndThread(1, 0, 1, 0);
  }
  // How often the card was told to stop its run.
  uint32_t Stops() {
    uint32_t value = 0, count = 0;
    cardsim_get_flag_(FLAG_STOP, &value, &count);
    return count;
  }
};

}  // namespace qztest
