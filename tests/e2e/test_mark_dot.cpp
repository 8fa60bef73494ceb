// QZ_MarkDot and QZ_MarkLayer as a host calls them: refused arguments (each in its place of the
// argument list) add nothing and the job goes on. (What a dot marks needs the lasers of a parameter
// file: the unit tests.)
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
  // The words the card received from the first kind marker to the last (QZ_MarkEnd's).
  std::vector<uint32_t> Words() {
    const std::vector<uint32_t> all = TraceWords();
    size_t first = 0, last = all.size();
    while (first < all.size() && all[first] >> 16 != kKindMarker >> 16) ++first;
    while (last > first && all[last - 1] >> 16 != kKindMarker >> 16) --last;
    return {all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(last)};
  }
};

TEST_F(DotHost, RefusedDotsAndLayersAddNothingAndTheJobGoesOn) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  cardsim_log_clear_();
  const std::vector<double> good = Points({1, 2}), nan = Points({1, 2, kNaN, 0}), inf = Points({1, kInf});
  struct Case {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t code;
  } cases[] = {
      {"null points", [&] { return QZ(MarkDot)(nullptr, 2, 50, 0); }, 2},
      {"NaN x", [&] { return QZ(MarkDot)(nan.data(), 2, 50, 0); }, 7},
      {"infinite y", [&] { return QZ(MarkDot)(inf.data(), 1, 50, 0); }, 7},
      {"dot time below 1", [&] { return QZ(MarkDot)(good.data(), 1, 0.99, 0); }, 31},
      {"NaN dot time", [&] { return QZ(MarkDot)(good.data(), 1, kNaN, 0); }, 31},
      {"dot layer 256", [&] { return QZ(MarkDot)(good.data(), 1, 50, 256); }, 6},
      {"dot layer -1", [&] { return QZ(MarkDot)(good.data(), 1, 50, -1); }, 6},
      {"layer 256", [&] { return QZ(MarkLayer)(256, 0); }, 6},
      {"layer -1", [&] { return QZ(MarkLayer)(-1, 1); }, 6},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), c.code) << c.name;
  EXPECT_TRUE(Frames().empty());  // not even the buffer's start
  EXPECT_TRUE(lib->Boxes().empty());
  EXPECT_TRUE(qztest::AnyLineHas(
      ErrorLog(), "] QZ_MarkDot:The data is not a valid number. (points given, count 2, dot time 50.000, layer 0)"));
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkLayer:The layer number is out of range. (layer -1)"));
  EXPECT_EQ(QZ(MarkDot)(nullptr, 0, 50, 0), 0u);  // no dots: the layer alone
  EXPECT_EQ(QZ(MarkLayer)(0, 1), 0u);             // nothing changed: its marker alone
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(Words(), (std::vector<uint32_t>{kKindMarker | 2, 0x29000000, kKindMarker | 15, kKindMarker | 10}));
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
