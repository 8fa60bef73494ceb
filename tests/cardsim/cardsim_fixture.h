#pragma once
// Drives the process-global simulated card through the model's entry points, as the library does.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "card_model.h"
#include "cardsim_api.h"

namespace cardsim_test {

using cardsim::CardModel;
using cardsim::CardType;

struct Reply {
  uint32_t rc = 1;
  uint32_t echo = 0;
  uint32_t r0 = 0;
  uint32_t r1 = 0;
};

inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t Get32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A flash page filled from `seed`.
using Page = std::array<uint8_t, 2048>;
inline Page Pattern(uint8_t seed) {
  Page p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return p;
}

// A whole file as it is on disk; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

// A command frame of `length` bytes: 10 (USB), 12 (PCIe) or 16 (behind the 0x0300000C header);
// other lengths cut the 12-byte frame.
inline std::vector<uint8_t> Frame(uint32_t length, uint32_t word, uint32_t p1, uint32_t p2) {
  std::vector<uint8_t> f(16, 0);
  const uint32_t off = length == 16 ? 4 : 0;
  if (off) Put32(f.data(), 0x0300000C);
  f[off] = static_cast<uint8_t>(word);
  f[off + 1] = static_cast<uint8_t>(word >> 8);
  Put32(&f[off + 2], p1);
  Put32(&f[off + 6], p2);
  f.resize(length);
  return f;
}

class CardsimTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0u, cardsim_reset()); }

  static CardModel& Card() { return CardModel::Global(); }

  // Switches the card type and opens the driver.
  static void Open(CardType type) {
    ASSERT_EQ(0u, cardsim_set_card_type(static_cast<uint32_t>(type)));
    ASSERT_EQ(0u, Card().OpenDriver(0));
  }
  // A card back at its defaults, of `type`, its driver open.
  static void Fresh(CardType type) {
    ASSERT_EQ(0u, cardsim_reset());
    Open(type);
  }
  static cardsim_state State() {
    cardsim_state s{};
    cardsim_get_state(&s);
    return s;
  }
  static cardsim_fifo Fifo() {
    cardsim_fifo f{};
    EXPECT_EQ(0u, cardsim_get_fifo(&f));
    return f;
  }
  static cardsim_flash Flash() {
    cardsim_flash f{};
    cardsim_get_flash(&f);
    return f;
  }
  static uint32_t FrameLength() { return State().card_type == 0 ? 10 : 12; }
  static uint32_t Send(uint32_t word, uint32_t p1, uint32_t p2, uint32_t length = 0) {
    const auto f = Frame(length ? length : FrameLength(), word, p1, p2);
    return Card().CmdSend(f.data(), static_cast<uint32_t>(f.size()));
  }
  static Reply Receive() {
    uint8_t buf[16] = {};
    Reply r;
    r.rc = Card().CmdRecv(buf, FrameLength());
    r.echo = buf[0] | (buf[1] << 8);
    r.r0 = Get32(buf + 2);
    r.r1 = Get32(buf + 6);
    return r;
  }
  // One command exchange; rc 1 when the send or the receive failed.
  static Reply Exchange(uint32_t word, uint32_t p1 = 0, uint32_t p2 = 0) {
    if (Send(word, p1, p2) != 0) return Reply{};
    return Receive();
  }
  static uint32_t LinkWord(uint32_t word) {
    uint8_t b[4];
    Put32(b, word);
    return Card().CmdSend(b, 4);
  }
  static uint32_t LinkState() {
    uint8_t out[4] = {};
    Card().DeviceIoControl(0x222004, nullptr, 0, out, 4, nullptr);
    return Get32(out);
  }
  static cardsim_frame LastFrame() {
    cardsim_frame f{};
    EXPECT_EQ(0u, cardsim_log_get(cardsim_log_count() - 1, &f));
    return f;
  }
  static std::pair<uint32_t, uint32_t> Status() {
    const Reply r = Exchange(85);
    EXPECT_EQ(0u, r.rc);
    return {r.r0, r.r1};
  }
};

}  // namespace cardsim_test
