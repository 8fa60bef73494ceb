// QZ_MarkDot and QZ_MarkLayer as a host calls them: refused arguments (each in its place of the
// argument list) add nothing and the job goes on; a dot list applies its layer first, as the
// simulated card receives it.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;
using qztest::kParaKey;

constexpr uint32_t kKindMarker = 0x51200000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class DotHost : public CardHost {
 protected:
  void OpenCard() {
    Stage(0);
    Dot = lib->Get<decltype(Dot)>("QZ_MarkDot");
    Layer = lib->Get<decltype(Layer)>("QZ_MarkLayer");
    ASSERT_TRUE(Dot && Layer);
    ASSERT_EQ(InitCard(), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  }
  // Host point records of three doubles.
  static std::vector<double> Points(std::initializer_list<double> xy) {
    std::vector<double> out;
    for (auto it = xy.begin(); it != xy.end(); it += 2) {
      out.push_back(it[0]);
      out.push_back(it[1]);
      out.push_back(0.0);
    }
    return out;
  }
  uint32_t TraceCount(uint32_t word) {
    uint32_t n = 0;
    for (uint32_t i = 0, count = cardsim_trace_count_(1); i < count; ++i) {
      cardsim_trace_entry e{};
      cardsim_trace_get_(1, i, &e);
      n += e.word == word;
    }
    return n;
  }

  decltype(&QZ_MarkDot) Dot = nullptr;
  decltype(&QZ_MarkLayer) Layer = nullptr;
};

TEST_F(DotHost, RefusedDotsAndLayersAddNothingAndTheJobGoesOn) {
  OpenCard();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  cardsim_log_clear_();
  const std::vector<double> good = Points({1, 2}), nan = Points({1, 2, kNaN, 0}), inf = Points({1, kInf});
  struct Case {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t code;
  } cases[] = {
      {"null points", [&] { return Dot(nullptr, 2, 50, 0); }, 2},
      {"NaN x", [&] { return Dot(nan.data(), 2, 50, 0); }, 7},
      {"infinite y", [&] { return Dot(inf.data(), 1, 50, 0); }, 7},
      {"dot time below 1", [&] { return Dot(good.data(), 1, 0.99, 0); }, 31},
      {"NaN dot time", [&] { return Dot(good.data(), 1, kNaN, 0); }, 31},
      {"dot layer 256", [&] { return Dot(good.data(), 1, 50, 256); }, 6},
      {"dot layer -1", [&] { return Dot(good.data(), 1, 50, -1); }, 6},
      {"layer 256", [&] { return Layer(256, 0); }, 6},
      {"layer -1", [&] { return Layer(-1, 1); }, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), c.code) << c.name;
  EXPECT_TRUE(Frames().empty());  // not even the buffer's start
  EXPECT_TRUE(lib->Boxes().empty());
  EXPECT_TRUE(qztest::AnyLineHas(
      ErrorLog(), "] QZ_MarkDot:The data is not a valid number. (points given, count 2, dot time 50.000, layer 0)"));
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkLayer:The layer number is out of range. (layer -1)"));
  EXPECT_EQ(Dot(nullptr, 0, 50, 0), 0u);  // no dots: only the layer
  EXPECT_EQ(Layer(3, 1), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(TraceCount(kKindMarker | 2), 1u);
  EXPECT_EQ(TraceCount(kKindMarker | 15), 1u);
}

// (The lasers and the base time come with the parameter file: here the dots switch no laser, and the
// laser's part of a dot is left to the unit tests.)
TEST_F(DotHost, DotsApplyTheirLayerFirst) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  const std::vector<double> dots = Points({0, 0, 0, 0});
  ASSERT_EQ(Dot(dots.data(), 2, 100.7, 0), 0u);
  ASSERT_EQ(Layer(0, 1), 0u);  // nothing changed: its marker alone
  ASSERT_EQ(MarkEnd(0), 0u);
  std::vector<uint32_t> words;
  for (uint32_t i = 0, n = cardsim_trace_count_(1); i < n; ++i) {
    cardsim_trace_entry e{};
    cardsim_trace_get_(1, i, &e);
    words.push_back(e.word);
  }
  size_t marker = 0;
  while (marker < words.size() && words[marker] != (kKindMarker | 2)) ++marker;
  ASSERT_LT(marker + 2, words.size());
  EXPECT_EQ(words[marker + 1] >> 16, 0x2900u);  // the layer's power
  EXPECT_EQ(words[marker + 2], kKindMarker | 15);
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
