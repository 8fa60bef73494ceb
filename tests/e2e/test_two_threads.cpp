// Two host threads at once, one opening and closing the card, one reading its status and running jobs:
// every call returns one of its codes, nothing hangs or races (tsan), the card works afterwards.

#include <atomic>
#include <set>
#include <thread>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;

TEST_F(CardHost, OpenAndCloseAgainstStatusReadsAndJobs) {
  OpenCard();
  std::atomic<bool> done{false};
  std::atomic<int> unexpected{0};
  auto expectIn = [&](uint32_t rc, std::initializer_list<uint32_t> allowed) {
    if (std::set<uint32_t>(allowed).count(rc) == 0) ++unexpected;
  };
  std::thread opener([&] {
    for (int i = 0; i < 40; ++i) {
      expectIn(InitCard(), {0, 1});
      expectIn(CloseCard(), {0, 1, 2});
    }
    done = true;
  });
  std::thread host([&] {
    char text[1024];
    uint32_t version = 0;
    while (!done) {
      expectIn(GetWaitInfo(text), {0, 1});
      expectIn(GetHdVer(&version), {0, 1});
      // A job start races the opener's tasks: busy (2), no card (1), or a job that ends.
      const uint32_t start = MarkStart(0, 0, 0);
      expectIn(start, {0, 1, 2});
      expectIn(MarkEnd(0), {0, 1, 3, 17});
    }
  });
  opener.join();
  host.join();
  EXPECT_EQ(unexpected.load(), 0);
  ASSERT_EQ(InitCard(), 0u);
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(CloseCard(), 0u);
}

}  // namespace
