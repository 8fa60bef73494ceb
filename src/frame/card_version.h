#pragma once
// Card version settings: what the card version fixes, and the tables it selects.
//
// SystemPara::CheckCardVersionCfg (declared in system_para.h) derives four keys of [Main] from the
// card version at every card opening, records them in "QZMarkPara.cfg" the first time
// (bConfiguration 0) and afterwards refuses a card whose version no longer fits what was recorded.
// It then sets the flash area map and the extended command numbers below; the card opening switches
// the command-frame sequence numbers on to match.
//
// A reopen rewrites the map and the table in place while other host threads (the immediate and axis
// exports) and a job's end read them: their entries are Shared (frame/shared_value.h).
#include <cstdint>

#include "frame/shared_value.h"

// The four keys a card version fixes.
struct CardVersionKeys {
  int32_t bJustM25p64;        // v >= 56: serial-flash layout
  int32_t bCmdWithNum;        // v >= 64: extended commands carry plain numbers
  int32_t bNewBoxCali;        // v >= 80: 21-bit galvanometer codes
  int32_t nBufDataCheckType;  // 2 from v 96, 1 from v 80, else 0: stream block check layout
};
CardVersionKeys DeriveCardVersionKeys(uint32_t cardVersion);

// Where the card keeps its areas in flash: byte addresses on the serial-flash layout
// (bJustM25p64 1), page numbers on the NAND layout.
struct FlashAreaMap {
  Shared<uint32_t> nBadBlockTablePage;  // a serial-flash address on both layouts
  Shared<uint32_t> nUserPage;
  Shared<uint32_t> nOffFileHeadPage;
  Shared<uint32_t> nCardParaPage;
  Shared<uint32_t> nSecondBlockBase;
  Shared<uint32_t> nBlockSize;  // unit of the second block: it begins at base + unit
  Shared<uint32_t> nBoxTableA;  // correction table 0
  Shared<uint32_t> nBoxTableB;  // correction table 1
  bool operator==(const FlashAreaMap&) const = default;
};
FlashAreaMap FlashAreaMapFor(bool bJustM25p64);
// The map of the open card; zero until a card has been opened.
extern FlashAreaMap g_FlashAreaMap;

// Extended card commands: each entry holds the number as sent, the plain number n when the card
// takes plain numbers, else the legacy form ((n - 256) << 8) | 0x55.
constexpr int kCmdNumCount = 22;
extern const uint32_t kExtCmdNumbers[kCmdNumCount];  // 288..295, 297, 299..309, 329, 330
// Extended numbers that are always sent plain.
constexpr uint32_t kCmdOssVersion = 334;
constexpr uint32_t kCmdLaserBusWrite = 336;
constexpr uint32_t kCmdLaserBusRead = 337;

constexpr uint32_t LegacyCmdNum(uint32_t n) { return ((n - 256u) << 8) | 0x55u; }

struct CmdNumTable {
  Shared<uint32_t> num[kCmdNumCount];
  void Fill(bool bCmdWithNum);
  // The number to send for plain number n; n itself when n is not an extended number of the table.
  uint32_t Of(uint32_t n) const;
};
// The table of the open card; zero until a card has been opened.
extern CmdNumTable g_CmdNumTable;
