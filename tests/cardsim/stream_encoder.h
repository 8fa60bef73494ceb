#pragma once
// A small host side of the data stream, written from the block layouts alone, so that the card's
// checker and decoder are tested against an encoder of their own: time advances in front of later
// words, blocks in layout 0, 1 or 2 with the stream header, sequence head words or CRC check
// words, and the padding of the last block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cardsim_test {

// CRC-16, polynomial 0x1021, one bit at a time: the feedback bit is the top bit of the register
// XOR the next data bit (most significant bit of each byte first).
inline uint16_t BitwiseCrc16(const uint8_t* data, size_t length, uint16_t init) {
  uint16_t crc = init;
  for (size_t i = 0; i < length; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool feedback = ((crc >> 15) ^ (data[i] >> bit)) & 1;
      crc = static_cast<uint16_t>(crc << 1);
      if (feedback) crc ^= 0x1021;
    }
  }
  return crc;
}

class TestStream {
 public:
  explicit TestStream(uint32_t layout) : layout_(layout) {
    if (layout == 0) words_.push_back(0x5110A55A);
  }

  // A word at time t (µs): a time advance goes first when t is later than the last time.
  TestStream& At(uint64_t t, uint32_t word) {
    if (t > last_) {
      words_.push_back(0x57000000u | static_cast<uint32_t>(t - last_));
      last_ = t;
    }
    words_.push_back(word);
    return *this;
  }
  // A word as it is, without a time advance.
  TestStream& Raw(uint32_t word) {
    words_.push_back(word);
    return *this;
  }

  // Stream words per block.
  uint32_t Payload() const { return layout_ == 0 ? 512 : layout_ == 1 ? 508 : 496; }

  // Cuts every word written so far into blocks (the last one padded) and continues the sequence.
  std::vector<uint8_t> Blocks() {
    std::vector<uint8_t> out;
    const uint32_t per = Payload();
    for (size_t at = 0; at < words_.size(); at += per) {
      std::vector<uint32_t> piece(words_.begin() + static_cast<long>(at),
                                  words_.begin() + static_cast<long>(std::min(words_.size(), at + per)));
      const size_t used = piece.size();
      piece.resize(per);
      // Padding: counting back from the last slot, every 20th is a 1 µs advance, the rest NOPs.
      for (size_t k = 0; k < per - used; ++k) piece[per - 1 - k] = (k % 20 == 0) ? 0x57000001u : 0x50000000u;
      AppendBlock(piece, out);
    }
    words_.clear();
    return out;
  }

  uint32_t sequence = 0;

 private:
  static void Put(std::vector<uint8_t>& out, uint32_t w) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  void AppendBlock(const std::vector<uint32_t>& piece, std::vector<uint8_t>& out) {
    if (layout_ == 0) {
      for (uint32_t w : piece) Put(out, w);
    } else if (layout_ == 1) {
      for (uint32_t i = 0; i < 4; ++i) {
        Put(out, 0x5110A55Au | (((sequence + i) % 16) << 16));
        for (uint32_t j = 0; j < 127; ++j) Put(out, piece[127 * i + j]);
      }
      sequence += 4;
    } else {
      for (uint32_t i = 0; i < 16; ++i) {
        const size_t start = out.size();
        for (uint32_t j = 0; j < 31; ++j) Put(out, piece[31 * i + j]);
        Put(out, 0x5A000000u | BitwiseCrc16(&out[start], 124, static_cast<uint16_t>((sequence + i) & 0xFFFF)));
      }
      sequence += 16;
    }
  }

  uint32_t layout_;
  uint64_t last_ = 0;
  std::vector<uint32_t> words_;
};

}  // namespace cardsim_test
