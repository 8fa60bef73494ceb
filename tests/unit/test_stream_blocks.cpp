// The flush pipeline: merge, hold-back windows, fillers, advances, padding, block layouts, bounds, whole jobs.

#include <algorithm>
#include <cstring>
#include <regex>
#include <tuple>

#include "support/trace.h"
#include "cardsim/stream_encoder.h"
#include "frame/bytes.h"
#include "frame/ini_cfg.h"
#include "mark/fifo_data.h"
#include "markbase/stream_words.h"
#include "platform/files.h"
#include "support/faults.h"
#include "support/sim_card.h"
#include "test_mark_fixture.h"

namespace {

using qztest::ExpectCode;
using qztest::SetWindows;
using qztest::Words;
using PipelineTest = qztest::MarkCallTest;
using U32s = std::vector<uint32_t>;

constexpr uint32_t ADV = SW_TIME_ADVANCE;
CMarkData2Fifo& P() { return g_MarkData2Fifo; }
CMarkFloor& F0() { return g_MarkFloor[0]; }

// ------------------------------------------------------------------ pieces below the sender

TEST_F(PipelineTest, MergeOrdersByTimeThenHighestChannelFirst) {
  F0().ch0 = {{10, 0x01000001}, {30, 0x01000002}};
  F0().ch1 = {{20, 0x16000001}};
  F0().ch3 = {{10, 0x51200002}, {30, 0x62000001}};
  F0().ch5 = {{5, 0x29020010}};
  F0().ch7 = {{10, 0x1C000001}};
  P().MergeChannels(0);
  EXPECT_EQ(P().vMerged, (Words{{5, 0x29020010}, {10, 0x1C000001}, {10, 0x51200002}, {10, 0x01000001},
                                {20, 0x16000001}, {30, 0x62000001}, {30, 0x01000002}}));
  for (int i = 0; i < kFloorChannels; ++i) EXPECT_TRUE(F0().ch[i]->empty()) << i;
  EXPECT_EQ(P().nMergeTime, 30);
}

TEST_F(PipelineTest, FlushHoldsBackTheFirstAndTheSteadyWindowAndLongGapsGetNopFillers) {
  // First merge: window 1 s, so it runs once 2 s of stream are pending and keeps the last second.
  struct Step { int64_t appendAt; Words merged; uint8_t firstChunk; };  // merged: the whole queue after the flush
  const Step steps[] = {
      {0, {}, 1},
      {1000000, {}, 1},
      {1999999, {}, 1},  // 1999999 - 1000000 < 1000000: not yet twice the window
      {2000000, {{0, 0x01000000}, {1000000, 0x01000001}}, 0},
      // Steady window 0.6 s from the merge time 1 s: runs from a clock of 2.2 s and keeps 0.6 s back.
      {2199999, {{0, 0x01000000}, {1000000, 0x01000001}}, 0},
      {2200000, {{0, 0x01000000}, {1000000, 0x01000001}}, 0},  // runs; nothing at most 1.6 s
      {2600000,
       {{0, 0x01000000}, {1000000, 0x01000001}, {1999999, 0x01000002}, {2000000, 0x01000003}},
       0},
  };
  uint32_t code = 0x01000000;
  for (const auto& s : steps) {
    QZ_TRACE(s.appendAt);
    F0().ch0.push_back({static_cast<uint64_t>(s.appendAt), code++});
    P().Flush(0);
    EXPECT_EQ(std::tuple(P().vMerged, P().bFirstChunk), std::tuple(s.merged, s.firstChunk));
  }
  EXPECT_EQ(F0().ch0, (Words{{2199999, 0x01000004}, {2200000, 0x01000005}, {2600000, 0x01000006}}));
  EXPECT_EQ(P().nMergeTime, 2000000);
  // Long gaps get NOP fillers.
  struct Case { int64_t gap; std::vector<int64_t> fillers; };
  const Case cases[] = {
      {7340032, {}},                                  // exactly the largest gap
      {7340033, {5872025}},
      {30000000, {5872025, 11744050, 17616075, 23488100}},
  };
  for (const auto& c : cases) {  // (their encoding: the next test)
    QZ_TRACE(c.gap);
    P().Reset();
    F0().Reset();
    F0().ch0 = {{0, 0x01000001}, {static_cast<uint64_t>(c.gap), 0x01000002}};
    P().MergeChannels(0);
    Words expected = {{0, 0x01000001}};
    for (int64_t f : c.fillers) expected.push_back({static_cast<uint64_t>(f), SW_NOP});
    expected.push_back({static_cast<uint64_t>(c.gap), 0x01000002});
    EXPECT_EQ(P().vMerged, expected);
  }
}

TEST_F(PipelineTest, EncodeWritesAdvancesOnlyWhenTheTimeChangesSplitsWideOnesAndKeepsBack) {
  const struct { int64_t last; Words queue; U32s stream; } cases[] = {
      {-1, {{250, 0x62000001}, {250, 0x62000002}, {251, 0x62000003}, {0xFFFFFF + 251, 0x62000004}},
       {ADV | 251, 0x62000001, 0x62000002, ADV | 1, 0x62000003, ADV | 0xFFFFFF, 0x62000004}},
      // 0x2000000 = 4 x 0x700000 + 0x400000; 0x1000000 = 2 x 0x700000 + 0x200000.
      {0, {{0x2000000, 0x62000001}, {0x3000000, 0x62000002}},
       {ADV | 0x700000, SW_NOP, ADV | 0x700000, SW_NOP, ADV | 0x700000, SW_NOP, ADV | 0x700000, SW_NOP,
        ADV | 0x400000, 0x62000001, ADV | 0x700000, SW_NOP, ADV | 0x700000, SW_NOP, ADV | 0x200000, 0x62000002}},
  };
  for (auto c : cases) {
    P().vStreamWords.clear();
    P().nLastEncodedTime = c.last;
    const auto end = static_cast<int64_t>(c.queue.back().time);
    P().EncodeDeltas(0, c.queue);
    EXPECT_EQ(std::tuple(P().vStreamWords, P().nLastEncodedTime), std::tuple(c.stream, end));
  }
  // Encode keeps back and respects the stream bound.
  auto queue = [](size_t n) {
    Words q;
    for (size_t i = 0; i < n; ++i) q.push_back({i, static_cast<uint32_t>(0x62000000 + i)});
    return q;
  };
  struct Bound { size_t queued, streamBefore; uint32_t keep; size_t left; };  // left: entries left in the queue
  const Bound bounds[] = {
      {199, 1, 100, 199},             // fewer than 2 x keep: nothing
      {200, 1, 100, 100},             // all but keep
      {0, 1, 0, 0},                   // final: everything (here nothing)
      {300, 0x10001, 100, 300},       // the stream is above its bound: only the sender runs
      {300, 0x10000, 100, 100},       // at the bound: encodes
      {300, 0x10001, 0, 0},           // a final encode ignores the bound
  };
  for (const auto& c : bounds) {
    QZ_TRACE(testing::Message() << c.queued << " " << c.streamBefore << " " << c.keep);
    P().Reset();
    P().vStreamWords.assign(c.streamBefore, SW_NOP);
    Words q = queue(c.queued);
    P().EncodeDeltas(c.keep, q);
    EXPECT_EQ(q.size(), c.left);
    const size_t encoded = c.queued - c.left;
    EXPECT_EQ(P().vStreamWords.size(), c.streamBefore + 2 * encoded);  // one advance per new time
    if (c.left && encoded) {
      EXPECT_EQ(q.front().time, encoded);
    }
  }
}

TEST_F(PipelineTest, RefusalsPadBlocksAndBlockLayouts) {
  g_MarkJob.g_bMarkCallBusy = 0;
  F0().ch0 = {{1, 1}};
  ExpectCode(27, 1, [] { P().MergeChannels(0); });
  EXPECT_EQ(F0().ch0.size(), 1u);
  g_MarkJob.g_bMarkCallBusy = 1;
  g_mapErrText[21] = "time not add";
  Words q = {{10, 0x62000001}, {5, 0x62000002}, {20, 0x62000003}};
  ExpectCode(21, 0, [&] { P().EncodeDeltas(0, q); });
  EXPECT_EQ(MarkErrorText(), "time not add");
  EXPECT_EQ(P().vStreamWords, (U32s{SW_STREAM_HEADER, ADV | 11, 0x62000001}));
  EXPECT_EQ(q.size(), 2u);
  // A failed job encodes nothing more.
  Words more = {{30, 0x62000004}};
  P().EncodeDeltas(0, more);
  EXPECT_EQ(more.size(), 1u);
  // The block layouts 1 and 2 (layout 0: OfflineJobTest).
  uint8_t block[2048];
  // A short piece of layout 2 (496 payload slots): the free slots get NOPs, every 20th counted back
  // from the last the spacer.
  const uint32_t two[2] = {0x62000001, 0x62000002};
  BuildStreamBlockFromWords(two, 2, 2, 0, block);
  EXPECT_EQ(GetU32(block + 4), two[1]);
  EXPECT_EQ(GetU32(block + 8), SW_NOP);                   // slot 2: the first free one
  EXPECT_EQ(GetU32(block + 4 * 15), SW_PAD_SPACER);       // 495 - 480
  EXPECT_EQ(GetU32(block + 128 * 15 + 4 * 30), SW_PAD_SPACER);  // slot 495, the last
  EXPECT_EQ(GetU32(block + 128 * 15 + 4 * 29), SW_NOP);
  U32s words(512);
  for (uint32_t i = 0; i < 512; ++i) words[i] = 0x62000000 | (i * 0x01010101u & 0xFFFFFF);
  for (uint32_t seq : {0u, 12u, 14u, 0xFFFFFFFCu}) {
    QZ_TRACE(seq);
    BuildStreamBlockFromWords(words.data(), 512, 1, seq, block);
    for (uint32_t i = 0; i < 4; ++i) {
      EXPECT_EQ(GetU32(block + 512 * i), 0x5110A55Au | ((seq + i) & 15) << 16);
      for (uint32_t w = 1; w < 128; ++w) ASSERT_EQ(GetU32(block + 512 * i + 4 * w), words[127 * i + w - 1]);
    }
  }
  for (uint32_t seq : {0u, 16u, 0xFFF8u, 0x12345670u}) {
    QZ_TRACE(seq);
    BuildStreamBlockFromWords(words.data(), 512, 2, seq, block);
    for (uint32_t i = 0; i < 16; ++i) {
      for (uint32_t w = 0; w < 31; ++w) ASSERT_EQ(GetU32(block + 128 * i + 4 * w), words[31 * i + w]);
      // The check word: the CRC of the sub-block's 124 bytes, computed bit by bit.
      const uint16_t crc = cardsim_test::BitwiseCrc16(block + 128 * i, 124, static_cast<uint16_t>(seq + i));
      EXPECT_EQ(GetU32(block + 128 * i + 124), 0x5A000000u | crc) << i;
    }
  }
}

// ------------------------------------------------------------------ whole jobs through the sender

// The stream words of layout-0 blocks.
U32s Unblock(const std::string& bytes) {
  EXPECT_EQ(bytes.size() % 2048, 0u);
  U32s out(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) out[i] = GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4 * i);
  return out;
}

