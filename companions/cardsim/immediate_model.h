#pragma once
// The card's side of the immediate commands that have a model of their own: the laser on the UART
// (commands 114-116 and the stream's UART words), the galvanometer moves and position reads
// (commands 4 and 6), the route words (117) and a stalled exchange.
//
// UART, two forms (handshake on cards of version 80 and later, as the library chooses):
//   plain      114 (0, b): the transmitter takes b; 115: r1 busy; 116 (0, 0): the next byte the
//              laser sent (r0 low byte, r1 1) or nothing (r1 0).
//   handshake  114 with the strobe bit 0x100 set latches b (the transmitter turns busy), the next
//              114 without it releases the strobe (idle again); 116 (0, 1) answers r1 2 | valid
//              with the next byte, 116 (0, 0) ends the request (r1 0).
// The stream's UART words (0x71000000 | b, 0x71000100 | b) drive the same transmitter.
// The laser collects what it receives into lines (ended by CR; LF is dropped) and answers a line
// that its script knows, after the script's delay. Behaviours: silent, garbage (answers "?!#"
// without a line end), chatter (a byte is always waiting), a transmitter that never latches (busy
// never set) or never clears (busy set for ever).
//
// Galvanometers: command 4 moves to (p1, p2) in the card's form (16-bit below version 80: X low
// and Y high half of p2; else 21-bit: X p2 bits 0-20, Y p2 >> 22 | (p1 & 0x7FF) << 10), kept as
// 16-bit codes (a 21-bit code by its top 16 bits). Command 6 (2, 0) answers the position (r1 Y << 16
// | X), (0, 0) the feedback position (plus the feedback offset) with r0 bit 0 set while moving
// (for n polls after a move, or for ever); (1, v) the raw-code switch, recorded.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace cardsim {

enum UartBehaviour : uint32_t {
  UART_SCRIPTED = 0,
  UART_SILENT = 1,
  UART_GARBAGE = 2,
  UART_CHATTER = 3,
  UART_NEVER_LATCHES = 4,
  UART_NEVER_CLEARS = 5,
};

class UartModel {
 public:
  struct Reply {
    std::string text;
    uint32_t delayMs = 0;
  };
  void Reset();
  // Commands 114-116; `handshake` the card's form.
  void Command(uint32_t command, uint32_t p2, bool handshake, uint32_t& r0, uint32_t& r1);
  // A UART word of the stream.
  void StreamWord(uint32_t word, bool handshake);

  std::map<std::string, Reply> script;
  uint32_t behaviour = UART_SCRIPTED;
  std::string received;  // every byte the laser took

 private:
  void Take(uint8_t b);
  void Write(uint32_t p2, bool handshake);
  bool NextByte(uint8_t& b);

  std::string line_;
  std::deque<uint8_t> out_;
  std::chrono::steady_clock::time_point due_{};
  bool busy_ = false;
  bool strobe_ = false;
  uint32_t chatter_ = 0;
};

struct GalvoCmdModel {
  uint32_t x = 0x8000, y = 0x8000;  // 16-bit codes
  int32_t offsetX = 0, offsetY = 0;  // feedback minus set position
  uint32_t movingPolls = 0;          // polls that see the move running after each move
  bool movingForEver = false;
  uint32_t left = 0;                 // polls left of the current move
  uint32_t rawSwitch = 0, rawSwitches = 0;
  uint32_t moves = 0;
  void Reset() { *this = GalvoCmdModel{}; }
  void Move(uint32_t p1, uint32_t p2, bool form21);
  void Pos(uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1);
};

}  // namespace cardsim

namespace cardsim {

// What the card model keeps for the immediate commands.
struct ImmediateState {
  UartModel uart;
  GalvoCmdModel galvo;
  uint32_t routes[2] = {0, 0};  // the route words of command 117
  uint32_t stallAt = 0;         // the n-th reply from now is held ...
  uint32_t stallMs = 0;         // ... for this long, outside the model's lock
  uint32_t galvoSeen = 0;       // executor position words already taken into the position
};

}  // namespace cardsim
