#pragma once
// CRC-16 of a 124-byte stream sub-block (block layout 2) and of the offline file head.
//
// crc := init; for each byte in memory order (reflected first when refin): crc ^= byte << 8, then
// eight shifts left, XORing the polynomial whenever the top bit falls out; finally the 16 bits are
// reflected when refout and XORed with xorout. Table-driven: the tables of the polynomial in use
// (0x1021) are built at compile time, those of any other polynomial once, on its first use; eight
// bytes are taken per step (slicing).
#include <cstddef>
#include <cstdint>

constexpr size_t kCrc16Bytes = 124;
constexpr uint16_t kStreamCrcPoly = 0x1021;

uint16_t CalcCrc16(const uint8_t* data, uint16_t poly, uint16_t init, uint16_t xorout, uint32_t refin,
                   uint32_t refout);
