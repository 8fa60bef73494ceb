// QZ_MarkDot and QZ_MarkLayer as a host calls them: refused layers add nothing and the job goes on.
// (A refused dot list fails the job, and what a dot marks needs the lasers of a parameter file: the
// unit tests.)
#include <gtest/gtest.h>

#include <vector>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;

constexpr uint32_t kKindMarker = 0x51200000;

class DotHost : public CardHost {
 protected:
  // The words the card received from the first kind marker to the last (QZ_MarkEnd's).
  std::vector<uint32_t> Words() {
    const std::vector<uint32_t> all = TraceWords();
    size_t first = 0, last = all.size();
    while (first < all.size() && all[first] >> 16 != kKindMarker >> 16) ++first;
    while (last > first && all[last - 1] >> 16 != kKindMarker >> 16) --last;
    return {all.begin() + static_cast<std::ptrdiff_t>(first), all.begin() + static_cast<std::ptrdiff_t>(last)};
  }
};

TEST_F(DotHost, RefusedLayersAddNothingAndTheJobGoesOn) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(MarkLayer)(256, 0), 6u);
  EXPECT_EQ(QZ(MarkLayer)(-1, 1), 6u);
  EXPECT_TRUE(Frames().empty());  // not even the buffer's start
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] QZ_MarkLayer:The layer number is out of range. (layer -1)"));
  EXPECT_EQ(QZ(MarkDot)(nullptr, 0, 50, 0), 0u);  // no dots: the layer alone
  EXPECT_EQ(QZ(MarkLayer)(0, 1), 0u);             // nothing changed: its marker alone
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(Words(), (std::vector<uint32_t>{kKindMarker | 2, 0x29000000, kKindMarker | 15, kKindMarker | 10}));
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
