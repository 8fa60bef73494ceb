// The wobble, laser-module and optical-switch programs as a host downloads them, in the words the
// simulated card decodes and as the card runs them; the refusals of the whole-job exports.

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <thread>

#include "e2e/card_host.h"
#include "support/trace.h"

namespace {

constexpr uint32_t kEnd = 0x51100001;

class ProgramHost : public qztest::CardHost {
 protected:
  // With `pens`, pens 0 and 1 without delays: a laser-module slot of theirs has dot time 0.
  void Open(const std::string& config, uint32_t version = 96, bool pens = true) {
    const std::string main = "HowLongTimeFirstBuf=100000\nCardVertion=6\n" + config;
    pens ? OpenWithPens(0, main, version) : OpenWithParaFile(0, main, version);
  }
  // The export's result; then the program the card keeps is stopped.
  uint32_t RunUntilEnd(const std::function<uint32_t()>& start) {
    const uint32_t rc = start();
    QZ(WobEnd)();
    return rc;
  }
  std::vector<uint32_t> Of(uint32_t opcodeMask, uint32_t value) {
    std::vector<uint32_t> out;
    for (uint32_t w : TraceWords())
      if ((w & opcodeMask) == value) out.push_back(w);
    return out;
  }
  static size_t CountOf(const std::vector<cardsim_trace_entry>& tr, uint32_t word, size_t from = 0) {
    return static_cast<size_t>(std::count_if(tr.begin() + static_cast<std::ptrdiff_t>(std::min(from, tr.size())),
                                             tr.end(), [&](const cardsim_trace_entry& e) { return e.word == word; }));
  }
  size_t IndexOf(const std::vector<cardsim_trace_entry>& tr, uint32_t word, size_t from = 0) {
    while (from < tr.size() && tr[from].word != word) ++from;
    return from;
  }
};

TEST_F(ProgramHost, ThreeUnitsFillSlotsZeroToTwoAndTheKeptProgramRunsTheSlotItsInputsChoose) {
  Open("wob=1\n");
  const double square[] = {-2, -2, 0, 2, -2, 0, 2, 2, 0, -2, 2, 0};   // 4 corners, open
  const double tri[] = {0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0};          // closed already
  const double pos[] = {0.0, 100.0}, pow[] = {50.0, 20.0};
  const double early[] = {0.0};
  ASSERT_EQ(QZ(WobUnitPow)(square, 4, 1, 1, 0, pos, pow, 2), 0u);
  ASSERT_EQ(QZ(WobUnitPow)(tri, 4, 1, 1, -50, early, pow, 1), 0u);
  ASSERT_EQ(QZ(WobUnit)(tri, 4, 1), 0u);
  cardsim_trace_clear_();
  ASSERT_EQ(QZ(WobStart)(0, 0), 0u);
  // 0 % and 100 % lie 6 µs apart across the loop's end: one plain box, and the download goes on.
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"plain ok: Pow Time too Close"});
  std::vector<uint32_t> labels = {0x51800003};
  for (uint32_t s = 0; s < 3; ++s) {
    labels.push_back(0x51800000 | 2 * s);
    labels.push_back(0x51800040 + 2 * s);
  }
  for (uint32_t s = 3; s < 16; ++s) labels.push_back(0x51800000 | 2 * s);
  EXPECT_EQ(Of(0xFFF00000, 0x51800000), labels);
  std::vector<uint32_t> jumps = {0x51A00040, 0x51A00042, 0x51A00044};
  for (int i = 0; i < 13; ++i) jumps.push_back(0x51A00003);
  EXPECT_EQ(Of(0xFFFF0000, 0x51A00000), jumps);
  EXPECT_EQ(Of(0xFFFFF0FF, 0x20F00000), (std::vector<uint32_t>{0x20F00000, 0x20F00100, 0x20F00200}));
  const std::vector<cardsim_trace_entry> tr = Trace();
  // Slot 0: the square's path ends where its jump put the scanner (stored closed), and its profile
  // sits 3 µs inside the loop at both ends.
  const size_t loop0 = IndexOf(tr, 0x51800040), back0 = IndexOf(tr, 0x51A00040);
  ASSERT_LT(back0, tr.size());
  auto lastGalvo = [&](size_t before) {
    std::pair<uint32_t, uint32_t> xy{0, 0};
    for (size_t i = 0; i < before; ++i) {
      const uint32_t w = tr[i].word;
      if ((w >> 24) != 0x01) continue;
      if (((w >> 21) & 7) == 0) xy.first = w;
      if (((w >> 21) & 7) == 2) xy.second = w;
    }
    return xy;
  };
  EXPECT_EQ(lastGalvo(loop0), lastGalvo(back0));
  auto powerTimes = [&](size_t from, size_t to) {
    std::vector<uint64_t> out;
    for (size_t i = from; i < to; ++i)
      if ((tr[i].word >> 24) == 0x29) out.push_back(tr[i].time_us);
    return out;
  };
  const uint64_t t0 = tr[loop0].time_us, t1 = tr[back0].time_us - 1;
  EXPECT_EQ(powerTimes(loop0, back0), (std::vector<uint64_t>{t0 + 3, t1 - 3}));
  // Slot 1: 50 µs before the loop's start wraps to 50 µs before its end.
  const size_t back1 = IndexOf(tr, 0x51A00042);
  EXPECT_EQ(powerTimes(IndexOf(tr, 0x51800042), back1), (std::vector<uint64_t>{tr[back1].time_us - 1 - 50}));
  // Kept on the card, the program runs the slot its inputs choose.
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);
  cardsim_trace_clear_();
  ASSERT_EQ(QZ(WobStart)(1, 0), 0u);
  EXPECT_EQ(State().run_state & 1, 0u);  // the job is over, the program stays
  // The handshake: input 0 on, then off with slot 2 on inputs 1 to 4.
  cardsim_set_inputs_(0x1);
  ASSERT_EQ(cardsim_step_us_(1000), 0u);
  cardsim_set_inputs_(0x4);
  ASSERT_EQ(cardsim_step_us_(60000), 0u);
  std::vector<cardsim_trace_entry> ex = TraceEntries(CARDSIM_TRACE_EXECUTED);
  const size_t frame = IndexOf(ex, 0x51A20000);
  ASSERT_LT(frame, ex.size());
  EXPECT_EQ(ex[frame].reserved, 0u);
  const size_t slot = IndexOf(ex, 0x51800004, frame);
  ASSERT_EQ(slot, frame + 1);
  EXPECT_EQ(ex[slot].reserved, 3u);
  EXPECT_EQ(ex[slot + 1].word, 0x20F00200u);  // the slot on outputs 8 to 11
  // The unit again and again, all in slot 2.
  const size_t rounds = CountOf(ex, 0x51A00044);
  EXPECT_GE(rounds, 5u);
  EXPECT_EQ(CountOf(ex, 0x51800044), rounds + 1);
  for (size_t i = slot; i < ex.size(); ++i) EXPECT_EQ(ex[i].reserved, 3u) << i;
  // Input 0 leaves the slot for label 3: the idle loop waits for input 0 to fall again.
  cardsim_set_inputs_(0x5);
  ASSERT_EQ(cardsim_step_us_(10000), 0u);
  ex = TraceEntries(CARDSIM_TRACE_EXECUTED);
  const size_t left = IndexOf(ex, 0x51A00003, slot);
  ASSERT_LT(left, ex.size());
  EXPECT_EQ(std::tuple(ex[left].reserved, ex[left + 1].word, CountOf(ex, 0x51A00044, left)),
            std::tuple(0u, 0x51800003u, 0u));
  ASSERT_FALSE(WaitRecords().empty());
  const cardsim_wait w = WaitRecords().back();
  EXPECT_EQ(std::tuple(w.end, w.mask & 1, w.values & 1), std::tuple(uint32_t{CARDSIM_WAIT_OPEN}, 1u, 0u));
  // QZ_WobEnd stops the program.
  EXPECT_EQ(QZ(WobEnd)(), 0u);
  EXPECT_EQ(cardsim_step_us_(1000), 1u);
}

