// The mark-list exports as a host calls them: the common frame's results, boxes and commands, the output
// and wait words as the simulated card decodes them, an input wait the card holds, and QZ_MarkVector
// without an allocation per call once the job runs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

#include "e2e/card_host.h"

// The count needs the process's own operator new: not on Windows (the library carries its own
// runtime) and not under the sanitizers (which keep their own).
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef QZ_COUNT_ALLOCATIONS
#define QZ_COUNT_ALLOCATIONS 1
#endif

#if QZ_COUNT_ALLOCATIONS
#include <dlfcn.h>

// While armed, every allocation of the host process outside the simulated card's own code is counted.
namespace {
std::atomic<bool> g_countAllocations{false};
std::atomic<long> g_allocations{0};

void* Allocate(std::size_t n, void* caller) {
  Dl_info info{};
  const bool card = dladdr(caller, &info) != 0 && info.dli_fname && std::strstr(info.dli_fname, "Portlane");
  if (g_countAllocations.load(std::memory_order_relaxed) && !card) ++g_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n, __builtin_return_address(0)); }
void* operator new[](std::size_t n) { return Allocate(n, __builtin_return_address(0)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

using qztest::CardHost;

constexpr uint32_t kKindMarker = 0x51200000;
constexpr uint32_t kEndWord = 0x51100001;
constexpr uint32_t kCmdOperate = 83;
constexpr uint32_t kFlagStop = 0x4;

class MarkListHost : public CardHost {
 protected:
  // Every member once, with arguments it takes.
  std::vector<std::function<uint32_t()>> Members() {
    return {[this] { return QZ(MarkBufIO)(1, 1, 0, 0); },       [this] { return QZ(MarkBufWait)(1u << 25, 0); },
            [this] { return QZ(MarkInputWait)(1, 1, 0, 0, 0); }, [this] { return QZ(LaserSwitch)(0, 0); },
            [this] { return QZ(MarkSynMoveStart)(); },          [this] { return QZ(MarkSynMoveEnd)(); }};
  }
  bool TraceHas(uint32_t word) {
    const std::vector<uint32_t> words = TraceWords();
    return std::find(words.begin(), words.end(), word) != words.end();
  }
  uint32_t StopsSent() {
    uint32_t value = 0, count = 0;
    cardsim_get_flag_(kFlagStop, &value, &count);
    return count;
  }
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

// Without a card every member returns 1 and does nothing; without a job, 17 with one box each.
TEST_F(MarkListHost, WithoutACardOrAJobEveryMemberIsRefused) {
  Stage(0);
  for (const auto& member : Members()) EXPECT_EQ(member(), 1u);
  EXPECT_TRUE(Frames().empty() && lib->Boxes().empty());
  InitAndAccept();
  cardsim_log_clear_();
  size_t n = 0;
  for (const auto& member : Members()) {
    EXPECT_EQ(member(), 17u) << n;
    EXPECT_EQ(lib->Boxes().size(), ++n);
    EXPECT_EQ(lib->Boxes().back(), "topmost ok: Marking has not been started.");
  }
  EXPECT_TRUE(Commands().empty() && qztest::HasLine(ErrorLog(), "] QZ_MarkInputWait:Marking has not been started."));
}

// Refused arguments add nothing and the job goes on; an empty dot list marks the layer alone. In the next
// job the first member opens the buffer and the arguments reach the card.
TEST_F(MarkListHost, RefusedArgumentsAddNothingAndTheFirstMemberOpensTheBuffer) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(MarkLayer)(256, 0), 6u);
  EXPECT_EQ(QZ(MarkLayer)(-1, 1), 6u);
  EXPECT_EQ(QZ(MarkBufWait)(5u << 25 | 0x0101, 0), 2u);  // there is no fifth input byte
  EXPECT_TRUE(Frames().empty());                         // not even the buffer's start
  EXPECT_TRUE(qztest::HasLine(ErrorLog(), "] QZ_MarkLayer:The layer number is out of range. (layer -1)"));
  EXPECT_TRUE(qztest::HasLine(ErrorLog(), "] QZ_MarkBufWait:input byte lane 5"));
  EXPECT_EQ(QZ(MarkDot)(nullptr, 0, 0.99, 0), 0u);  // no dots: the layer alone
  EXPECT_EQ(QZ(MarkLayer)(0, 1), 0u);             // nothing changed: its marker alone
  EXPECT_EQ(MarkEnd(0), 0u);
  const std::vector<uint32_t> all = TraceWords();  // from the first kind marker to QZ_MarkEnd's
  const auto isMarker = [](uint32_t w) { return w >> 16 == kKindMarker >> 16; };
  const auto first = std::find_if(all.begin(), all.end(), isMarker);
  const auto last = std::find_if(all.rbegin(), all.rend(), isMarker).base();
  EXPECT_EQ(std::vector<uint32_t>(first, last),
            (std::vector<uint32_t>{kKindMarker | 2, 0x29000000, kKindMarker | 15, kKindMarker | 10}));
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  cardsim_log_clear_();
  ASSERT_EQ(QZ(LaserSwitch)(7, 7), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(0x5, 0x1007, 0, 0), 0u);                                   // outputs 0-2 and 12
  ASSERT_EQ(QZ(MarkInputWait)(0x3, 0x1, 0, 0, 100), 0u);                            // inputs 0-1, 100 ms
  ASSERT_EQ(QZ(MarkBufWait)(1u << 24 | 2u << 25 | 0x02u << 16 | 0x01u << 8, 0), 0u);  // input 8 low, input 9 rising
  uint32_t opened = 0;  // the buffer opened once
  for (const auto& f : Frames()) opened += f.kind == CARDSIM_KIND_COMMAND && f.command == kCmdOperate && f.p1 == 1;
  EXPECT_EQ(opened, 1u);
  // The inputs stay 0: the card's first wait times out after 100 ms and ends the run.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(MarkEnd(0), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{
                              "topmost yesno: Waiting for timeout, causing the operation to terminate (can be "
                              "cleared)\\r\\n  Wait IO Input:Wait Value=1，IO In=0\\r\\n    Do you want to clear the "
                              "error?\\r\\n"});
  // The words that carry the arguments, in order (every word at its time: the unit tests).
  const std::vector<uint32_t> words = TraceWords();
  auto at = words.begin();
  for (uint32_t w : {kKindMarker | 7, kKindMarker | 4, 0x20007005u, 0x21001000u, kKindMarker | 5, 0x55000301u,
                     0x560186A0u, 0x58000111u, kKindMarker | 5, 0x55000300u, 0x58000101u, 0x55000302u, kEndWord}) {
    at = std::find(at, words.end(), w);
    EXPECT_NE(at, words.end()) << std::hex << w;
  }
}

