// The card's side of the data stream: FIFO pointers and counts, the block checker of each layout,
// the decoded trace, the start of the run, consumption modes, executed words and the final status.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "cardsim_fixture.h"
#include "stream_encoder.h"
#include "support/temp_dir.h"

namespace cardsim_test {
namespace {

constexpr uint32_t kEnd = 0x51100001;
constexpr uint32_t kFlagPause = 0x1, kFlagResume = 0x2, kFlagStop = 0x4, kFlagFlush = 0x8, kFlagStart = 0x40000;

// A card version for each layout.
constexpr uint32_t kVersionOfLayout[3] = {64, 85, 96};

class CardsimStream : public CardsimTest {
 protected:
  // Opens the card and the buffer of a job in `layout`.
  static void OpenBuffer(CardType type, uint32_t layout) {
    ASSERT_EQ(0u, cardsim_set_card_version(kVersionOfLayout[layout]));
    Open(type);
    ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
  }
  // Sends bytes in the chunks of the card type (2048 USB, 512 PCIe).
  static void SendBytes(const std::vector<uint8_t>& b) {
    const size_t chunk = FrameLength() == 10 ? 2048 : 512;
    for (size_t i = 0; i < b.size(); i += chunk)
      ASSERT_EQ(0u, Card().BufSend(&b[i], static_cast<uint32_t>(std::min(chunk, b.size() - i))));
  }
  static void Flag(uint32_t mask) { ASSERT_EQ(0u, Exchange(82, 0, mask).rc); }
  static cardsim_fifo Fifo() {
    cardsim_fifo f{};
    EXPECT_EQ(0u, cardsim_get_fifo(&f));
    return f;
  }
  static std::vector<cardsim_trace_entry> Trace(uint32_t wordsOnly) {
    std::vector<cardsim_trace_entry> v(cardsim_trace_count(wordsOnly));
    for (uint32_t i = 0; i < v.size(); ++i) EXPECT_EQ(0u, cardsim_trace_get(wordsOnly, i, &v[i]));
    return v;
  }
  // Outputs as command 34 (0, 0) reads them back.
  static uint32_t Outputs() { return Exchange(34, 0, 0).r1; }
  // End code and sub code of the status reply.
  static std::pair<uint32_t, uint32_t> EndCodes() {
    const uint32_t r1 = Status().second;
    return {(r1 >> 8) & 15, (r1 >> 13) & 7};
  }
};

struct Timed {
  uint64_t t;
  uint32_t w;
};

void ExpectTrace(const std::vector<Timed>& expect, const std::vector<cardsim_trace_entry>& got, const char* what) {
  ASSERT_EQ(expect.size(), got.size()) << what;
  for (size_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(expect[i].t, got[i].time_us) << what << " entry " << i;
    EXPECT_EQ(expect[i].w, got[i].word) << what << " entry " << i << std::hex << " word " << got[i].word;
  }
}

TEST(CardsimStreamCrc, KnownValuesOfTheCardAndOfTheTestEncoder) {
  struct Case { const char* data; uint16_t init, crc; } cases[] = {
      {"123456789", 0x0000, 0x31C3}, {"123456789", 0xFFFF, 0x29B1}, {"123456789", 0x1D0F, 0xE5CC},
      {"A", 0x0000, 0x58E5},         {"", 0x1234, 0x1234},
  };
  for (const auto& c : cases) {
    const auto* d = reinterpret_cast<const uint8_t*>(c.data);
    const auto n = static_cast<uint32_t>(std::strlen(c.data));
    EXPECT_EQ(c.crc, cardsim::StreamCrc16(d, n, c.init)) << c.data << " " << c.init;
    EXPECT_EQ(c.crc, BitwiseCrc16(d, n, c.init)) << c.data << " " << c.init;
  }
}

TEST_F(CardsimStream, LayoutFollowsTheCardVersion) {
  struct Case { uint32_t version, layout; } cases[] = {{48, 0}, {79, 0}, {80, 1}, {95, 1}, {96, 2}, {200, 2}};
  for (const auto& c : cases) {
    cardsim_reset();
    cardsim_set_card_version(c.version);
    Open(CardType::Usb);
    ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
    EXPECT_EQ(c.layout, Fifo().layout) << c.version;
  }
}

TEST_F(CardsimStream, TraceHoldsEveryWordAtItsStreamTime) {
  for (uint32_t layout = 0; layout < 3; ++layout) {
    for (CardType type : {CardType::Usb, CardType::Pcie}) {
      cardsim_reset();
      cardsim_set_consume(CARDSIM_CONSUME_STALLED);
      OpenBuffer(type, layout);
      TestStream s(layout);
      std::vector<Timed> words = {{1, 0x15000001}, {1, 0x20002002}, {10, 0x62000007}, {0x700000 + 10, 0x01000123}};
      s.At(1, 0x15000001).At(1, 0x20002002).At(3, 0x50000000).At(10, 0x62000007).Raw(0x50000000);
      s.At(0x700000 + 10, 0x01000123);
      // Enough words to cross several blocks and, in layouts 1 and 2, sub-blocks.
      for (uint32_t i = 0; i < 1200; ++i) {
        s.At(0x700000 + 20 + 2 * i, 0x29000000 | i);
        words.push_back({0x700000 + 20 + 2 * i, 0x29000000 | i});
      }
      s.Raw(0x57FFFFFF).Raw(kEnd).Raw(0x20002002);  // the word after the end is not decoded
      words.push_back({0x700000 + 20 + 2 * 1199 + 0xFFFFFF, kEnd});
      SendBytes(s.Blocks());
      ExpectTrace(words, Trace(1), "words");
      const std::vector<Timed> head = {{0, 0x57000001}, {1, 0x15000001}, {1, 0x20002002}, {1, 0x57000002},
                                       {3, 0x50000000}, {3, 0x57000007}, {10, 0x62000007}, {10, 0x50000000},
                                       {10, 0x57700000}, {0x700000 + 10, 0x01000123}};
      auto full = Trace(0);
      ASSERT_GE(full.size(), head.size() + 2400);
      EXPECT_EQ(head.size() + 2400 + 2, full.size());  // each later word has its advance; then 0x57FFFFFF and the end
      full.resize(head.size());
      ExpectTrace(head, full, "full");
      const cardsim_fifo f = Fifo();
      EXPECT_EQ(0x700000u + 20 + 2 * 1199 + 0xFFFFFF, f.stream_us);
      EXPECT_EQ(0u, f.blocks_rejected);
      EXPECT_EQ(0u, f.words_run);
    }
  }
}

TEST_F(CardsimStream, PaddingAdvancesTimeAndClearingTheTraceKeepsDecoding) {
  OpenBuffer(CardType::Usb, 1);
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  TestStream s(1);
  s.At(100, 0x62000001);
  SendBytes(s.Blocks());
  // 508 slots: 2 words used, 506 padded; counting back from the last, slots 0, 20, ... 500 advance.
  EXPECT_EQ(100u + 26, Fifo().stream_us);
  EXPECT_EQ(508u, cardsim_trace_count(0));
  EXPECT_EQ(1u, cardsim_trace_count(1));
  ASSERT_EQ(0u, cardsim_trace_clear());
  EXPECT_EQ(0u, cardsim_trace_count(0));
  cardsim_trace_entry e{};
  EXPECT_NE(0u, cardsim_trace_get(0, 0, &e));
  s.At(200, 0x62000002);
  SendBytes(s.Blocks());
  ASSERT_EQ(1u, cardsim_trace_count(1));
  ASSERT_EQ(0u, cardsim_trace_get(1, 0, &e));
  EXPECT_EQ(0x62000002u, e.word);
  EXPECT_EQ(126u + 100, e.time_us);  // the stream's time went on from the padding
}

// Corruptions of a two-block stream and what the checker makes of them.
enum class Bad { None, FlipByte, SwapBlocks };

TEST_F(CardsimStream, CheckerAcceptsGoodBlocksAndRefusesBadOnesInEachLayout) {
  struct Case {
    uint32_t layout;
    Bad bad;
    uint32_t offset;
    uint8_t mask;
    uint32_t check, rejected;
    const char* what;
  } cases[] = {
      {0, Bad::None, 0, 0, CARDSIM_CHECK_NONE, 0, "layout 0 good"},
      {0, Bad::FlipByte, 0, 0x01, CARDSIM_CHECK_HEAD, 1, "layout 0 header"},
      {0, Bad::FlipByte, 3, 0x80, CARDSIM_CHECK_HEAD, 1, "layout 0 header top byte"},
      {0, Bad::FlipByte, 4, 0x01, CARDSIM_CHECK_NONE, 0, "layout 0 checks no other word"},
      {0, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_HEAD, 1, "layout 0 second block first"},
      {1, Bad::None, 0, 0, CARDSIM_CHECK_NONE, 0, "layout 1 good"},
      {1, Bad::FlipByte, 0, 0xFF, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 head magic"},
      {1, Bad::FlipByte, 2048 + 1024 + 2, 0x01, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 sequence nibble"},
      {1, Bad::FlipByte, 2048 + 1024 + 2, 0x10, CARDSIM_CHECK_SEQUENCE, 1, "layout 1 sub-code above the nibble"},
      {1, Bad::FlipByte, 512 + 40, 0x01, CARDSIM_CHECK_NONE, 0, "layout 1 checks no payload"},
      {1, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_SEQUENCE, 8, "layout 1 blocks out of order"},
      {2, Bad::None, 0, 0, CARDSIM_CHECK_NONE, 0, "layout 2 good"},
      {2, Bad::FlipByte, 2048 + 5 * 128 + 17, 0x04, CARDSIM_CHECK_CRC, 1, "layout 2 payload bit"},
      {2, Bad::FlipByte, 3 * 128 + 124, 0x01, CARDSIM_CHECK_CRC, 1, "layout 2 CRC low byte"},
      {2, Bad::FlipByte, 3 * 128 + 127, 0x01, CARDSIM_CHECK_CRC, 1, "layout 2 check word tag"},
      {2, Bad::SwapBlocks, 0, 0, CARDSIM_CHECK_CRC, 32, "layout 2 blocks out of order"},
  };
  for (const auto& c : cases) {
    for (CardType type : {CardType::Usb, CardType::Pcie}) {
      cardsim_reset();
      OpenBuffer(type, c.layout);
      TestStream s(c.layout);
      for (uint32_t i = 0; i < 490; ++i) s.At(1 + i, 0x29000000 | i);
      s.At(700, 0x62000042).At(701, kEnd);
      std::vector<uint8_t> b = s.Blocks();
      ASSERT_EQ(4096u, b.size()) << c.what;
      if (c.bad == Bad::FlipByte) b[c.offset] ^= c.mask;
      if (c.bad == Bad::SwapBlocks) std::swap_ranges(b.begin(), b.begin() + 2048, b.begin() + 2048);
      SendBytes(b);
      Flag(kFlagStart);
      const cardsim_fifo f = Fifo();
      const auto status = Status();
      EXPECT_EQ(c.check, f.check_error) << c.what;
      EXPECT_EQ(c.rejected, f.blocks_rejected) << c.what;
      EXPECT_EQ(uint32_t{CARDSIM_PHASE_ENDED}, f.phase) << c.what;
      EXPECT_EQ(0u, status.first & 7) << c.what;
      EXPECT_EQ(f.write_ptr, f.read_ptr) << c.what;
      if (c.check == CARDSIM_CHECK_NONE) {
        EXPECT_EQ(0u, status.first & 0x10) << c.what;
        EXPECT_EQ(0x100u, status.second & 0xFF00) << c.what;
        EXPECT_EQ(0x42u, f.last_count) << c.what;
      } else {
        // Stream-check alarm, run aborted with "Buffer Head Err" (code 0, sub 3); nothing executed.
        EXPECT_EQ(0x10u, status.first & 0x10) << c.what;
        EXPECT_EQ(0x6000u, status.second & 0xFF00) << c.what;
        EXPECT_EQ(0u, f.count_markers) << c.what;
      }
    }
  }
}

TEST_F(CardsimStream, PointersAndReceivedUnitsFollowTheBytesTakenIn) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Usb, 1);
  Reply r = Exchange(89);
  EXPECT_EQ(0u, r.r0);
  EXPECT_EQ(0u, r.r1);
  TestStream s(1);
  for (uint32_t i = 0; i < 1000; ++i) s.At(i, 0x29000000 | i);
  const auto b = s.Blocks();  // 4 blocks
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
    r = Exchange(89);
    EXPECT_EQ(0u, r.r0) << at;
    EXPECT_EQ(st.write, r.r1) << at;
    r = Exchange(86);
    EXPECT_EQ(st.units, r.r1) << at;
    EXPECT_EQ(st.takingIn, r.r0 & 1) << at;
  }
  EXPECT_EQ(0u, Fifo().blocks_rejected);
  EXPECT_EQ(4u, Fifo().blocks_received);
  // The received count is reported mod 256.
  TestStream more(1);
  more.sequence = s.sequence;
  for (uint32_t i = 0; i < 64 * 508; ++i) more.Raw(0x50000000);
  SendBytes(more.Blocks());
  EXPECT_EQ((16u + 256) & 0xFF, Exchange(86).r1);
  EXPECT_EQ(272u, Fifo().units_received);
  EXPECT_EQ(0u, Fifo().blocks_rejected);
}

TEST_F(CardsimStream, PointersWrapAtTheFifoSize) {
  OpenBuffer(CardType::Usb, 0);
  Flag(kFlagStart);
  TestStream s(0);
  s.At(1, 0x62000001);
  SendBytes(s.Blocks());
  std::vector<uint8_t> nops(2048);
  for (size_t i = 0; i < nops.size(); i += 4) Put32(&nops[i], 0x50000000);
  for (uint32_t i = 0; i < 8192; ++i) ASSERT_EQ(0u, Card().BufSend(nops.data(), 2048));
  const Reply r = Exchange(89);
  EXPECT_EQ(2048u, r.r0);
  EXPECT_EQ(2048u, r.r1);
  EXPECT_EQ((8193u * 4) & 0xFF, Exchange(86).r1);
  const cardsim_fifo f = Fifo();
  EXPECT_EQ(8193ull * 2048, f.bytes_received);
  EXPECT_EQ(0u, f.fill);
  EXPECT_EQ(0u, f.overflow_bytes);
  // The traces count on past what they keep.
  const uint32_t total = cardsim_trace_count(0);
  EXPECT_EQ(8193u * 512 - 1, total);
  cardsim_trace_entry e{};
  EXPECT_EQ(0u, cardsim_trace_get(0, 2097151, &e));
  EXPECT_NE(0u, cardsim_trace_get(0, 2097152, &e));
}

TEST_F(CardsimStream, StalledFifoFillsUpDropsWhatHasNoRoomAndNeverEndsAFlush) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  OpenBuffer(CardType::Pcie, 0);
  Flag(kFlagStart);
  TestStream s(0);
  s.At(1, 0x20002002);
  SendBytes(s.Blocks());
  std::vector<uint8_t> nops(512);
  for (size_t i = 0; i < nops.size(); i += 4) Put32(&nops[i], 0x50000000);
  const uint32_t room = (1u << 24) / 512 - 1;  // the pointers never meet
  for (uint32_t i = 4; i < room; ++i) ASSERT_EQ(0u, Card().BufSend(nops.data(), 512));
  EXPECT_EQ(0u, LinkState() & 0x8);  // bulk not ready
  cardsim_fifo f = Fifo();
  EXPECT_EQ((1u << 24) - 512, f.fill);
  EXPECT_EQ(0u, f.read_ptr);
  EXPECT_EQ(0u, f.overflow_bytes);
  ASSERT_EQ(0u, Card().BufSend(nops.data(), 512));
  f = Fifo();
  EXPECT_EQ(512u, f.overflow_bytes);
  EXPECT_EQ((1u << 24) - 512, f.write_ptr);
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
}

