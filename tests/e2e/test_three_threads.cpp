// Three host threads at once (jobs; readers; stop, reopen and parameter file): every call returns one of
// its codes, nothing hangs, the card works afterwards; under ThreadSanitizer any data race fails.
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/card_host.h"

namespace {

using qztest::kParaKey;
using ThreeThreads = qztest::CardHost;

TEST_F(ThreeThreads, JobsReadersAndReopenForAFewSeconds) {
  OpenWithParaFile(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\nbRecordInThread=1\nbAutoCheckMarkInfoFB=1\n"
                   "bRecordWhenMark=1\nbRecordCheck=1\nbPrintTime=1\n[LASER]\nLASER_TYPE=0\n", 85);
  if (HasFatalFailure()) return;
  const std::vector<uint8_t> pens = qztest::PenRecords(2, 20.0, 50.0, 10000.0, 100000.0);
  ASSERT_EQ(QZ(SetMarkPara)(pens.data(), 2), 0u);
  std::atomic<bool> done{false};
  std::mutex seenLock;
  std::set<std::string> seen;  // "call code" met that the call may not return
  auto expectIn = [&](const char* call, uint32_t rc, std::initializer_list<uint32_t> allowed) {
    if (std::set<uint32_t>(allowed).count(rc) != 0) return;
    std::lock_guard<std::mutex> g(seenLock);
    seen.insert(std::string(call) + " " + std::to_string(rc));
  };
  std::thread jobs([&] {
    const double square[] = {-5, -5, 0, 5, -5, 0, 5, 5, 0, -5, 5, 0, -5, -5, 0};
    while (!done) {
      if (MarkStart(0, 0, 0) != 0) continue;
      for (int i = 0; i < 4; ++i) expectIn("QZ_MarkVector", QZ(MarkVector)(square, 5, 1), {0, 1, 3, 17, 20});
      expectIn("QZ_MarkEnd", MarkEnd(0), {0, 1, 3, 17});
    }
  });
  std::thread readers([&] {
    char text[1024];
    uint32_t u = 0, state = 0, time = 0;
    int32_t found = 0;
    double a = 0, b[4] = {};
    while (!done) {
      expectIn("QZ_GetWaitInfo", GetWaitInfo(text), {0, 1});
      expectIn("QZ_GetMarkStatus", QZ(GetMarkStatus)(&u), {0, 1});
      expectIn("QZ_Input", QZ(Input)(&u), {0, 1});
      expectIn("QZ_GetEncVel", QZ(GetEncVel)(&a), {0, 1});
      expectIn("QZ_NXA_GetAxisSts", QZ(NXA_GetAxisSts)(1, &u), {0, 1});
      expectIn("QZ_GetScanState", QZ(GetScanState)(&u), {0, 1});
      expectIn("QZ_GetADDARecordWithSysTime", QZ(GetADDARecordWithSysTime)(&found, &a, b, &time, &u, &state), {0, 1});
      expectIn("QZ_GetLaserMsg", QZ(GetLaserMsg)(&u, &state, &time), {0, 1});
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < until) {
    expectIn("QZ_Mark_Stop", QZ(Mark_Stop)(), {0, 1});
    expectIn("QZ_CloseCard", CloseCard(), {0, 1, 2});
    if (InitCard() != 0) continue;
    SetFlag(kParaKey, 0);
    expectIn("QZ_SetCardParaFile", QZ(SetCardParaFile)(0), {0, 1, 2});
    expectIn("QZ_SetFlyPara", QZ(SetFlyPara)(), {0, 1});
  }
  done = true;
  jobs.join();
  readers.join();
  for (const std::string& s : seen) ADD_FAILURE() << s;
  CloseCard();
  InitAndAccept();
  ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  const double line[] = {0, 0, 0, 1, 1, 0};
  EXPECT_EQ(QZ(MarkVector)(line, 2, 1), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(CloseCard(), 0u);
}

}  // namespace
