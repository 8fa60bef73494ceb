// The card's side of the data stream: the block checker, the traces, the FIFO at its edges, how a run
// starts and ends. (The paced run: e2e MonitorHost and OffDocHost.)
#include <algorithm>
#include <tuple>

#include "support/trace.h"
#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

// Corruptions of a two-block stream; the layout by card version (79, 95; 80, 96 and good blocks: OnlineJobTest).
enum class Bad { FlipByte, SwapBlocks };

TEST_F(CardsimStream, CheckerAcceptsLibraryBlocksAndRefusesBrokenOnes) {
  struct Case {
    uint32_t version, layout;
    Bad bad;
    uint32_t offset;
    uint8_t mask;
    uint32_t check, rejected;
    const char* what;
  } cases[] = {
      {79, 0, Bad::FlipByte, 0, 0x01, CARDSIM_CHECK_HEAD, 1, "layout 0 header"},
      {64, 0, Bad::FlipByte, 3, 0x80, CARDSIM_CHECK_HEAD, 1, "layout 0 header top byte"},
      {64, 0, Bad::FlipByte, 4, 0x01, CARDSIM_CHECK_NONE, 0, "layout 0 checks no other word"},
      {64, 0, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_HEAD, 1, "layout 0 second block first"},
      {95, 1, Bad::FlipByte, 0, 0xFF, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 head magic"},
      {85, 1, Bad::FlipByte, 2048 + 1024 + 2, 0x01, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 sequence nibble"},
      {85, 1, Bad::FlipByte, 2048 + 1024 + 2, 0x10, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 above the nibble"},
      {85, 1, Bad::FlipByte, 512 + 40, 0x01, CARDSIM_CHECK_NONE, 0, "layout 1 checks no payload"},
      {85, 1, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_SEQUENCE, 8, "layout 1 blocks out of order"},
      {200, 2, Bad::FlipByte, 2048 + 5 * 128 + 17, 0x04, CARDSIM_CHECK_CRC, 1, "layout 2 payload bit"},
      {96, 2, Bad::FlipByte, 3 * 128 + 124, 0x01, CARDSIM_CHECK_CRC, 1, "layout 2 CRC low byte"},
      {96, 2, Bad::FlipByte, 3 * 128 + 127, 0x01, CARDSIM_CHECK_CRC, 1, "layout 2 check word tag"},
      {96, 2, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_CRC, 32, "layout 2 blocks out of order"},
  };
  for (const auto& c : cases) {
    for (CardType type : {CardType::Usb, CardType::Pcie}) {
      QZ_TRACE(c.what);
      cardsim_reset();
      cardsim_set_card_version(c.version);
      Open(type);
      ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
      Stream s(c.layout);
      for (uint32_t i = 0; i < 490; ++i) s.At(1 + i, 0x29000000 | i);
      s.At(700, 0x62000042).At(701, kEnd);
      std::vector<uint8_t> b = s.Blocks();
      ASSERT_EQ(4096u, b.size());
      if (c.bad == Bad::FlipByte) b[c.offset] ^= c.mask;
      if (c.bad == Bad::SwapBlocks) std::swap_ranges(b.begin(), b.begin() + 2048, b.begin() + 2048);
      SendBytes(b);
      Flag(kFlagStart);
      const cardsim_fifo f = Fifo();
      const auto status = Status();
      EXPECT_EQ(std::tuple(c.layout, c.check, c.rejected, uint32_t{CARDSIM_PHASE_ENDED}, 0u, f.write_ptr),
                std::tuple(f.layout, f.check_error, f.blocks_rejected, f.phase, status.first & 7, f.read_ptr));
      // Good: the end word ended the run (code 1). Bad: stream-check alarm, run aborted with
      // "Buffer Head Err" (code 0, sub 3), nothing executed.
      const bool good = c.check == CARDSIM_CHECK_NONE;
      EXPECT_EQ(std::tuple(good ? 0u : 0x10u, good ? 0x100u : 0x6000u, good ? 0x42u : 0u),
                std::tuple(status.first & 0x10, status.second & 0xFF00, f.last_count));
    }
  }
}

TEST_F(CardsimStream, TracesHoldEveryWordAtItsTimeUntilTheEndWord) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Pcie, 1);
  Stream s(1);
  s.At(1, 0x15000001).At(1, 0x20002002).At(3, 0x50000000).At(10, 0x62000007).Raw(0x50000000);
  s.At(0x70000A, 0x01000123);
  SendBytes(s.Blocks());
  // An advance stands at the time it is read; NOPs and advances are in the full trace only. The
  // padding (498 slots, counting back from the last every 20th a 1 us advance) is decoded too.
  const std::vector<std::pair<uint64_t, uint32_t>> full = {
      {0, 0x57000001}, {1, 0x15000001},  {1, 0x20002002},  {1, 0x57000002},  {3, 0x50000000},
      {3, 0x57000007}, {10, 0x62000007}, {10, 0x50000000}, {10, 0x57700000}, {0x70000A, 0x01000123}};
  EXPECT_EQ(508u, cardsim_trace_count(0));
  EXPECT_EQ(4u, cardsim_trace_count(1));
  cardsim_trace_entry e{};
  for (uint32_t i = 0; i < full.size(); ++i) {
    ASSERT_EQ(0u, cardsim_trace_get(0, i, &e));
    EXPECT_EQ(full[i], std::pair(e.time_us, e.word)) << i;
  }
  EXPECT_EQ(0x70000Au + 25, Fifo().stream_us);
  // Cleared traces fill again as decoding goes on; the word after the end word is not decoded.
  ASSERT_EQ(0u, cardsim_trace_clear());
  EXPECT_NE(0u, cardsim_trace_get(0, 0, &e));
  s.At(0x70000A + 10, 0x62000002).Raw(0x57FFFFFF).Raw(kEnd).Raw(0x20002002);
  SendBytes(s.Blocks());
  EXPECT_EQ(4u, cardsim_trace_count(0));
  ASSERT_EQ(2u, cardsim_trace_count(1));
  ASSERT_EQ(0u, cardsim_trace_get(1, 0, &e));
  EXPECT_EQ(0x70000Au + 25 + 10, e.time_us);
  ASSERT_EQ(0u, cardsim_trace_get(1, 1, &e));
  EXPECT_EQ(std::tuple(kEnd, uint64_t{0x70000Au + 35 + 0xFFFFFF}, e.time_us, 0u),
            std::tuple(e.word, e.time_us, Fifo().stream_us, Fifo().words_run));
}

TEST_F(CardsimStream, PointersAndReceivedUnitsFollowTheBytesTakenIn) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Usb, 1);
  // A flash transfer takes the next block for itself, away from the FIFO.
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  const std::vector<uint8_t> page(2048, 0xA5);
  ASSERT_EQ(0u, Card().BufSend(page.data(), 2048));
  EXPECT_EQ(0u, Exchange(89).r1);
  Stream s(1);
  for (uint32_t i = 0; i < 1000; ++i) s.At(i, 0x29000000 | i);
  const auto b = s.Blocks();
  ASSERT_EQ(8192u, b.size());
  // Pieces of any length: the checker waits for whole sub-blocks.
  struct Step { uint32_t length, write, units, takingIn; } steps[] = {
      {2048, 2048, 4, 0}, {100, 2148, 4, 1},  {412, 2560, 5, 0},
      {1, 2561, 5, 1},    {1535, 4096, 8, 0}, {4096, 8192, 16, 0},
  };
  uint32_t at = 0;
  for (const auto& st : steps) {
    ASSERT_EQ(0u, Card().BufSend(&b[at], st.length));
    at += st.length;
    const Reply p = Exchange(89), u = Exchange(86);
    EXPECT_EQ(std::tuple(0u, st.write, st.units, st.takingIn), std::tuple(p.r0, p.r1, u.r1, u.r0 & 1)) << at;
  }
  EXPECT_EQ(std::tuple(4u, 0u, uint64_t{2048 + 8192}),
            std::tuple(Fifo().blocks_received, Fifo().blocks_rejected, State().bulk_bytes));
}