enum class Trigger { None, StartFlag, Flush, Threshold, ThresholdOff };

TEST_F(CardsimStream, RunStartsOnTheStartFlagAFlushOrTheAmountHeld) {
  struct Case { Trigger trigger; uint32_t phase, reason; bool consumed; } cases[] = {
      {Trigger::None, CARDSIM_PHASE_OPEN, CARDSIM_START_NONE, false},
      {Trigger::StartFlag, CARDSIM_PHASE_RUNNING, CARDSIM_START_FLAG, true},
      {Trigger::Flush, CARDSIM_PHASE_ENDED, CARDSIM_START_FLUSH, true},
      {Trigger::Threshold, CARDSIM_PHASE_RUNNING, CARDSIM_START_THRESHOLD, true},
      {Trigger::ThresholdOff, CARDSIM_PHASE_OPEN, CARDSIM_START_NONE, false},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    cardsim_set_start_threshold(c.trigger == Trigger::ThresholdOff ? 0 : 6144);
    OpenBuffer(CardType::Usb, 1);
    TestStream s(1);
    for (uint32_t i = 0; i < 500; ++i) s.At(i, 0x29000000 | i);
    auto b = s.Blocks();  // 2 blocks, under the threshold
    SendBytes(b);
    EXPECT_EQ(1u, Status().first & 7);
    if (c.trigger == Trigger::StartFlag) Flag(kFlagStart);
    if (c.trigger == Trigger::Flush) Flag(kFlagFlush);
    if (c.trigger == Trigger::Threshold || c.trigger == Trigger::ThresholdOff) {
      EXPECT_EQ(uint32_t{CARDSIM_PHASE_OPEN}, Fifo().phase);
      for (uint32_t i = 0; i < 508; ++i) s.Raw(0x50000000);
      SendBytes(s.Blocks());
    }
    const cardsim_fifo f = Fifo();
    EXPECT_EQ(c.phase, f.phase) << static_cast<int>(c.trigger);
    EXPECT_EQ(c.reason, f.start_reason) << static_cast<int>(c.trigger);
    EXPECT_EQ(c.consumed ? f.write_ptr : 0u, f.read_ptr) << static_cast<int>(c.trigger);
  }
  // Without an open buffer the start flag does nothing.
  cardsim_reset();
  Open(CardType::Usb);
  Flag(kFlagStart);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_IDLE}, Fifo().phase);
  EXPECT_EQ(0u, Status().first & 7);
}

