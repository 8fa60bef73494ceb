// The card's data stream (block checker, traces, FIFO edges, how a run starts and ends) and its executor (register
// writes, waits, jumps, camera steps, resident programs, debug records: commands 19 and 87). (The paced run: e2e
// MonitorHost and OffDocHost; input waits: e2e MarkListHost.)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

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

constexpr uint32_t kCmdWaitReason = 19;
constexpr uint32_t kFlagClearAlarm = 0x400;
constexpr uint32_t kTimeoutAlarm = 1u << 5;
constexpr uint32_t kLabel = 0x51800000, kJump = 0x51A00000;

TEST_F(CardsimStream, RegisterWritesAreRecordedWithTheLanesTheyCarry) {
  std::vector<Timed> words;
  Lanes(words, 1, 0x1E, 0);  // the reset sequence
  words.push_back({2, 0x58000001});
  Lanes(words, 3, 0x11223344, 0x55667788);
  words.push_back({4, 0x58000003});
  words.push_back({5, 0x51B0000B});  // the input condition of the last port write, label 5
  words.insert(words.end(), {{6, 0x52000000}, {6, 0x5300AABB}, {6, 0x52000001}, {6, 0x5300CCDD}, {6, 0x52000005},
                             {7, 0x51700000}, {8, kEnd}});
  Run(words);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ExpectRecords({{2, 0x58000001, CARDSIM_REG_PORT, 1, 0x1E, 0, 0},
                 {4, 0x58000003, CARDSIM_REG_PORT, 3, 0x11223344, 0x55667788, 0},
                 {5, 0x51B0000B, CARDSIM_REG_IO_COND, 3, 0x11223344, 0x55667788, 5},
                 {7, 0x51700000, CARDSIM_REG_16, 5, 0x1122CCAA, 0x5566DDBB, 0}},  // lanes 0 and 1 rewritten
                ReadAll<cardsim_reg_write>(cardsim_reg_write_count(), cardsim_reg_write_get),
                [](const cardsim_reg_write& r) {
                  return std::tuple(r.time_us, r.word, r.kind, r.port, r.a, r.b, r.flag);
                });
  cardsim_reg_write r{};
  EXPECT_EQ(1u, cardsim_reg_write_get(4, &r));
  EXPECT_EQ(0u, cardsim_wait_count());
  EXPECT_EQ(words.size(), cardsim_trace_count(1));
}

TEST_F(CardsimStream, TimeOutsEndTheRunAndWaitsTheCardDoesNotModelPass) {
  struct Case {
    const char* what;
    std::vector<Timed> words;  // a wait at 12 on inputs 0, then output 1 at 20 and the end at 30
    uint32_t step, stepped;    // first step, then the time to the end
    uint32_t waitEnd;
    uint64_t held;
    uint32_t timeout;
    uint32_t endCode, subCode;
  } cases[] = {
      {"timed out", {{11, 0x56000064}, {11, 0x58000111}, {12, 0x51618020}}, 112, 0,
       CARDSIM_WAIT_TIMED_OUT, 100, 100, 0, 5},
      {"zero time-out: a test, latched, no alarm", {{11, 0x56000064}, {11, 0x58001111}, {12, 0x51618020}}, 12, 20,
       CARDSIM_WAIT_TESTED, 0, 0, 1, 0},
      {"untimed, stopped", {{11, 0x58000101}, {12, 0x51610020}}, 5000, 0, CARDSIM_WAIT_RUN_END, 4988,
       CARDSIM_NO_TIMEOUT, 2, 0},
      {"scanner arrival after a jump", {{11, 0x560F4240}, {12, 0x51608001}}, 20, 10, CARDSIM_WAIT_PASSED, 0,
       1000000, 1, 0},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    std::vector<Timed> words;
    Lanes(words, 10, 0x1, 0x1);
    words.insert(words.end(), c.words.begin(), c.words.end());
    words.insert(words.end(), {{20, 0x20002002}, {30, kEnd}});
    RunStalled(words);
    ASSERT_EQ(0u, cardsim_step_us(c.step - 1)) << c.what;
    EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase) << c.what;
    ASSERT_EQ(0u, cardsim_step_us(1)) << c.what;
    if (c.stepped) {
      ASSERT_EQ(0u, cardsim_step_us(c.stepped)) << c.what;
    }
    if (c.endCode == 2) Flag(kFlagStop);
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{c.endCode, c.subCode}), EndCodes()) << c.what;
    ASSERT_EQ(1u, cardsim_wait_count()) << c.what;
    const cardsim_wait w = WaitAt(0);
    EXPECT_EQ(std::tuple(c.waitEnd, c.held, c.timeout), std::tuple(w.end, w.held_us, w.timeout_us)) << c.what;
    EXPECT_EQ(c.endCode == 1 ? 2u : 0u, Outputs()) << c.what;
    const bool timedOut = c.waitEnd == CARDSIM_WAIT_TIMED_OUT;
    EXPECT_EQ(timedOut ? kTimeoutAlarm : 0u, Status().first & kTimeoutAlarm) << c.what;
    EXPECT_EQ(timedOut ? 0x20u : 0u, Exchange(kCmdWaitReason).r0) << c.what;
    // The alarm clear (0, then 1) takes the alarm and the reason away.
    Exchange(82, 0, kFlagClearAlarm);
    Exchange(82, 1, kFlagClearAlarm);
    EXPECT_EQ(0u, Status().first & kTimeoutAlarm) << c.what;
    EXPECT_EQ(0u, Exchange(kCmdWaitReason).r0) << c.what;
  }
}

