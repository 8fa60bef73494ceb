#pragma once
// The card's parameters: the page of command packets the card loads when the host commits its
// card-parameter area (command 83, operation 4, 0x20000004; or a commit of every area). Only a
// valid page gives the card a list; what the card does with it is the card model's.
//
// The card keeps the page at its card-parameter address: on a serial-flash card (version 56 and
// up) at byte 0x120000 of the serial flash, otherwise at NAND page 0x1C200, or at the same place
// of the next good block when the bad-block table (serial flash 0x100000: a bitmap at bytes
// 1792-2047, least significant bit first, 0xA5 in byte 2047) marks the block bad. A page is valid
// when its byte 2047 is 0xA5; it holds packets of 16 bytes from byte 0 (six 0xA5 bytes, u16
// command, u32 p1, u32 p2, little-endian) up to the first 16 bytes that do not begin with the six
// 0xA5 bytes.
#include <cstdint>
#include <vector>

#include "cardsim_api.h"
#include "flash_model.h"

namespace cardsim {

constexpr uint32_t kParaSpiAddress = 0x120000;
constexpr uint32_t kParaNandPage = 0x1C200;
constexpr uint32_t kBbtSpiAddress = 0x100000;
// Command 20 of the list: p2 bits 0-7 are the FIFO fill, in units of 64 KiB, at which a run starts
// by itself.
constexpr uint32_t kCmdRunStart = 20;
constexpr uint32_t kRunStartUnitBytes = 0x10000;

// The packets of the card's parameter page; false when the page is not valid (out is then empty).
bool ReadParaPage(const FlashModel& flash, uint32_t cardVersion, std::vector<cardsim_para_packet>& out);

}  // namespace cardsim