enum class Act { StartFlag, Flush, Stop, StopThenFlush, StartStallStop, EndThenStop };

TEST_F(CardsimStream, FinalStatusOfEachWayARunEnds) {
  struct Case { bool endWord; Act act; uint32_t code, sub; const char* what; } cases[] = {
      {true, Act::StartFlag, 1, 0, "end word run"},
      {true, Act::Flush, 1, 0, "end word run out by the flush"},
      {false, Act::Flush, 4, 0, "flush without an end word: data break"},
      {false, Act::StartFlag, 0, 0, "still running: no code yet"},
      {true, Act::Stop, 2, 0, "stop before the run started"},
      {true, Act::StopThenFlush, 2, 0, "flush after a stop keeps the stop"},
      {true, Act::StartStallStop, 2, 0, "stop while running"},
      {true, Act::EndThenStop, 1, 0, "stop after the end keeps the end"},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    OpenBuffer(CardType::Pcie, 2);
    TestStream s(2);
    s.At(1, 0x20002002).At(20, 0x62000003);
    if (c.endWord) s.At(30, kEnd);
    SendBytes(s.Blocks());
    switch (c.act) {
      case Act::StartFlag: Flag(kFlagStart); break;
      case Act::Flush: Flag(kFlagFlush); break;
      case Act::Stop: Flag(kFlagStop); break;
      case Act::StopThenFlush: Flag(kFlagStop); Flag(kFlagFlush); break;
      case Act::StartStallStop:
        cardsim_set_consume(CARDSIM_CONSUME_STALLED);
        Flag(kFlagStart);
        Flag(kFlagStop);
        break;
      case Act::EndThenStop: Flag(kFlagStart); Flag(kFlagStop); break;
    }
    const auto status = Status();
    EXPECT_EQ(c.code, (status.second >> 8) & 15) << c.what;
    EXPECT_EQ(c.sub, (status.second >> 13) & 7) << c.what;
    const bool running = c.act == Act::StartFlag && !c.endWord;
    EXPECT_EQ(running ? 1u : 0u, status.first & 7) << c.what;
    EXPECT_EQ(0u, status.first & 0x10) << c.what;
    EXPECT_EQ(c.code, Fifo().end_code) << c.what;
  }
}

