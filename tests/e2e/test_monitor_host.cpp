// The monitor as a host meets it: a job's laser segments compared and written to the day's sheet, the io
// word log.
#include <chrono>
#include <thread>

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "platform/files.h"
#include "support/trace.h"

namespace {

using Points = std::vector<std::pair<double, double>>;

class MonitorHost : public qztest::CardHost {
 protected:
  void OpenCard() {
    OpenWithParaFile(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\nbRecordInThread=1\nbAutoCheckMarkInfoFB=1\n"
                     "bRecordWhenMark=1\n[LASER]\nLASER_TYPE=0\n", 79);
    if (HasFatalFailure()) return;
    // Pen 1 marks at 10000 mm/s with 20 kHz pulses at half power.
    std::vector<uint8_t> pens = qztest::PenRecords(2, 20.0, 50.0, 10000.0, 100000.0);
    PutF64(&pens[1696 + 16], 50.0);
    ASSERT_EQ(QZ(SetMarkPara)(pens.data(), 2), 0u);
  }
  uint32_t Mark(const Points& pts) {
    std::vector<double> d;
    for (const auto& p : pts) d.insert(d.end(), {p.first, p.second, 0.0});
    return QZ(MarkVector)(d.data(), static_cast<int32_t>(pts.size()), 1);
  }
  // The sheet's rows once it holds `rows`, waiting at most 5 s for the monitor.
  std::vector<std::string> SheetRows(size_t rows) {
    std::vector<std::string> lines;
    for (int i = 0; i < 500; ++i) {
      lines = qztest::ReadLines(lib->TodaysLog("info___", "_.xls"));
      if (lines.size() >= rows) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }
  // The io word logs' words, unmasked, in the order of their names.
  std::vector<uint32_t> IoWords() {
    std::vector<uint32_t> out;
    for (const std::string& name : plat::FindFiles(lib->LogDir(), "io___*.log")) {
      std::string bytes;
      EXPECT_TRUE(plat::ReadWholeFile(lib->LogDir() + name, bytes));
      for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        out.push_back(GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + i) ^ 0x6D2B94E7u);
    }
    return out;
  }
};

TEST_F(MonitorHost, ThreeSegmentsAreComparedListedAndLogged) {
  OpenCard();
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  const Points vectors[] = {{{-20, 0}, {-10, 0}}, {{0, 0}, {10, 0}}, {{20, 5}, {20, 15}}};
  for (const Points& v : vectors) ASSERT_EQ(Mark(v), 0u);
  ASSERT_EQ(MarkEnd(0), 0u);
  const std::vector<std::string> rows = SheetRows(3);
  ASSERT_EQ(rows.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    QZ_TRACE(rows[i]);
    EXPECT_NE(rows[i].find("\tcount=" + std::to_string(i + 1) + "/3 \t"), std::string::npos);
    EXPECT_TRUE(rows[i].ends_with("\t1\t1"));
  }
  // The io log holds the card's records: its io words job, laser, ..., and the lit spans of the
  // card's own laser segments in its dt.
  ASSERT_EQ(CloseCard(), 0u);
  const std::vector<uint32_t> words = IoWords();
  ASSERT_EQ(words.size() % 3, 0u);
  std::vector<uint32_t> io;
  std::vector<uint64_t> litTicks;
  uint64_t ticks = 0, onAt = 0;
  for (size_t i = 0; i < words.size(); i += 3) {
    EXPECT_TRUE(words[i] >= 1 && words[i] <= 4) << i;
    ticks += words[i + 1];
    if (words[i] != 3) continue;
    const bool wasOn = !io.empty() && (io.back() & 2);
    io.push_back(words[i + 2]);
    if (!wasOn && (words[i + 2] & 2)) onAt = ticks;
    if (wasOn && !(words[i + 2] & 2)) litTicks.push_back(ticks - onAt);
  }
  EXPECT_EQ(io, (std::vector<uint32_t>{1, 3, 1, 3, 1, 3, 1, 0}));
  ASSERT_EQ(cardsim_laser_segment_count_(0), 3u);
  ASSERT_EQ(litTicks.size(), 3u);
  for (uint32_t s = 0; s < 3; ++s) {
    cardsim_laser_segment seg{};
    ASSERT_EQ(cardsim_laser_segment_get_(0, s, &seg), 0u);
    EXPECT_EQ(litTicks[s], (seg.off_us - seg.on_us) * 48) << s;
  }
}

}  // namespace