TEST_F(CardsimStream, ReadPointerTakesTheCheckWordsWithTheLastWordOfTheirUnit) {
  // The first unit's payload runs at time 10; its last word advances to 20, where the next unit's
  // first word waits: at time 15 the read pointer stands exactly at the end of the first unit.
  struct Case { uint32_t layout, payload, read; } cases[] = {
      {0, 127, 4 + 127 * 4},  // the header and 127 words
      {1, 127, 512},          // head word and 127 words
      {2, 31, 128},           // 31 words and the check word
  };
  for (const auto& c : cases) {
    cardsim_reset();
    cardsim_set_consume(CARDSIM_CONSUME_STALLED);
    OpenBuffer(CardType::Pcie, c.layout);
    Stream s(c.layout);
    s.At(10, 0x20002002);
    for (uint32_t i = 2; i < c.payload - 1; ++i) s.Raw(0x50000000);
    s.Raw(0x5700000A).Raw(0x62000001).Raw(kEnd);
    SendBytes(s.Blocks());
    Flag(kFlagStart);
    ASSERT_EQ(0u, cardsim_step_us(15));
    EXPECT_EQ(std::tuple(c.read, 2u, 0u), std::tuple(Exchange(89).r0, Outputs(), Fifo().count_markers)) << c.layout;
    ASSERT_EQ(0u, cardsim_step_us(5));
    EXPECT_EQ(std::tuple(1u, uint32_t{CARDSIM_PHASE_ENDED}), std::tuple(Fifo().count_markers, Fifo().phase));
  }
}