TEST_F(CardsimStream, SteppedRunSetsOutputsAtTheirTimes) {
  Open(CardType::Usb);
  ASSERT_EQ(0u, Exchange(34, 0xFFFFFFFF, 0x80000001).rc);  // outputs before the job
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
  struct Case { uint32_t word, outputs; } cases[] = {
      {0x20002002, 0x80000003},  // output 1 set
      {0x20002000, 0x80000001},  // and cleared
      {0x22010010, 0x84000001},  // output 26
      {0x22200000, 0x04000001},  // output 31 cleared
      {0x21003003, 0x04003001},  // outputs 12 and 13
      {0x21FFFFFF, 0x043FF001},  // bank 1 holds ten outputs: 12-21 only
      {0x20FFF000, 0x043FF000},  // bank 0 all cleared
      {0x20000FFF, 0x043FF000},  // values without mask change nothing
      {0x23FFFFFF, 0x043FF000},  // bank 3 lies beyond output 31
  };
  TestStream s(1);
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
    EXPECT_EQ(c.outputs, Outputs()) << std::hex << c.word;
    const uint32_t read = Fifo().read_ptr;
    EXPECT_GT(read, lastRead) << std::hex << c.word;
    lastRead = read;
  }
  EXPECT_EQ(0u, cardsim_step_us(10));
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
  EXPECT_EQ(0u, cardsim_step_us(1));
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_ENDED}, Fifo().phase);
  EXPECT_EQ(0x043FF000u, State().outputs);
  EXPECT_NE(0u, cardsim_step_us(1));  // nothing runs any more
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
    TestStream s(c.layout);
    s.At(10, 0x20002002);
    for (uint32_t i = 2; i < c.payload - 1; ++i) s.Raw(0x50000000);
    s.Raw(0x5700000A).Raw(0x62000001).Raw(kEnd);
    SendBytes(s.Blocks());
    Flag(kFlagStart);
    ASSERT_EQ(0u, cardsim_step_us(15));
    EXPECT_EQ(c.read, Exchange(89).r0) << c.layout;
    EXPECT_EQ(2u, Outputs()) << c.layout;
    EXPECT_EQ(0u, Fifo().count_markers) << c.layout;
    ASSERT_EQ(0u, cardsim_step_us(5));
    EXPECT_EQ(1u, Fifo().count_markers) << c.layout;
    EXPECT_EQ(uint32_t{CARDSIM_PHASE_ENDED}, Fifo().phase) << c.layout;
  }
}