TEST_F(CardsimStream, AJumpToALabelNotYetReceivedWaitsForIt) {
  RunStalled({{1, kJump | 9}, {2, 0x62000001}});  // padded: the label is not in this block
  ASSERT_EQ(0u, cardsim_step_us(50));
  EXPECT_EQ(0u, Fifo().count_markers);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
}

// A loop that takes no time runs on in every driver entry; one entry holds the card for a few ms
// at most, so a stop from another thread, while a host thread polls the card, gets through at once.
TEST_F(CardsimStream, AStopFromAnotherThreadEndsALoopThatTakesNoTime) {
  Run({{1, kLabel | 1}, {1, 0x62000001}, {1, kJump | 1}});
  std::atomic<bool> stopped{false};
  std::thread poller([&] {
    for (; !stopped; std::this_thread::sleep_for(std::chrono::milliseconds(1))) Fifo();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  Flag(kFlagStop);
  const auto took = std::chrono::steady_clock::now() - start;
  stopped = true;
  poller.join();
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{2, 0}), EndCodes());
  EXPECT_GT(Fifo().count_markers, 1u);
  // Far above the few ms an entry takes; with 2^22 words per entry a stop took half a second and more.
  EXPECT_LT(took, std::chrono::milliseconds(200));
}

TEST_F(CardsimStream, CameraStepsAreRecordedWithTheirRegisters) {
  const std::vector<Timed> step = {{1, 0x33000000}, {2, 0x560F4240}, {3, 0x51608008}, {4, 0x31001234},
                                   {4, 0x32005678}, {4, 0x34004C42}, {5, 0x52000000}, {5, 0x53000000},
                                   {5, 0x52000001}, {5, 0x53000105}, {6, 0x52000003}, {7, 0x51700000},
                                   {8, kEnd}};
  RunStalled(step);
  ASSERT_EQ(0u, cardsim_step_us(100));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ASSERT_EQ(1u, cardsim_camera_count());
  cardsim_camera cam{};
  ASSERT_EQ(0u, cardsim_camera_get(0, &cam));
  EXPECT_EQ(std::tuple(uint64_t{4}, 0x1234u, 0x5678u, 0x34004C42u, 0u, 0x105u),
            std::tuple(cam.time_us, cam.x, cam.y, cam.para, cam.reg0, cam.reg1));
}

// A downloaded program stays resident past its end word; its slot tags the executed trace; a stop ends it.
TEST_F(CardsimStream, ResidentProgramEntersSlotsByTheInputsOrTheStoredLabel) {
  cardsim_set_inputs(0x7);  // slot 3 under the mask 0x1E
  RunStalled({{1, 0x59100000}, {1, 0x5920001E}, {2, 0x51A20000}, {3, kLabel | 6}, {4, 0x62000006},
              {5, 0x59400009}, {6, 0x59500000}, {7, 0x51A20000}, {8, kLabel | 9}, {9, 0x62000009},
              {10, kJump | 6}, {11, kEnd}});
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  EXPECT_EQ(Fifo().bytes_consumed, Fifo().bytes_received);
  ASSERT_EQ(0u, cardsim_step_us(20));
  std::vector<uint32_t> markers, tags;
  for (const cardsim_trace_entry& e : Executed(0x62)) {
    markers.push_back(e.word & 0xFF);
    tags.push_back(e.reserved);
  }
  EXPECT_EQ(markers, (std::vector<uint32_t>{6, 9, 6, 9, 6, 9}));  // a round every 6 µs
  EXPECT_EQ(tags, (std::vector<uint32_t>{4, 0, 0, 0, 0, 0}));
  Flag(kFlagStop);
  EXPECT_EQ(1u, cardsim_step_us(20));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
}