// A synchronised move fails the job: later members return 20 and send nothing; the next job starts clean.
TEST_F(MarkListHost, ASynchronisedMoveFailsTheJob) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 0u);
  EXPECT_EQ(StopsSent(), 0u);
  EXPECT_EQ(QZ(MarkSynMoveStart)(), 2u);
  EXPECT_EQ(StopsSent(), 1u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: 标准补丁无联动功能，请更新联动专用补丁"});
  for (const auto& member : Members()) EXPECT_EQ(member(), 20u);
  EXPECT_EQ(lib->Boxes().size(), 1u);
  EXPECT_EQ(MarkEnd(0), 3u);
  EXPECT_FALSE(TraceHas(kKindMarker | 5));  // nothing after the failure reached the card
  EXPECT_EQ(MarkStart(1, 0, 0), 0u);        // the next job starts clean
  EXPECT_EQ(QZ(MarkSynMoveEnd)(), 2u);
  EXPECT_EQ(MarkEnd(0), 3u);
}

TEST_F(MarkListHost, MemberWhileAnotherThreadEndsTheJobStopsTheCardAndReturns16) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(LaserSwitch)(0, 0), 0u);
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);  // the card never runs the job out
  uint32_t endRc = 0xFFFF;
  std::thread ender([&] { endRc = MarkEnd(0); });
  // QZ_MarkEnd holds the guard from before its last block until the card has ended the run.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!TraceHas(kEndWord) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(TraceHas(kEndWord));
  EXPECT_EQ(StopsSent(), 0u);
  EXPECT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 16u);
  EXPECT_EQ(StopsSent(), 1u);  // the refused call stopped the run (else the card runs out: no hang)
  if (StopsSent() == 0) cardsim_set_consume_(CARDSIM_CONSUME_AT_ONCE);
  ender.join();
  EXPECT_EQ(endRc, 3u);  // the ending thread saw the run end
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: Two mark calls were made at the same time."});
  EXPECT_TRUE(qztest::HasLine(ErrorLog(), "] QZ_MarkBufIO:Two mark calls were made at the same time."));
  EXPECT_FALSE(TraceHas(kKindMarker | 4));
}

TEST_F(MarkListHost, CardHoldsARisingEdgeWaitUntilTheTestSetsTheInput) {
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
  for (const cardsim_wait& w : waits) {
    EXPECT_EQ(std::pair(w.end, w.timeout_us), std::pair(uint32_t{CARDSIM_WAIT_MET}, CARDSIM_NO_TIMEOUT));
  }
  EXPECT_GE(waits[1].held_us, 20000u);
  EXPECT_EQ(WaitInfo(), "");  // nothing waits any more
}

// The library allocates nothing per QZ_MarkVector once the job runs.
TEST_F(CardHost, NoAllocationPerVectorOnceTheJobRuns) {
#if !QZ_COUNT_ALLOCATIONS
  GTEST_SKIP() << "the library's allocations are counted in the plain Linux builds";
#else
  // Blocks go to the card after 0.1 s of stream time.
  OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=0\n", 79);
  if (HasFatalFailure()) return;
  // Short zigzag vectors, each continuing the last: look-ahead, corners, merges and blocks all run.
  std::vector<std::vector<double>> calls;
  for (double k = 0, x = -30, dx = 0.3, y = 0.5; k < 4000; ++k, x += dx, y = -y) {
    if (std::fabs(x + dx) > 30) dx = -dx;
    calls.push_back({x, -y, 0, x + dx, y, 0});
  }
  // The same job twice: the second half of the second, with the buffers grown by the first, is counted.
  for (int job = 0; job < 2; ++job) {
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    for (size_t k = 0; k < 2000; ++k) ASSERT_EQ(QZ(MarkVector)(calls[k].data(), 2, 1), 0u);
    const uint32_t chunks = State().bulk_chunks;
    uint32_t failed = 0;
    g_countAllocations = job == 1;
    for (size_t k = 2000; k < calls.size(); ++k) failed += QZ(MarkVector)(calls[k].data(), 2, 1) != 0;
    g_countAllocations = false;
    EXPECT_EQ(failed, 0u);
    EXPECT_GT(State().bulk_chunks, chunks + 50);  // blocks went to the card meanwhile
    EXPECT_EQ(MarkEnd(0), 0u);
  }
  EXPECT_EQ(g_allocations.load(), 0);
#endif
}

}  // namespace
