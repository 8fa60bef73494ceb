// The table-driven CRC-16 against the bitwise definition over many inputs, initial values and polynomials.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

#include "mark/crc16.h"

namespace {

uint16_t Reflect(uint32_t v, int bits) {
  uint32_t r = 0;
  for (int i = 0; i < bits; ++i)
    if (v & (1u << i)) r |= 1u << (bits - 1 - i);
  return static_cast<uint16_t>(r);
}

// The definition, bit by bit.
uint16_t BitwiseCrc16(const uint8_t* data, uint16_t poly, uint16_t init, uint16_t xorout, bool refin,
                      bool refout) {
  uint16_t crc = init;
  for (size_t i = 0; i < kCrc16Bytes; ++i) {
    const uint8_t byte = refin ? static_cast<uint8_t>(Reflect(data[i], 8)) : data[i];
    crc = static_cast<uint16_t>(crc ^ (byte << 8));
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly) : static_cast<uint16_t>(crc << 1);
  }
  if (refout) crc = Reflect(crc, 16);
  return static_cast<uint16_t>(crc ^ xorout);
}

using Block = std::array<uint8_t, kCrc16Bytes + 4>;  // 4 bytes beyond the sub-block

Block Random(std::mt19937& rng) {
  Block b;
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Random blocks, initial values and final XORs for several polynomials, each with and without reflection.
TEST(Crc16, EveryVariantMatchesTheDefinition) {
  std::mt19937 rng(7);
  for (uint16_t poly : {0x1021, 0x8005, 0x3D65, 0x0001, 0xFFFF})
    for (int refin = 0; refin < 2; ++refin)
      for (int refout = 0; refout < 2; ++refout)
        for (int n = 0; n < 20; ++n) {
          Block data = Random(rng);
          const auto init = static_cast<uint16_t>(rng());
          const auto xorout = static_cast<uint16_t>(n % 2 ? 0xFFFF : rng());
          const uint16_t crc = CalcCrc16(data.data(), poly, init, xorout, static_cast<uint32_t>(refin),
                                         static_cast<uint32_t>(refout));
          ASSERT_EQ(crc, BitwiseCrc16(data.data(), poly, init, xorout, refin != 0, refout != 0))
              << std::hex << poly << " refin " << refin << " refout " << refout << " init " << init;
          data[kCrc16Bytes] ^= 0xA5;  // beyond the sub-block: no influence
          ASSERT_EQ(CalcCrc16(data.data(), poly, init, xorout, static_cast<uint32_t>(refin),
                              static_cast<uint32_t>(refout)),
                    crc);
        }
}

}  // namespace