// The timed words of a layout-0 stream after its header (advances from -1), NOPs left out.
Words Trace(const U32s& stream) {
  Words out;
  int64_t t = -1;
  for (size_t i = 1; i < stream.size(); ++i) {
    if (SwOpcode(stream[i]) == 0x57)
      t += SwOperand(stream[i]);
    else if (stream[i] != SW_NOP)
      out.push_back({static_cast<uint64_t>(t), stream[i]});
  }
  return out;
}

class JobTest : public qztest::SimCardTest {
 protected:
  void TearDown() override {
    g_MarkJob.bStopMark = 0;
    if (g_FifoData.pOfflineFile) g_FifoData.WaitSendFinish();
    CMarkJob::InitJob(1);
    g_MarkJob.g_bMarkCallBusy = 0;
    g_bRunFlag = 0;
    SimCardTest::TearDown();
  }
};

class OfflineJobTest : public JobTest {
 protected:
  // An offline job in layout 0.
  void Start(uint32_t first = 1000000, uint32_t steady = 600000) {
    Stage(0);
    ASSERT_EQ(OpenLink(), 0u);
    SetWindows(first, steady);
    g_MarkJob.g_bMarkCallBusy = 1;
    CMarkJob::InitJob(2);
    g_FifoData.BufferStart(0);
    ASSERT_NE(g_FifoData.pOfflineFile, nullptr);
  }
  std::string File() {
    if (g_FifoData.pOfflineFile) g_FifoData.pOfflineFile->Flush();
    std::string s;
    plat::ReadWholeFile(GetModuleDir() + "OffLineFile.tmp", s);  // in the library's folder
    return s;
  }
  std::string Finish() {
    g_MarkData2Fifo.Flush(1);
    g_FifoData.WaitSendFinish();
    EXPECT_EQ(g_FifoData.nFinalStatus, 0x100u);
    return File();
  }
};

