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
#include <functional>

#include "cardlink/card_locks.h"
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

// The driver link's state: one for the process. g_csCardCmd guards every field that is not atomic;
// the connected flag and the exchange counters are read without it (the watchdog, every export's
// first check).
struct LinkState {
  std::atomic<uint8_t> g_bConnected{0};         // a card is open and the link is good
  std::atomic<uint32_t> g_nCmdIssued{0};        // exchanges begun (read by the watchdog)
  std::atomic<uint32_t> g_nCmdDone{0};          // exchanges ended
  // Counts every open and every close of the link since the library was loaded (never reset): what
  // the library read from a card (its bad-block table) is not used once the count moved on.
  std::atomic<uint32_t> nLinkSerial{0};
  uint32_t g_LinkState GUARDED_BY(g_csCardCmd) = 0;    // the last link status word read
  uint32_t g_nLinkToggle GUARDED_BY(g_csCardCmd) = 0;  // toggle nibble of the previous read (0 after open)
  // Decoded secondary-link fields of the last status word.
  uint32_t nLinkLevel GUARDED_BY(g_csCardCmd) = 0;
  uint32_t bLinked GUARDED_BY(g_csCardCmd) = 0;
  uint32_t bSecondLink GUARDED_BY(g_csCardCmd) = 0;
  uint32_t nLinkError GUARDED_BY(g_csCardCmd) = 0;
  uint8_t g_nCmdSeq GUARDED_BY(g_csCardCmd) = 0;    // sequence counter of command words
  uint8_t g_nCmdOk GUARDED_BY(g_csCardCmd) = 0;     // exchanges whose echo matched (wraps)
  uint8_t g_bCmdSeqOn GUARDED_BY(g_csCardCmd) = 0;  // command words carry the sequence nibble
  plat::SystemMutex g_hCardMutex GUARDED_BY(g_csCardCmd);  // the per-card system-wide mutex

  // Back to the state at load (the mutex let go).
  void Reset();
};
extern LinkState g_Link;

constexpr uint32_t kLinkWaitMs = 3000;

class CPortlane {
 public:
  // Load-time step: reads [Main] CardType through a reader of its own, loads the driver-link library
  // of that card type and resolves its nine entry points; shows a box when that fails.
  static void LoadDll();
  static void FreeDll();

  // Opens card `index`: drains stale data, links a secondary card, switches the link open. 0 or 1.
  // The caller holds both card locks.
  static uint32_t Open(uint32_t index) REQUIRES(g_csCardCmd, g_csCardBuf);
  // Closes the link and lets the card's system-wide mutex go; the connected flag is cleared. 0.
  static uint32_t Close() EXCLUDES(g_csCardCmd, g_csCardBuf);
  static void CloseLocked() REQUIRES(g_csCardCmd, g_csCardBuf);

  // One exchange without throwing: 0 success, 1 failure.
  static uint32_t SendCtrlCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) REQUIRES(g_csCardCmd);
  // The locked exchange of every other subsystem: true, or MyException code 1.
  static bool SendCmd(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) EXCLUDES(g_csCardCmd);
  // The same for a caller that holds the command lock already (several exchanges that belong
  // together, or reads of what an open writes under that lock).
  static bool SendCmdLocked(uint16_t cmd, uint32_t p1, uint32_t p2, CmdReply& reply) REQUIRES(g_csCardCmd);
  // A control request on the driver link under the command lock: true, or code 1.
  static bool SendComCmd(uint32_t request, uint32_t unused1, uint32_t unused2, void* buffer, uint32_t length)
      EXCLUDES(g_csCardCmd);
  // One 2048-byte stream block under the buffer lock (USB) or the command lock (PCIe): true, or code 1.
  static bool BufSend(const uint8_t* block, uint32_t unused = 0) EXCLUDES(g_csCardCmd, g_csCardBuf);

  // Under the command lock: a flash bulk-read request (command 83, operation 2, `word`) that the card
  // answers on the bulk channel, then length / 512 units of 512 bytes into `buffer` (each after the
  // bulk-pending bit when the card type waits for it). True, or code 1 (the card counts as lost).
  static bool ReadBlocks(uint32_t word, uint8_t* buffer, uint32_t length) EXCLUDES(g_csCardCmd);
  // The same exchange for any request the card answers on the bulk channel: the frame (cmd, p1,
  // p2) without a reply, then `units` units of 512 bytes, each handed to `sink` as it arrives (a
  // sink that returns false ends the read early). True, or code 1 (the card counts as lost).
  static bool ReadBulk(uint16_t cmd, uint32_t p1, uint32_t p2, uint32_t units,
                       const std::function<bool(const uint8_t*)>& sink) EXCLUDES(g_csCardCmd);

  // Internal steps, public for the card-opening code and the tests.
  // A block in chunks, each after the bulk-ready bit when the card type waits for it (PCIe).
  static uint32_t BufSendRaw(const uint8_t* block) REQUIRES(g_csCardCmd);
  static uint32_t getState() REQUIRES(g_csCardCmd);
  static uint32_t WaitState(uint32_t mask) REQUIRES(g_csCardCmd);
  static void printLinkFailWhy() REQUIRES(g_csCardCmd);
  static uint32_t LinkSlave() REQUIRES(g_csCardCmd);
  static uint32_t ClearUSB() REQUIRES(g_csCardCmd);
  static bool ReturnV(uint32_t result);
  // Sends one link word; 0 or 1.
  static uint32_t SendLinkWord(uint32_t word);
};
