// QZ_MarkVector as a host calls it: a square read back from the card's galvanometer words with the
// laser on over it, a refused polyline that fails the job, and no allocation per call.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

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

// While armed, every allocation of the host process that does not come from the simulated card's own
// code is counted: the library's allocations come here.
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

using qztest::kParaKey;
using Points = std::vector<std::pair<double, double>>;

constexpr uint32_t kBufIOMarker = 0x51200004;

// The 16-bit code of a position in the default 100 mm field.
double Code(double mm) { return std::trunc((mm + 50.0) * 65535.0 / 100.0); }

struct Pair {
  double x, y;
};

class MarkVectorHost : public qztest::CardHost {
 protected:
  void OpenCard() {
    // Blocks go to the card after 0.1 s of stream time; a laser driven by its pulses.
    Stage(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=0\n");
    lib->WriteConfig("Default.box", qztest::PlainBoxFile());  // the old box method's file
    cardsim_set_card_version_(79);  // 16-bit galvanometer codes
    ASSERT_EQ(InitCard(), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  }
  // Vectors need the scanner's and laser's parameters of the parameter file; then pens 0 and 1 mark
  // at 10000 mm/s (0.1 mm per 10 µs step) and jump at 100000 mm/s with 20 kHz pulses at 50 %
  // (a 50 µs period), without delays.
  void ApplyParameterFile() {
    ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
    const std::vector<uint8_t> pens = qztest::PenRecords(2, 20.0, 50.0, 10000.0, 100000.0);
    ASSERT_EQ(QZ(SetMarkPara)(pens.data(), 2), 0u);
  }
  uint32_t Mark(const Points& pts, uint32_t layer) {
    std::vector<double> d;
    for (const auto& p : pts) d.insert(d.end(), {p.first, p.second, 0.0});
    return QZ(MarkVector)(d.data(), static_cast<int32_t>(pts.size()), layer);
  }
  // The galvanometer positions the card ran before the word `until`: one code pair per Y word.
  std::vector<Pair> GalvoPairs(uint32_t until = 0) {
    std::vector<Pair> out;
    double x = -1;
    cardsim_trace_entry e{};
    for (uint32_t i = 0; cardsim_trace_get_(1, i, &e) == 0 && e.word != until; ++i) {
      if ((e.word & 0xFFFF0000u) == 0x01000000u) x = e.word & 0xFFFFu;
      if ((e.word & 0xFFFF0000u) == 0x01010000u) out.push_back({x, static_cast<double>(e.word & 0xFFFFu)});
    }
    return out;
  }
};

// From the first corner on, every pair lies within one code of a side of the closed outline `c`,
// and the corners are reached in order; returns how many were reached.
size_t FollowOutline(const std::vector<Pair>& pairs, const Points& c) {
  auto near = [](double a, double b) { return std::fabs(a - b) <= 1.0; };
  auto within = [](double v, double a, double b) { return v >= std::min(a, b) - 1 && v <= std::max(a, b) + 1; };
  size_t next = 0;
  for (const Pair& p : pairs) {
    if (next == c.size()) break;
    const bool atNext = near(p.x, Code(c[next].first)) && near(p.y, Code(c[next].second));
    if (next > 0) {
      bool onSide = false;
      for (size_t s = 0; s + 1 < c.size(); ++s) {
        const double ax = Code(c[s].first), ay = Code(c[s].second), bx = Code(c[s + 1].first), by = Code(c[s + 1].second);
        onSide |= (near(p.x, ax) && near(ax, bx) && within(p.y, ay, by)) ||
                  (near(p.y, ay) && near(ay, by) && within(p.x, ax, bx));
      }
      EXPECT_TRUE(onSide) << p.x << ", " << p.y;
    }
    next += atNext;
  }
  return next;
}

TEST_F(MarkVectorHost, ASquareComesBackFromTheGalvanometerWordsWithTheLaserOnOverIt) {
  OpenCard();
  ApplyParameterFile();
  if (HasFatalFailure()) return;
  const Points square = {{-20, -20}, {20, -20}, {20, 20}, {-20, 20}, {-20, -20}};
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  ASSERT_EQ(Mark({square[0], square[1], square[2]}, 1), 0u);
  ASSERT_EQ(Mark({square[2], square[3], square[4]}, 1), 0u);  // continues the first
  ASSERT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 0u);  // the open polyline ends before the output's words
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty());
  const std::vector<Pair> pairs = GalvoPairs(kBufIOMarker);
  EXPECT_EQ(FollowOutline(pairs, square), square.size());
  EXPECT_GE(pairs.size(), 1600u);  // 160 mm at 0.1 mm per step
  // One laser segment over the whole square: 1600 steps of 10 µs.
  cardsim_laser_segment seg{};
  ASSERT_EQ(cardsim_laser_segment_count_(0), 1u);
  ASSERT_EQ(cardsim_laser_segment_get_(0, 0, &seg), 0u);
  EXPECT_EQ(seg.off_us - seg.on_us, 16000u);
}

// A refused polyline fails the job (each refusal's code: the unit tests); the next job starts clean.
TEST_F(MarkVectorHost, ARefusedPolylineFailsTheJobAndTheNextStartsClean) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  ASSERT_EQ(Mark({{0, 0}, {5, 5}}, 1), 0u);
  EXPECT_EQ(Mark({{0, 0}, {std::numeric_limits<double>::quiet_NaN(), 5}}, 1), 7u);
  EXPECT_EQ(Mark({{0, 0}, {5, 5}}, 1), 20u);
  EXPECT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 20u);
  EXPECT_EQ(MarkEnd(0), 3u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The data is not a valid number."});
  EXPECT_TRUE(GalvoPairs().empty());  // neither the buffered polyline nor the refused one
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(QZ(MarkBufIO)(1, 1, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(lib->Boxes().size(), 1u);
}

TEST_F(MarkVectorHost, NoAllocationPerCallOnceTheJobRuns) {
#if !QZ_COUNT_ALLOCATIONS
  GTEST_SKIP() << "the library's allocations are counted in the plain Linux builds";
#else
  OpenCard();
  ApplyParameterFile();
  if (HasFatalFailure()) return;
  // Short zigzag vectors across the field and back, each call continuing the last: look-ahead,
  // corners, the laser, merges and blocks sent to the card all run while the calls are counted.
  std::vector<std::vector<double>> calls;
  for (double k = 0, x = -30, dx = 0.3, y = 0.5; k < 4000; ++k, x += dx, y = -y) {
    if (std::fabs(x + dx) > 30) dx = -dx;
    calls.push_back({x, -y, 0, x + dx, y, 0});
  }
  // The same job twice: the second finds the pipeline's buffers grown by the first; its second half
  // is counted.
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