TEST_F(CardsimStream, CountMarkersKeepTheLastCountForCommand100) {
  OpenBuffer(CardType::Pcie, 2);
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  const uint32_t markers[] = {0x62000005, 0x6200FFFF, 0x62000000, 0x62001234};
  TestStream s(2);
  uint64_t t = 0;
  for (uint32_t m : markers) s.At(t += 100, m);
  SendBytes(s.Blocks());
  Flag(kFlagStart);
  EXPECT_EQ(0u, Exchange(100).r0);
  uint32_t n = 0;
  for (uint32_t m : markers) {
    cardsim_step_us(100);
    EXPECT_EQ(m & 0xFFFF, Exchange(100).r0);
    EXPECT_EQ(m & 0xFFFF, Fifo().last_count);
    EXPECT_EQ(++n, Fifo().count_markers);
  }
  EXPECT_EQ(0u, Exchange(100, 1, 0).r0);  // only (0, 0) reads the count
}

TEST_F(CardsimStream, PauseHoldsConsumptionAndResumeReleasesIt) {
  OpenBuffer(CardType::Usb, 1);
  Flag(kFlagStart);
  Flag(kFlagPause);
  TestStream s(1);
  s.At(5, 0x20002002).At(6, kEnd);
  SendBytes(s.Blocks());
  EXPECT_EQ(0u, Exchange(89).r0);
  EXPECT_NE(0u, cardsim_step_us(100));
  EXPECT_EQ(1u, Status().first & 7);
  Flag(kFlagResume);
  EXPECT_EQ(0u, Status().first & 7);
  EXPECT_EQ(2u, Outputs());
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
}

