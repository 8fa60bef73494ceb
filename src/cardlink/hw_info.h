#pragma once
#include <cstdint>

// The library's own version, as QZ_GetSwVer reports it and card opening logs it.
constexpr uint32_t kLibraryVersion = 0x3454;

// The card's hardware version word (command 81, r0); MyException 1 when the card is lost.
uint32_t ReadHdVer();
// The card version the library works with: ((v >> 3) & 0xE0) + (v & 0x1F).
inline uint32_t CardVersionOf(uint32_t hwWord) { return ((hwWord >> 3) & 0xE0u) + (hwWord & 0x1Fu); }
