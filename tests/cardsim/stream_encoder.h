#pragma once
// The CRC-16 of a layout-2 sub-block bit by bit (polynomial 0x1021, top bit first, no reflection, no final
// XOR): a reference for the library's block tests, written apart from the library's and the card's CRC.
#include <cstddef>
#include <cstdint>

namespace cardsim_test {

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

}  // namespace cardsim_test
