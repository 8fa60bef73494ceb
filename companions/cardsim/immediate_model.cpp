#include "immediate_model.h"

#include "cardlink/card_wire.h"

namespace cardsim {

namespace {
constexpr uint32_t kStrobe = 0x100;
constexpr char kGarbage[] = "?!#";
}  // namespace

void UartModel::Reset() { *this = UartModel{}; }

void UartModel::Take(uint8_t b) {
  received.push_back(static_cast<char>(b));
  if (b == '\n') return;
  if (b != '\r') {
    line_.push_back(static_cast<char>(b));
    return;
  }
  const std::string request = line_;
  line_.clear();
  if (behaviour == UART_SILENT || behaviour == UART_CHATTER) return;
  if (behaviour == UART_GARBAGE) {
    for (const char* c = kGarbage; *c; ++c) out_.push_back(static_cast<uint8_t>(*c));
    return;
  }
  const auto it = script.find(request);
  if (it == script.end()) return;
  for (char c : it->second.text) out_.push_back(static_cast<uint8_t>(c));
  due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(it->second.delayMs);
}

void UartModel::Write(uint32_t p2, bool handshake) {
  const uint8_t b = static_cast<uint8_t>(p2 & 0xFF);
  if (behaviour == UART_NEVER_CLEARS) busy_ = true;
  if (!handshake) {
    Take(b);
    return;
  }
  const bool strobe = (p2 & kStrobe) != 0;
  if (strobe && !strobe_) {
    if (behaviour != UART_NEVER_LATCHES) {
      Take(b);
      busy_ = true;
    }
  } else if (!strobe && strobe_ && behaviour != UART_NEVER_CLEARS) {
    busy_ = false;
  }
  strobe_ = strobe;
}

bool UartModel::NextByte(uint8_t& b) {
  if (behaviour == UART_CHATTER) {
    b = static_cast<uint8_t>('a' + chatter_++ % 26);
    return true;
  }
  if (out_.empty() || std::chrono::steady_clock::now() < due_) return false;
  b = out_.front();
  out_.pop_front();
  return true;
}

void UartModel::Command(uint32_t command, uint32_t p2, bool handshake, uint32_t& r0, uint32_t& r1) {
  switch (command) {
    case CMD_UART_SEND:
      Write(p2, handshake);
      break;
    case CMD_UART_TX_BUSY:
      r1 = busy_ ? 1 : 0;
      break;
    case CMD_UART_RECV: {
      uint8_t b = 0;
      if (handshake && p2 == 0) break;  // the request ended: the receiver is idle
      const bool valid = NextByte(b);
      r0 = b;
      r1 = (handshake ? 2u : 0u) | (valid ? 1u : 0u);
      break;
    }
    default:
      break;
  }
}

void UartModel::StreamWord(uint32_t word, bool handshake) { Write(word & 0x1FF, handshake); }

void GalvoCmdModel::Move(uint32_t p1, uint32_t p2, bool form21) {
  if (form21) {
    x = (p2 & 0x1FFFFF) >> 5;
    y = (((p2 >> 22) | ((p1 & 0x7FF) << 10)) & 0x1FFFFF) >> 5;
  } else {
    x = p2 & 0xFFFF;
    y = p2 >> 16;
  }
  moves += 1;
  left = movingPolls;
}

void GalvoCmdModel::Pos(uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  if (p1 == 1) {
    rawSwitch = p2;
    rawSwitches += 1;
    return;
  }
  if (p1 == 2) {
    r1 = (y << 16) | x;
    return;
  }
  const uint32_t fx = static_cast<uint32_t>(static_cast<int32_t>(x) + offsetX) & 0xFFFF;
  const uint32_t fy = static_cast<uint32_t>(static_cast<int32_t>(y) + offsetY) & 0xFFFF;
  r1 = (fy << 16) | fx;
  if (movingForEver) {
    r0 = 1;
  } else if (left > 0) {
    left -= 1;
    r0 = 1;
  }
}

}  // namespace cardsim