TEST_F(CardsimStream, StalledFifoFillsUpDropsWhatHasNoRoomAndNeverEndsAFlush) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Pcie, 0);
  Flag(kFlagStart);
  Stream s(0);
  s.At(1, 0x20002002);
  SendBytes(s.Blocks());
  std::vector<uint8_t> nops(512);
  for (size_t i = 0; i < nops.size(); i += 4) Put32(&nops[i], 0x50000000);
  const uint32_t room = (1u << 24) / 512 - 1;  // the pointers never meet
  for (uint32_t i = 4; i < room; ++i) ASSERT_EQ(0u, Card().BufSend(nops.data(), 512));
  EXPECT_EQ(0u, LinkState() & 0x8);  // bulk not ready
  EXPECT_EQ(std::tuple((1u << 24) - 512, 0u), std::tuple(Fifo().fill, Fifo().overflow_bytes));
  ASSERT_EQ(0u, Card().BufSend(nops.data(), 512));
  EXPECT_EQ(std::tuple((1u << 24) - 512, 512u), std::tuple(Fifo().write_ptr, Fifo().overflow_bytes));
  // The traces count on past the 2^21 entries they keep.
  EXPECT_EQ(room * 128 - 1, cardsim_trace_count(0));
  cardsim_trace_entry e{};
  EXPECT_EQ(0u, cardsim_trace_get(0, 2097151, &e));
  EXPECT_NE(0u, cardsim_trace_get(0, 2097152, &e));
  Flag(kFlagFlush);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(1u, Status().first & 7);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_FLUSHING}, Fifo().phase);
  EXPECT_EQ(0u, Outputs());
  // Draining again runs it out: no end word, so a data break.
  cardsim_set_consume(CARDSIM_CONSUME_AT_ONCE);
  EXPECT_EQ(0u, Status().first & 7);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{4, 0}), EndCodes());
  EXPECT_EQ(2u, Outputs());
  EXPECT_NE(0u, LinkState() & 0x8);
  // The pointers go on past the FIFO's size, mod 2^24, and so does the unit count, mod 256.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0u, Card().BufSend(nops.data(), 512));
  const Reply r = Exchange(89);
  EXPECT_EQ(std::tuple(1024u, 1024u, (room + 3) & 0xFF), std::tuple(r.r0, r.r1, Exchange(86).r1));
  EXPECT_EQ(uint64_t{room + 3} * 512, Fifo().bytes_received);
}

