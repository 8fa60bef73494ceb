#include "mark/crc16.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace {

using CrcTable = std::array<uint16_t, 256>;

constexpr CrcTable MakeTable(uint16_t poly) {
  CrcTable t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly) : static_cast<uint16_t>(crc << 1);
    t[i] = crc;
  }
  return t;
}

constexpr CrcTable kTable1021 = MakeTable(kStreamCrcPoly);

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

uint16_t Reflect16(uint16_t v) {
  return static_cast<uint16_t>(kReflect8[v & 0xFF] << 8 | kReflect8[v >> 8]);
}

// Tables of other polynomials, each built once and kept for the life of the process.
const CrcTable& TableOf(uint16_t poly) {
  if (poly == kStreamCrcPoly) return kTable1021;
  static std::mutex lock;
  static std::map<uint16_t, std::unique_ptr<CrcTable>> tables;
  std::lock_guard<std::mutex> guard(lock);
  auto& slot = tables[poly];
  if (!slot) slot = std::make_unique<CrcTable>(MakeTable(poly));
  return *slot;
}

}  // namespace

uint16_t CalcCrc16(const uint8_t* data, uint16_t poly, uint16_t init, uint16_t xorout, uint32_t refin,
                   uint32_t refout) {
  const CrcTable& t = TableOf(poly);
  uint16_t crc = init;
  if (refin) {
    for (size_t i = 0; i < kCrc16Bytes; ++i)
      crc = static_cast<uint16_t>(crc << 8 ^ t[(crc >> 8 ^ kReflect8[data[i]]) & 0xFF]);
  } else {
    for (size_t i = 0; i < kCrc16Bytes; ++i) crc = static_cast<uint16_t>(crc << 8 ^ t[(crc >> 8 ^ data[i]) & 0xFF]);
  }
  if (refout) crc = Reflect16(crc);
  return static_cast<uint16_t>(crc ^ xorout);
}