TEST_F(CardsimStream, PacedRunFollowsRealTimeTimesTheSpeed) {
  cardsim_set_consume(CARDSIM_CONSUME_PACED);
  OpenBuffer(CardType::Usb, 1);
  TestStream s(1);
  s.At(10, 0x20002002).At(10000000, 0x20002000).At(10000001, kEnd);
  SendBytes(s.Blocks());
  Flag(kFlagStart);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // 10 s of stream time cannot have passed at 100 %.
  cardsim_fifo f = Fifo();
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, f.phase);
  EXPECT_EQ(2u, Outputs());
  EXPECT_GE(f.clock_us, 10u);
  EXPECT_LT(f.clock_us, 10000000u);
  EXPECT_LE(f.clock_us,
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - start).count()) + 1000);
  // A thousand times faster, the rest goes within milliseconds.
  cardsim_set_speed(100000);
  for (int i = 0; i < 2000 && Fifo().phase != CARDSIM_PHASE_ENDED; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  EXPECT_EQ(0u, Outputs());
}

TEST_F(CardsimStream, FlashTransferBytesStayOutOfTheFifo) {
  OpenBuffer(CardType::Usb, 1);
  ASSERT_EQ(0u, Exchange(83, 2, 0x20000000).rc);
  std::vector<uint8_t> page(2048, 0xA5);
  ASSERT_EQ(0u, Card().BufSend(page.data(), 2048));
  EXPECT_EQ(0u, Fifo().bytes_received);
  TestStream s(1);
  s.At(1, kEnd);
  SendBytes(s.Blocks());
  EXPECT_EQ(2048u, Fifo().bytes_received);
  EXPECT_EQ(0u, Fifo().blocks_rejected);
  EXPECT_EQ(4096u, State().bulk_bytes);
}

