#pragma once
// The library's only road to the card: the command channel (one frame out, one reply back per
// exchange) and the bulk channel (2048-byte stream blocks) over the driver-link library, the link
// status word with its toggle check, the secondary-card handshake on PCIe cards and the draining of
// stale data when a card is opened. Every failed exchange is the loss of the card: the connected
// flag is cleared, "Card is not connected" goes to both logs and code 1 is thrown without a box.
// While the card is lost or closed every locked call throws code 1 at once.
//
// No wait is unbounded: the waits for the ready bits give up after kLinkWaitMs and count as a failed
// exchange. When the driver-link library did not load, every operation fails the same way and
// nothing calls into it.
#include <atomic>
#include <cstdint>

#include "cardlink/card_wire.h"
#include "cardlink/portlane_api.h"
#include "frame/bytes.h"
#include "platform/system_mutex.h"

// One reply of the command channel: the echoed command word and two result words.
struct CmdReply {
  uint8_t bytes[16] = {};
  uint16_t Echo() const { return GetU16(bytes); }
  uint32_t r0() const { return GetU32(bytes + 2); }
  uint32_t r1() const { return GetU32(bytes + 6); }
};

// Link globals (one set for the process).
extern std::atomic<uint8_t> g_bConnected;    // a card is open and the link is good
extern uint32_t g_LinkState;                 // the last link status word read
extern uint32_t g_nLinkToggle;               // toggle nibble of the previous read (0 after open)
extern uint32_t nLinkLevel, bLinked, bSecondLink, nLinkError;  // decoded secondary-link fields
extern std::atomic<uint32_t> g_nCmdIssued;   // exchanges begun (read by the watchdog)
extern std::atomic<uint32_t> g_nCmdDone;     // exchanges ended
extern uint8_t g_nCmdSeq;                    // sequence counter of command words
extern uint8_t g_nCmdOk;                     // exchanges whose echo matched (wraps)
extern uint8_t g_bCmdSeqOn;                  // command words carry the sequence nibble
extern plat::SystemMutex g_hCardMutex;       // the per-card system-wide mutex, closed by Close

constexpr uint32_t kLinkWaitMs = 3000;

class CPortlane {
 public:
  // Load-time step: reads [Main] CardType through a reader of its own, loads the driver-link library
  // of that card type and resolves its nine entry points; shows a box when that fails.
  static void LoadDll();
  static void FreeDll();

  // Opens card `index`: drains stale data, links a secondary card, switches the link open. 0 or 1.
  static uint32_t Open(uint32_t index);
  static uint32_t Close();

  // One exchange without lock and without throwing: 0 success, 1 failure.
  static uint32_t SendCtrlCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply);
  // The locked exchange of every other subsystem: true, or MyException code 1.
  static bool SendCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply);
  // A control request on the driver link under the command lock: true, or code 1.
  static bool SendComCmd(uint32_t request, uint32_t unused1, uint32_t unused2, void* buffer, uint32_t length);
  // One 2048-byte stream block under the buffer lock (USB) or the command lock (PCIe): true, or code 1.
  static bool BufSend(const uint8_t* block, uint32_t unused = 0);

  // Internal steps, public for the card-opening code and the tests.
  static uint32_t BufSendRaw(const uint8_t* block);
  static uint32_t getState();
  static uint32_t WaitState(uint32_t mask);
  static void printLinkFailWhy();
  static uint32_t LinkSlave();
  static uint32_t ClearUSB();
  static bool ReturnV(uint32_t result);
  // Sends one link word; 0 or 1.
  static uint32_t SendLinkWord(uint32_t word);
};
