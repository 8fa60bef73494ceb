// The watchdog's decision of one round over (issued, done, now).
#include <gtest/gtest.h>

#include "cardlink/watchdog.h"
#include "support/trace.h"

namespace {

struct Round {
  uint32_t issued, done, now;
  bool report;
  uint32_t elapsed;  // checked when report is set
};

TEST(Watchdog, ReportsAnOutstandingExchangeOnceOnItsEighthLateRound) {
  WatchSlot slot;
  std::vector<Round> rounds = {{5, 4, 1000, false, 0}};  // the wait begins
  // Rounds every 50 ms: the wait passes 1500 ms at 2550; the report comes 8 rounds later.
  for (uint32_t t = 1050; t <= 2900; t += 50) rounds.push_back({5, 4, t, t == 2950, 0});
  rounds.push_back({5, 4, 2950, true, 1950});
  for (uint32_t t = 3000; t <= 6000; t += 50) rounds.push_back({5, 4, t, false, 0});
  // A new exchange starts the count again; a steady stream never reports.
  for (uint32_t i = 0; i < 100; ++i) rounds.push_back({6 + i, 5 + i, 6050 + 50 * i, false, 0});
  // Nothing outstanding (issued == done) never reports, however long.
  for (uint32_t t = 12000; t <= 16000; t += 50) rounds.push_back({200, 200, t, false, 0});
  for (const Round& r : rounds) {
    QZ_TRACE(r.now);
    uint32_t elapsed = 0;
    EXPECT_EQ(WatchRound(slot, r.issued, r.done, r.now, elapsed), r.report);
    if (r.report) {
      EXPECT_EQ(elapsed, r.elapsed);
    }
  }
}

TEST(Watchdog, TickWrapDoesNotHideAStall) {
  WatchSlot slot;
  uint32_t elapsed = 0;
  const uint32_t start = 0xFFFFFF00u;
  int reports = 0;
  for (uint32_t i = 0; i <= 60; ++i) reports += WatchRound(slot, 9, 8, start + 50 * i, elapsed) ? 1 : 0;
  EXPECT_EQ(reports, 1);
}

}  // namespace
