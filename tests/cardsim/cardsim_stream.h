#pragma once
// Streams of timed words cut into blocks by the library's block builder, and a fixture that runs them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cardsim_fixture.h"
#include "mark/mark_data2fifo.h"

namespace cardsim_test {

inline constexpr uint32_t kEnd = 0x51100001;
inline constexpr uint32_t kFlagPause = 0x1, kFlagResume = 0x2, kFlagStop = 0x4, kFlagFlush = 0x8;
inline constexpr uint32_t kFlagStart = 0x40000;

// A stream word at its time.
struct Timed {
  uint64_t t;
  uint32_t word;
};

// A card version for each layout.
inline constexpr uint32_t kVersionOfLayout[3] = {64, 85, 96};

// Register lanes 0-3 of A and B written at t (lane select, then the lane's bytes).
inline void Lanes(std::vector<Timed>& w, uint64_t t, uint32_t a, uint32_t b) {
  for (uint32_t lane = 0; lane < 4; ++lane) {
    w.push_back({t, 0x52000000 | lane});
    w.push_back({t, 0x55000000 | ((a >> 8 * lane) & 0xFF) << 8 | ((b >> 8 * lane) & 0xFF)});
  }
}

// Every entry of one of the card's lists, read by index.
template <class T, class Get>
std::vector<T> ReadAll(uint32_t count, Get get) {
  std::vector<T> out(count);
  for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(0u, get(i, &out[i])) << i;
  return out;
}

// Expects the records `got` to be `want`, entry by entry, in the fields `fields` picks as a tuple.
template <class T, class Fields>
void ExpectRecords(const std::vector<T>& want, const std::vector<T>& got, Fields fields) {
  ASSERT_EQ(want.size(), got.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(fields(want[i]), fields(got[i])) << i;
}

// Words with a time advance before each later one, cut into padded blocks; the sequence goes on across calls.
class Stream {
 public:
  explicit Stream(uint32_t layout) : layout_(layout) {
    if (layout == 0) words_.push_back(0x5110A55A);
  }
  Stream& At(uint64_t t, uint32_t word) {
    if (t > last_) words_.push_back(0x57000000u | static_cast<uint32_t>(t - last_));
    last_ = std::max(last_, t);
    return Raw(word);
  }
  Stream& Raw(uint32_t word) {
    words_.push_back(word);
    return *this;
  }
  std::vector<uint8_t> Blocks() {
    const size_t per = StreamPayloadBytes(layout_) / 4;
    std::vector<uint8_t> out;
    for (size_t at = 0; at < words_.size(); at += per) {
      out.resize(out.size() + kStreamBlockBytes);
      BuildStreamBlockFromWords(&words_[at], std::min(per, words_.size() - at), layout_, sequence_,
                                &out[out.size() - kStreamBlockBytes]);
      sequence_ += SequenceStep(layout_);
    }
    words_.clear();
    return out;
  }

 private:
  uint32_t layout_;
  uint32_t sequence_ = 0;
  uint64_t last_ = 0;
  std::vector<uint32_t> words_;
};

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
  // Opens a buffer, sends the words in `layout` and starts the run; the stream to go on with.
  static Stream Run(const std::vector<Timed>& words, CardType type = CardType::Pcie, uint32_t layout = 2) {
    OpenBuffer(type, layout);
    Stream s(layout);
    for (const Timed& w : words) s.At(w.t, w.word);
    SendBytes(s.Blocks());
    Flag(kFlagStart);
    return s;
  }
  // A run whose FIFO drains only as the card's clock is stepped.
  static Stream RunStalled(const std::vector<Timed>& words) {
    cardsim_set_consume(CARDSIM_CONSUME_STALLED);
    return Run(words);
  }
  // The executed words of one opcode (all with 0), with their card times.
  static std::vector<cardsim_trace_entry> Executed(uint32_t opcode = 0) {
    std::vector<cardsim_trace_entry> out;
    for (const cardsim_trace_entry& e : ReadAll<cardsim_trace_entry>(
             cardsim_trace_count(CARDSIM_TRACE_EXECUTED),
             [](uint32_t i, cardsim_trace_entry* e) { return cardsim_trace_get(CARDSIM_TRACE_EXECUTED, i, e); }))
      if (opcode == 0 || e.word >> 24 == opcode) out.push_back(e);
    return out;
  }
  static cardsim_wait WaitAt(uint32_t index) {
    cardsim_wait w{};
    EXPECT_EQ(0u, cardsim_wait_get(index, &w)) << index;
    return w;
  }
  // Outputs as command 34 (0, 0) reads them back.
  static uint32_t Outputs() { return Exchange(34, 0, 0).r1; }
  // End code and sub code of the status reply.
  static std::pair<uint32_t, uint32_t> EndCodes() {
    const uint32_t r1 = Status().second;
    return {(r1 >> 8) & 15, (r1 >> 13) & 7};
  }
};

}  // namespace cardsim_test