using Rec = std::tuple<uint32_t, uint32_t, uint32_t>;  // kind, dt (48 MHz ticks), value

// The debug records a run makes (io words, positions, samples, gaps) and a full queue.
class CardsimRecords : public CardsimStream {
 protected:
  // Every queued record, read through command 87 in the long form.
  static std::vector<Rec> Drain() {
    std::vector<Rec> out;
    for (;;) {
      const Reply r = Exchange(87);
      if (r.r0 == 0) return out;
      const uint32_t field = (r.r0 >> 24) & 0xF;
      const uint32_t kind = field == 0xA ? 3 : field == 0xB ? 1 : field == 0xC ? 2 : field == 0x9 ? 4 : 0;
      out.emplace_back(kind, r.r0 & 0xFFFFFF, r.r1);
    }
  }
};

TEST_F(CardsimRecords, ARunGivesIoPositionAndSampleRecordsAtItsTimes) {
  ASSERT_EQ(0u, cardsim_set_card_version(kVersionOfLayout[1]));
  Open(CardType::Usb);
  ASSERT_EQ(0u, Exchange(36, 0, 5 << 8).rc);      // samples every 50 µs
  ASSERT_EQ(0u, Exchange(82, 1, 0x10).rc);        // records on
  Run({{1, 0x04000002},                    // 21-bit codes
       {10, 0x01100000}, {10, 0x015FFFE0},  // a move: the top 16 bits of each code
       {20, 0x16000001},                    // laser 0's pulses start
       {60, 0x16000000},                    // and stop
       {70, 0x20004004},                    // output 2
       {120, kEnd}},
      CardType::Usb, 1);
  const std::vector<Rec> got = Drain();
  const std::vector<Rec> want = {
      {3, 0, 1},                               // the job
      {2, 0, 0},                               // the sample at 0
      {1, 10 * 48, 0x8000}, {1, 0, 0xFFFF8000},  // one record per galvanometer word at 10
      {3, 10 * 48, 3}, {2, 30 * 48, 0},        // laser on at 20, the sample at 50
      {3, 10 * 48, 1}, {3, 10 * 48, 5},        // laser off at 60, output 1 at 70
      {2, 30 * 48, 0}, {3, 20 * 48, 4},        // the sample at 100; the end at 120
  };
  EXPECT_EQ(want, got);
}

TEST_F(CardsimRecords, GapsAreBridgedAndAFullQueueCountsWhatItDrops) {
  cardsim::DebugRecordModel m;
  m.SetOn(true);
  m.IoWord(1);
  m.RunOpened();
  m.SetKinds(0);                       // no samples
  m.StreamAt(400000, 0, 0);            // 0.4 s: more than the 24-bit dt holds
  m.IoWord(0);
  uint32_t r0 = 0, r1 = 0;
  for (const auto& want : {std::pair(0xAA000000u, 1u), std::pair(0xA9FFFFFFu, 0u),
                           std::pair(0xAA000000u | (400000u * 48 - 0xFFFFFF), 0u)}) {
    m.Next(r0, r1);
    EXPECT_EQ(std::pair(r0, r1), want);
  }
  m.Next(r0, r1);
  EXPECT_EQ(r0, 0u);
  // Samples of a long run fill the queue; the rest are counted, the run never waits.
  m.IoWord(1);
  m.RunOpened();
  m.SetKinds(2);
  m.StreamAt(80ull * (cardsim::DebugRecordModel::kCapacity + 99), 1, 2);
  EXPECT_EQ(m.Queued(), cardsim::DebugRecordModel::kCapacity);
  EXPECT_EQ(m.Overflow(), 101u);  // kCapacity + 100 samples due, one place taken by the io record
}

}  // namespace
}  // namespace cardsim_test