TEST_F(OfflineJobTest, AFinalStreamIsOnePaddedBlockAFullMergedQueueOnlySendsAStoppedJobNothing) {
  Start();
  for (uint32_t i = 0; i < 98; ++i) AppendStreamWord(0, 0, 0x62000000 | i);  // all at time 0
  g_MarkData2Fifo.Flush(0);
  EXPECT_EQ(File().size(), 0u);  // within twice the window: only the final flush sends
  const std::string bytes = Finish();
  ASSERT_EQ(bytes.size(), 2048u);
  const U32s got = Unblock(bytes);
  U32s expected = {SW_STREAM_HEADER, ADV | 1};
  for (uint32_t i = 0; i < 98; ++i) expected.push_back(0x62000000 | i);
  for (uint32_t slot = 100; slot < 512; ++slot) expected.push_back((511 - slot) % 20 == 0 ? SW_PAD_SPACER : SW_NOP);
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(g_MarkData2Fifo.vStreamWords.empty());
  const std::regex line(
      R"(.*CMarkData2Fifo::SendFifoData:gened nDdr=0\.000  Gen=0\.000 tmAll=\d+  \(Send=0\.002 tm=\d+\)$)");
  const auto info = InfoLines();
  EXPECT_EQ(std::count_if(info.begin(), info.end(), [&](const std::string& l) { return std::regex_match(l, line); }), 1);
  // A full merged queue only sends.
  Start();
  for (uint32_t i = 0; i <= 0x10000; ++i) g_MarkData2Fifo.vMerged.push_back({i, 0x62000000 | (i & 0xFFFF)});
  F0().ch0 = {{0x10001, 0x01000001}, {0x10000 + 5000000, 0x01000002}};
  g_MarkData2Fifo.Flush(0);
  EXPECT_EQ(F0().ch0.size(), 2u);  // not merged
  // All but 100 entries were encoded, and all but 512 words at most sent.
  EXPECT_EQ(g_MarkData2Fifo.vMerged.size(), 100u);
  const size_t sentWords = File().size() / 4;
  EXPECT_EQ(sentWords + g_MarkData2Fifo.vStreamWords.size(), 1 + 2 * (0x10001u - 100));
  EXPECT_LE(g_MarkData2Fifo.vStreamWords.size(), 512u);
  const Words trace = Trace(Unblock(Finish()));
  ASSERT_EQ(trace.size(), 0x10001u + 2);
  EXPECT_EQ(trace[0x10001], (TimedWord{0x10001, 0x01000001}));
  EXPECT_EQ(trace.back(), (TimedWord{0x10000 + 5000000, 0x01000002}));
  // A stopped job sends nothing more.
  Start(0, 0);
  for (uint32_t i = 0; i < 2000; ++i) AppendStreamWord(1, 0, 0x62000000 | i);
  g_MarkData2Fifo.MergeChannels(0);
  g_MarkData2Fifo.EncodeDeltas(0, g_MarkData2Fifo.vMerged);
  ASSERT_EQ(g_MarkData2Fifo.vStreamWords.size(), 4001u);
  g_MarkJob.bStopMark = 1;
  g_MarkData2Fifo.SendFifoData(0);
  EXPECT_EQ(std::tuple(File().size(), g_MarkData2Fifo.vStreamWords.size()), std::tuple(0u, 4001u));
}