enum class Trigger { None, StartFlag, Flush, Threshold, ThresholdOff, NoBuffer };

TEST_F(CardsimStream, RunStartsOnTheStartFlagAFlushOrTheAmountHeld) {
  struct Case { Trigger trigger; uint32_t phase, reason; bool consumed; } cases[] = {
      {Trigger::None, CARDSIM_PHASE_OPEN, CARDSIM_START_NONE, false},
      {Trigger::StartFlag, CARDSIM_PHASE_RUNNING, CARDSIM_START_FLAG, true},
      {Trigger::Flush, CARDSIM_PHASE_ENDED, CARDSIM_START_FLUSH, true},
      {Trigger::Threshold, CARDSIM_PHASE_RUNNING, CARDSIM_START_THRESHOLD, true},
      {Trigger::ThresholdOff, CARDSIM_PHASE_OPEN, CARDSIM_START_NONE, false},
      {Trigger::NoBuffer, CARDSIM_PHASE_IDLE, CARDSIM_START_NONE, true},  // bytes ignored, flag ignored
  };
  for (const auto& c : cases) {
    const int what = static_cast<int>(c.trigger);
    cardsim_reset();
    cardsim_set_start_threshold(c.trigger == Trigger::ThresholdOff ? 0 : 6144);
    c.trigger == Trigger::NoBuffer ? Open(CardType::Usb) : OpenBuffer(CardType::Usb, 1);
    Stream s(1);
    for (uint32_t i = 0; i < 500; ++i) s.At(i, 0x29000000 | i);
    SendBytes(s.Blocks());  // 2 blocks, under the threshold
    if (c.trigger == Trigger::StartFlag || c.trigger == Trigger::NoBuffer) Flag(kFlagStart);
    if (c.trigger == Trigger::Flush) Flag(kFlagFlush);
    if (c.trigger == Trigger::Threshold || c.trigger == Trigger::ThresholdOff) {
      EXPECT_EQ(uint32_t{CARDSIM_PHASE_OPEN}, Fifo().phase) << what;
      for (uint32_t i = 0; i < 508; ++i) s.Raw(0x50000000);
      SendBytes(s.Blocks());
    }
    const cardsim_fifo f = Fifo();
    EXPECT_EQ(std::tuple(c.phase, c.reason, c.consumed ? f.write_ptr : 0u, c.trigger == Trigger::NoBuffer ? 4096u : 0u),
              std::tuple(f.phase, f.start_reason, f.read_ptr, f.ignored_bytes)) << what;
    EXPECT_EQ(c.phase == CARDSIM_PHASE_OPEN || c.phase == CARDSIM_PHASE_RUNNING ? 1u : 0u, Status().first & 7) << what;
  }
}