TEST_F(CardsimStream, BufferOpenStartsTheJobOver) {
  Open(CardType::Usb);
  std::vector<uint8_t> early(2048, 0x11);
  ASSERT_EQ(0u, Card().BufSend(early.data(), 2048));  // no buffer open: not taken in
  EXPECT_EQ(2048u, Fifo().ignored_bytes);
  EXPECT_EQ(0u, Fifo().bytes_received);
  for (int job = 0; job < 2; ++job) {  // the sequence starts again from 0
    ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
    const cardsim_fifo f = Fifo();
    EXPECT_EQ(uint32_t{CARDSIM_PHASE_OPEN}, f.phase);
    EXPECT_EQ(0u, f.bytes_received + f.write_ptr + f.last_count + cardsim_trace_count(0));
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{0, 0}), EndCodes());
    EXPECT_EQ(1u, Status().first & 7);
    TestStream s(1);
    s.At(1, 0x62001234).At(2, kEnd);
    SendBytes(s.Blocks());
    Flag(kFlagStart);
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
    EXPECT_EQ(0x1234u, Exchange(100).r0);
    EXPECT_EQ(0u, Fifo().blocks_rejected);
  }
  EXPECT_EQ(2048u, Fifo().ignored_bytes);
}

TEST_F(CardsimStream, ConfigurationAndControlFunctionsRefuseBadValues) {
  EXPECT_NE(0u, cardsim_set_consume(3));
  EXPECT_NE(0u, cardsim_get_fifo(nullptr));
  EXPECT_NE(0u, cardsim_trace_get(0, 0, nullptr));
  EXPECT_NE(0u, cardsim_step_us(1));  // no run
  EXPECT_EQ(uint32_t{CARDSIM_CONSUME_AT_ONCE}, Fifo().consume_mode);
  EXPECT_EQ(24u * 65536, Fifo().start_threshold);
  qztest::TempDir dir;
  const std::string path = dir.File("card.cfg");
  std::ofstream(path) << "consume = 2\nstart_bytes = 4096\n";
  ASSERT_EQ(0u, cardsim_load_config(path.c_str()));
  EXPECT_EQ(uint32_t{CARDSIM_CONSUME_STALLED}, Fifo().consume_mode);
  EXPECT_EQ(4096u, Fifo().start_threshold);
  std::ofstream(path) << "consume = 3\n";
  EXPECT_EQ(1u, cardsim_load_config(path.c_str()));
  EXPECT_EQ(uint32_t{CARDSIM_CONSUME_STALLED}, Fifo().consume_mode);
}

}  // namespace
}  // namespace cardsim_test
