#include "mark/crc16.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Eight tables of a polynomial, eight bytes per step (slicing): t[k][x] is the CRC (from 0) of the
// byte x followed by k zero bytes, so that a step over b0..b7 is
// t[7][crc >> 8 ^ b0] ^ t[6][(crc & 0xFF) ^ b1] ^ t[5][b2] ^ ... ^ t[0][b7].
constexpr int kSlices = 8;
struct CrcTables {
  std::array<std::array<uint16_t, 256>, kSlices> t{};
};

constexpr CrcTables MakeTables(uint16_t poly) {
  CrcTables c{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly) : static_cast<uint16_t>(crc << 1);
    c.t[0][i] = crc;
  }
  for (int k = 1; k < kSlices; ++k)
    for (uint32_t i = 0; i < 256; ++i) {
      const uint16_t prev = c.t[k - 1][i];
      c.t[k][i] = static_cast<uint16_t>(prev << 8 ^ c.t[0][prev >> 8]);
    }
  return c;
}

constexpr CrcTables kTables1021 = MakeTables(kStreamCrcPoly);

constexpr std::array<uint8_t, 256> MakeReflect8() {
  std::array<uint8_t, 256> r{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint8_t v = 0;
    for (int b = 0; b < 8; ++b)
      if (i & (1u << b)) v = static_cast<uint8_t>(v | (0x80 >> b));
    r[i] = v;
  }
  return r;
}
constexpr std::array<uint8_t, 256> kReflect8 = MakeReflect8();

uint16_t Reflect16(uint16_t v) { return static_cast<uint16_t>(kReflect8[v & 0xFF] << 8 | kReflect8[v >> 8]); }

// Tables of other polynomials, each built once and kept for the life of the process.
const CrcTables& TablesOf(uint16_t poly) {
  if (poly == kStreamCrcPoly) return kTables1021;
  static std::mutex lock;
  static std::map<uint16_t, std::unique_ptr<CrcTables>> tables;
  std::lock_guard<std::mutex> guard(lock);
  auto& slot = tables[poly];
  if (!slot) slot = std::make_unique<CrcTables>(MakeTables(poly));
  return *slot;
}

template <bool kReflectIn>
uint16_t Run(const CrcTables& c, const uint8_t* data, uint16_t crc) {
  auto in = [](uint8_t b) { return kReflectIn ? kReflect8[b] : b; };
  const auto& t = c.t;
  size_t i = 0;
  for (; i + 8 <= kCrc16Bytes; i += 8) {
    crc = static_cast<uint16_t>(t[7][(crc >> 8) ^ in(data[i])] ^ t[6][(crc & 0xFF) ^ in(data[i + 1])] ^
                                t[5][in(data[i + 2])] ^ t[4][in(data[i + 3])] ^ t[3][in(data[i + 4])] ^
                                t[2][in(data[i + 5])] ^ t[1][in(data[i + 6])] ^ t[0][in(data[i + 7])]);
  }
  static_assert(kCrc16Bytes % 4 == 0, "whole steps of four bytes after the eights");
  for (; i < kCrc16Bytes; i += 4) {
    crc = static_cast<uint16_t>(t[3][(crc >> 8) ^ in(data[i])] ^ t[2][(crc & 0xFF) ^ in(data[i + 1])] ^
                                t[1][in(data[i + 2])] ^ t[0][in(data[i + 3])]);
  }
  return crc;
}

}  // namespace

uint16_t CalcCrc16(const uint8_t* data, uint16_t poly, uint16_t init, uint16_t xorout, uint32_t refin,
                   uint32_t refout) {
  const CrcTables& c = TablesOf(poly);
  uint16_t crc = refin ? Run<true>(c, data, init) : Run<false>(c, data, init);
  if (refout) crc = Reflect16(crc);
  return static_cast<uint16_t>(crc ^ xorout);
}