TEST_F(CardsimStream, FinalStatusOfEachWayARunEnds) {
  // The flags sent after the stream (stalled: the FIFO stops draining first); the end code, the run
  // state, and whether the first word (output 1 on) ran.
  struct Case {
    bool endWord, stalled;
    std::vector<uint32_t> flags;
    uint32_t code, running, outputs;
    const char* what;
  } cases[] = {
      {true, false, {kFlagStart}, 1, 0, 2, "end word run"},
      {true, false, {kFlagFlush}, 1, 0, 2, "end word run out by the flush"},
      {false, false, {kFlagFlush}, 4, 0, 2, "flush without an end word: data break"},
      {false, false, {kFlagStart}, 0, 1, 2, "still running: no code yet"},
      {true, false, {kFlagStop}, 2, 0, 0, "stop before the run started"},
      {true, false, {kFlagStop, kFlagFlush}, 2, 0, 0, "flush after a stop keeps the stop"},
      {true, true, {kFlagStart, kFlagStop}, 2, 0, 0, "stop while running"},
      {true, false, {kFlagStart, kFlagStop}, 1, 0, 2, "stop after the end keeps the end"},
      {true, false, {kFlagPause, kFlagStart}, 0, 1, 0, "paused: nothing consumed"},
      {true, false, {kFlagPause, kFlagStart, kFlagResume}, 1, 0, 2, "resumed: runs to the end"},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    OpenBuffer(CardType::Pcie, 2);
    Stream s(2);
    s.At(1, 0x20002002).At(20, 0x62000003);
    if (c.endWord) s.At(30, kEnd);
    SendBytes(s.Blocks());
    if (c.stalled) cardsim_set_consume(CARDSIM_CONSUME_STALLED);
    for (uint32_t flag : c.flags) Flag(flag);
    const auto status = Status();
    EXPECT_EQ(std::tuple(c.code, 0u, c.running, c.outputs, 0u, c.code),
              std::tuple((status.second >> 8) & 15, (status.second >> 13) & 7, status.first & 7, Outputs(),
                         status.first & 0x10, Fifo().end_code)) << c.what;
  }
}

TEST_F(CardsimStream, SteppedRunSetsOutputsAndCountsAtTheirTimes) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Pcie, 2);
  ASSERT_EQ(0u, Exchange(34, 0xFFFFFFFF, 0x80000001).rc);  // outputs before the run
  struct Case { uint32_t word, outputs, count; } cases[] = {
      {0x20002002, 0x80000003, 0},       // output 1 set
      {0x62000005, 0x80000003, 5},       // a count marker: command 100 (0, 0) answers its count
      {0x20002000, 0x80000001, 5},       // output 1 cleared
      {0x22010010, 0x84000001, 5},       // output 26
      {0x6200FFFF, 0x84000001, 0xFFFF},
      {0x22200000, 0x04000001, 0xFFFF},  // output 31 cleared
      {0x21003003, 0x04003001, 0xFFFF},  // outputs 12 and 13
      {0x21FFFFFF, 0x043FF001, 0xFFFF},  // bank 1 holds ten outputs: 12-21 only
      {0x62000000, 0x043FF001, 0},
      {0x20FFF000, 0x043FF000, 0},       // bank 0 all cleared
      {0x20000FFF, 0x043FF000, 0},       // values without mask change nothing
      {0x23FFFFFF, 0x043FF000, 0},       // bank 3 lies beyond output 31
  };
  Stream s(2);
  uint64_t t = 10;
  for (const auto& c : cases) s.At(t += 10, c.word);
  s.At(t + 20, kEnd);
  SendBytes(s.Blocks());
  Flag(kFlagStart);
  EXPECT_EQ(0u, cardsim_step_us(19));
  EXPECT_EQ(0x80000001u, Outputs());
  uint32_t lastRead = Fifo().read_ptr;
  for (const auto& c : cases) {
    EXPECT_EQ(0u, cardsim_step_us(10));
    EXPECT_EQ(std::tuple(c.outputs, c.count), std::tuple(Outputs(), Exchange(100).r0)) << std::hex << c.word;
    const uint32_t read = Fifo().read_ptr;
    EXPECT_GT(read, lastRead) << std::hex << c.word;
    lastRead = read;
  }
  EXPECT_EQ(3u, Fifo().count_markers);
  EXPECT_EQ(0u, Exchange(100, 1, 0).r0);  // only (0, 0) reads the count
  EXPECT_EQ(0u, cardsim_step_us(10));
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
  EXPECT_EQ(0u, cardsim_step_us(1));
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_ENDED}, Fifo().phase);
  EXPECT_NE(0u, cardsim_step_us(1));  // nothing runs any more
}

}  // namespace
}  // namespace cardsim_test