// A fibre laser (type 2) latches each profile power with strobe words 15 and 30 µs (0.3 and 0.6 step
// periods) after it. Points closer than that download all the same, their words in time order;
// points 30 µs apart keep the order they are written in.
TEST_F(ProgramHost, FibreProfilePointsCloserThanTheirStrobesDownloadInTimeOrder) {
  Open("wob=1\n[LASER]\nLASER_TYPE=2\n");
  const double square[] = {-2, -2, 0, 2, -2, 0, 2, 2, 0, -2, 2, 0};
  // The loop's length, so that a position can fall a whole number of µs after the first point.
  ASSERT_EQ(QZ(WobUnit)(square, 4, 1), 0u);
  ASSERT_EQ(QZ(WobStart)(0, 0), 0u);
  std::vector<cardsim_trace_entry> tr = Trace();
  const double loop = static_cast<double>(tr.at(IndexOf(tr, 0x51A00040)).time_us - 1 -
                                          tr.at(IndexOf(tr, 0x51800040)).time_us);
  constexpr uint32_t A = 0x290007FF, B = 0x29000333, S = 0x22200200, C = 0x22200000;  // 50 %, 20 %, strobe
  using Words = std::vector<std::pair<uint64_t, uint32_t>>;
  // gap: µs from the first point (t0 + 40) to the second, -1: 0 % and 100 %, both 50 %; words: from t0, as the
  // card receives them.
  const struct { int gap; bool box; Words words; } cases[] = {
      {-1, true, {{40, A}, {40, A}, {55, S}, {55, S}, {70, C}, {70, C}}},
      {10, true, {{40, A}, {50, B}, {55, S}, {65, S}, {70, C}, {80, C}}},
      {25, false, {{40, A}, {55, S}, {65, B}, {70, C}, {80, S}, {95, C}}},
      {30, false, {{40, A}, {55, S}, {70, C}, {70, B}, {85, S}, {100, C}}},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.gap);
    const double pos[] = {0.0, c.gap < 0 ? 100.0 : 100.0 * (c.gap + 0.5) / loop};
    const double pow[] = {50.0, c.gap < 0 ? 50.0 : 20.0};
    QZ(WobUnitClear)();
    ASSERT_EQ(QZ(WobUnitPow)(square, 4, 1, 1, 40, pos, pow, 2), 0u);
    std::vector<std::string> boxes = lib->Boxes();
    cardsim_trace_clear_();
    EXPECT_EQ(QZ(WobStart)(0, 0), 0u);
    if (c.box) boxes.push_back("plain ok: Pow Time too Close");
    EXPECT_EQ(lib->Boxes(), boxes);
    tr = Trace();
    const size_t from = IndexOf(tr, 0x51800040), to = IndexOf(tr, 0x51A00040);
    Words words;
    for (size_t i = from; i < to; ++i)
      if ((tr[i].word >> 24) == 0x29 || (tr[i].word & ~0x200u) == C)
        words.emplace_back(tr[i].time_us - tr[from].time_us, tr[i].word);
    EXPECT_EQ(words, c.words);
  }
}