// Galvanometer words every 10 µs with laser and IO words, flushed every 50 ms of stream; the words in order.
Words MakeJob() {
  Words expected;
  uint32_t n = 0;
  for (int64_t t = 0; t <= 1500000; t += 10) {
    const auto ut = static_cast<uint64_t>(t);
    const uint32_t code = 0x01000000 | (n++ & 0xFFFF);
    g_FloorCursors.pGalvo->push_back({ut, code});
    if (t % 1000 == 0) {
      g_FloorCursors.laser[0].pFirst->push_back({ut, SW_PULSE_START_L0});  // same time: before the galvo word
      expected.push_back({ut, SW_PULSE_START_L0});
    }
    expected.push_back({ut, code});
    if (t % 50000 == 5000) {
      AppendStreamWord(static_cast<int32_t>(t + 5 - static_cast<int64_t>(CurFloor().clock)), 0, 0x20001001);
      expected.push_back({ut + 5, 0x20001001});
    }
    if (t % 50000 == 0) g_MarkData2Fifo.Flush(0);
  }
  AppendStreamWord(1, 0, SW_END);
  expected.push_back({CurFloor().clock, SW_END});
  return expected;
}

// The card checks every block of its layout and runs each word 1 µs after its job time (the first advance).
class OnlineJobTest : public JobTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(OnlineJobTest, TheCardAcceptsAndDecodesEveryBlock) {
  const int32_t layout = GetParam();
  Stage(0);
  cardsim_set_card_version_(layout == 2 ? 96 : layout == 1 ? 80 : 60);
  ASSERT_EQ(OpenLink(), 0u);
  g_SystemPara.nBufDataCheckType = layout;
  SetWindows(200000, 120000);
  CFifoData::ReadBufferPara(false);  // the FIFO marks by their defaults
  g_MarkJob.g_bMarkCallBusy = 1;
  CMarkJob::InitJob(0);
  g_FifoData.BufferStart(0);
  const Words expected = MakeJob();
  EXPECT_GT(g_FifoData.nSentUnits, 0u);  // the non-final flushes sent blocks already
  EXPECT_LE(g_MarkData2Fifo.vStreamWords.size(), 512u);
  g_MarkData2Fifo.Flush(1);
  g_FifoData.WaitSendFinish();
  const cardsim_fifo fifo = Fifo();
  // Every block in the card's layout and accepted; the end word ended the run.
  EXPECT_EQ(std::tuple(fifo.layout, fifo.check_error, fifo.blocks_rejected, fifo.phase, fifo.end_code),
            std::tuple(static_cast<uint32_t>(layout), uint32_t{CARDSIM_CHECK_NONE}, 0u, uint32_t{CARDSIM_PHASE_ENDED},
                       1u));
  EXPECT_EQ(fifo.blocks_received * 4, g_FifoData.nSentUnits);
  EXPECT_EQ(g_MarkData2Fifo.nSequence, fifo.blocks_received * SequenceStep(static_cast<uint32_t>(layout)));
  const std::vector<cardsim_trace_entry> trace = TraceEntries();
  ASSERT_EQ(trace.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(trace[i].word, expected[i].word) << i;
    ASSERT_EQ(trace[i].time_us, expected[i].time + 1) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, OnlineJobTest, ::testing::Values(0, 1, 2));

// "OffLineFile.tmp" refused at the write that fills the 1 MB buffer or at the final flush: 9, file closed.
TEST_F(OfflineJobTest, ARefusedWriteFailsTheJobWith9) {
  struct Case { uint32_t entries; uint8_t final; const char* line; } cases[] = {
      {98, 1, "CFifoData::FlushOfflineFile:Can't write download file!"},
      {0x30000, 0, "CFifoData::PushBlock:Can't write download file!"},
  };
  for (const Case& c : cases) {
    Start();
    for (uint32_t i = 0; i < c.entries; ++i) g_MarkData2Fifo.vMerged.push_back({i, 0x62000000 | (i & 0xFFFF)});
    qztest::FailFileWrites(GetModuleDir() + "OffLineFile.tmp");
    ExpectCode(RV_NOT_OPEN_OFFLINE_FILE, 0, [&] { g_MarkData2Fifo.Flush(c.final); });
    qztest::FailFileWrites("");
    EXPECT_TRUE(MarkFailed());
    EXPECT_TRUE(qztest::HasLine(ErrorLines(), c.line)) << c.entries;
    EXPECT_EQ(std::tuple(g_FifoData.pOfflineFile.get(), File().size()), std::tuple(nullptr, 0u));
  }
}

}  // namespace