// A refused whole job: its box, no buffer opened, nothing claimed; the units' refusals.
TEST_F(ProgramHost, ProgramsRefusedByTheConfigurationOrTheCardAndUnitRefusals) {
  const uint16_t positions[4] = {1, 2, 3, 4};
  const struct { const char* config; uint32_t version; std::function<uint32_t()> call; const char* box; } cases[] = {
      {"", 96, [&] { return QZ(WobStart)(0, 1); }, "bWob未设置为1"},
      {"", 96, [&] { return QZ(LaserModuleStart)(1); }, "bWob未设置为1"},
      {"wob=1\n", 96, [&] { return QZ(OssLaserModuleStart)(positions, 1, 0); }, "bKvxOSS未设置为1"},
      {"wob=1\n", 79, [&] { return QZ(WobStart)(0, 1); }, "新补丁不兼容旧wob卡，请使用旧补丁"},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.box);
    Open(c.config, c.version);
    cardsim_log_clear_();
    EXPECT_EQ(c.call(), 2u);
    EXPECT_EQ(lib->Boxes(), std::vector<std::string>{std::string("topmost ok: ") + c.box});
    EXPECT_TRUE(Sent(83).empty());
    EXPECT_EQ(MarkStart(1, 0, 0), 0u);
    EXPECT_EQ(MarkEnd(0), 0u);
  }
  // The units' refusals; a program refused inside an open job leaves the job as it was.
  Open("wob=1\nbKvxOSS=1\n");
  const double pts[] = {0, 0, 0, 1, 0, 0};
  const double nan[] = {0, 0, 0, std::numeric_limits<double>::quiet_NaN(), 0, 0};
  const double one[] = {1.0};
  EXPECT_EQ(QZ(WobUnit)(nullptr, 2, 0), 2u);
  EXPECT_EQ(QZ(WobUnit)(pts, 1, 0), 8u);
  EXPECT_EQ(lib->Boxes().size(), 1u);
  EXPECT_EQ(QZ(WobUnit)(pts, 2, 256), 6u);
  EXPECT_EQ(QZ(WobUnit)(nan, 2, 0), 7u);
  EXPECT_EQ(QZ(WobUnitPow)(pts, 2, 0, 1, 0, nullptr, one, 1), 2u);
  EXPECT_EQ(QZ(WobUnitPow)(pts, 2, 0, 1, 0, nan + 3, one, 1), 7u);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(QZ(WobUnit)(pts, 2, 0), 0u) << i;
  EXPECT_EQ(QZ(WobUnit)(pts, 2, 0), 2u);
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  EXPECT_EQ(QZ(WobStart)(0, 1), 2u);
  EXPECT_EQ(QZ(OssLaserModuleStart)(nullptr, 1, 0), 2u);
  // The open job ends normally and releases its task.
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(MarkStart(1, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
}

// Sixteen slots and the tail; with pens of dot time 0 the program fails with 31. The optical-switch program.
TEST_F(ProgramHost, LaserModuleProgramWritesSixteenSlotsAndItsTailAndTheOpticalSwitchProgram) {
  Open("wob=1\n", 96, false);
  cardsim_trace_clear_();
  EXPECT_EQ(RunUntilEnd([&] { return QZ(LaserModuleStart)(0); }), 0u);
  std::vector<uint32_t> labels = {0x51800007};
  for (uint32_t s = 0; s < 16; ++s) labels.push_back(0x51800000 | 2 * s);
  labels.push_back(0x51800005);
  labels.push_back(0x51800023);
  EXPECT_EQ(Of(0xFFF00000, 0x51800000), labels);
  std::vector<uint32_t> jumps(16, 0x51A00023);
  jumps.push_back(0x51A00007);
  EXPECT_EQ(Of(0xFFFF0000, 0x51A00000), jumps);
  // Each slot arms its trigger for label 5 and disarms it after its dot.
  EXPECT_EQ(std::tuple(Of(0xFFFFFFFF, 0x51B0000B).size(), Of(0xFFFFFFFF, 0x51B00000).size(), TraceWords().back()),
            std::tuple(16u, 16u, kEnd));
  Open("wob=1\n");
  EXPECT_EQ(RunUntilEnd([&] { return QZ(LaserModuleStart)(0); }), 31u);
  // The optical-switch program with flag 0 and 7; bCloseFeedback 0: no feedback wait word.
  for (uint32_t flag : {0u, 7u}) {
    QZ_TRACE(flag);
    Open("wob=1\nbKvxOSS=1\n[SCAN]\nbCloseFeedback=0\n", 96, false);
    const uint16_t positions[4] = {0x1234, 0x10, 0x20, 0x30};
    cardsim_trace_clear_();
    EXPECT_EQ(RunUntilEnd([&] { return QZ(OssLaserModuleStart)(positions, 0, flag); }), 0u);
    const std::vector<uint32_t> pos = Of(0xFFE00000, 0x01200000);
    ASSERT_GE(pos.size(), 4u);
    EXPECT_EQ(std::tuple(pos[0], Of(0xFFFFFFFF, 0x0300000F).size(), Of(0xFFFFFFFF, 0x51800019).size()),
              std::tuple(0x01224680u, 0u, 4u));
    const std::vector<uint32_t> jumps = Of(0xFFFF0000, 0x51A00000);
    ASSERT_FALSE(jumps.empty());
    EXPECT_EQ(jumps.back(), flag ? 0x51A00019u : 0x51A00007u);
    // Outputs 12 + n set once (in the trigger block with flag 0, in the off block with flag 1) and
    // cleared by the reset at the head and in the off block.
    for (uint32_t n = 0; n < 4; ++n) {
      const uint32_t set = 0x21000000u | 1u << (12 + n) | 1u << n;  // output 12 + n on
      EXPECT_EQ(Of(0xFFFFFFFF, set).size(), 1u) << n;
      EXPECT_EQ(Of(0xFFFFFFFF, set & ~(1u << n)).size(), 2u) << n;
    }
  }
}

// Units added on another thread while the wobble program is downloaded: the download takes a copy.
TEST_F(ProgramHost, UnitsAddedDuringTheDownload) {
  Open("wob=1\n");
  const double tri[] = {0, 0, 0, 3, 0, 0, 0, 3, 0};
  ASSERT_EQ(QZ(WobUnit)(tri, 3, 1), 0u);
  std::atomic<bool> done{false};
  std::thread adder([&] {
    while (!done) {
      for (int i = 0; i < 8; ++i) QZ(WobUnit)(tri, 3, 1);
      QZ(WobUnitClear)();
    }
  });
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(QZ(WobStart)(0, 0), 0u);
    EXPECT_EQ(QZ(WobEnd)(), 0u);
  }
  done = true;
  adder.join();
  EXPECT_EQ(TraceWords().back(), kEnd);
}

}  // namespace
