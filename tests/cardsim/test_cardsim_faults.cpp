// The card across a loss, a close and a reopen, its latency, the frame log and the configuration file.
// (Concurrent use: e2e ThreeThreads.JobsReadersAndReopenForAFewSeconds under tsan.)
#include <fstream>
#include <functional>
#include <chrono>
#include <tuple>
#include <vector>

#include "support/trace.h"
#include "cardsim_fixture.h"
#include "platform/module.h"
#include "support/temp_dir.h"

namespace cardsim_test {
namespace {

using CardsimFaults = CardsimTest;
using CardsimLifecycle = CardsimTest;

// Every driver call a lost or closed card refuses.
void ExpectEveryCallFails() {
  auto& c = CardModel::Global();
  uint8_t b[512] = {};
  uint32_t returned = 0;
  EXPECT_NE(0u, c.CmdSend(Frame(12, 85, 0, 0).data(), 12));
  EXPECT_NE(0u, c.CmdRecv(b, 12));
  EXPECT_NE(0u, c.BufSend(b, 512));
  EXPECT_NE(0u, c.BufRecv(b, 512));
  EXPECT_NE(0u, c.DeviceIoControl(0x222004, nullptr, 0, b, 4, &returned));
  EXPECT_NE(0u, c.SendComCmd(0, 0xA2, 0, 0, b, 1));
}

TEST_F(CardsimFaults, LostOrClosedCardRefusesEveryCallAndKeepsItsStateForTheReopen) {
  for (bool chunk : {false, true}) {
    QZ_TRACE(chunk ? "lost at a chunk" : "lost at a send");
    Fresh(CardType::Pcie);
    ASSERT_EQ(0u, Exchange(82, 5, 0x8000).rc);
    cardsim_inject_stale_bulk(512);
    std::vector<uint8_t> block(512, 0x11);
    if (chunk) {
      cardsim_fault_lose_at_chunk(2);
      EXPECT_EQ(0u, Card().BufSend(block.data(), 512));
      EXPECT_NE(0u, Card().BufSend(block.data(), 512));
      EXPECT_EQ(512u, State().bulk_bytes);  // the failing chunk was not taken
    } else {
      cardsim_fault_lose_at(2);
      EXPECT_EQ(0u, Exchange(85).rc);
      EXPECT_NE(0u, Send(85, 0, 0));
    }
    EXPECT_EQ(1u, State().lost);
    ExpectEveryCallFails();
    ASSERT_EQ(0u, Card().CloseDriver());
    ExpectEveryCallFails();
    ASSERT_EQ(0u, Card().OpenDriver(0));
    const cardsim_state s = State();
    EXPECT_EQ(std::tuple(0u, 5u, 2u, 1u), std::tuple(s.lost, s.task_id, s.open_count, s.close_count));
    EXPECT_EQ(5u << 21, Status().second & (31u << 21));
  }
}

TEST_F(CardsimLifecycle, LatencyDelaysTheReplyAndTheFrameLogKeepsTheNewestEntries) {
  Open(CardType::Usb);
  cardsim_set_latency_us(3000);
  // A command reply, a bulk chunk sent and one read back each take the latency.
  uint8_t chunk[512] = {};
  cardsim_inject_stale_bulk(512);
  ASSERT_EQ(0u, Send(85, 0, 0));
  const std::function<uint32_t()> exchanges[] = {[] { return Receive().rc; },
                                                 [&] { return Card().BufSend(chunk, 512); },
                                                 [&] { return Card().BufRecv(chunk, 512); }};
  for (const auto& exchange : exchanges) {
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, exchange());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(3000));
  }
  cardsim_log_clear();
  const uint32_t total = CardModel::kLogCapacity + 5;
  for (uint32_t i = 0; i < total; ++i) ASSERT_EQ(0u, Send(((i & 15) << 12) | 33, i, 0));
  EXPECT_EQ(total, cardsim_log_count());
  cardsim_frame f{};
  EXPECT_NE(0u, cardsim_log_get(4, &f));
  ASSERT_EQ(0u, cardsim_log_get(5, &f));
  EXPECT_EQ(std::tuple(5u, 5u), std::tuple(f.p1, f.seq));
  EXPECT_EQ(total - 1, LastFrame().p1);
  EXPECT_GE(LastFrame().time_us, f.time_us);
  EXPECT_NE(0u, cardsim_log_get(total, &f));
  cardsim_log_clear();
  EXPECT_EQ(0u, cardsim_log_count());
}

TEST_F(CardsimLifecycle, ConfigurationFile) {
  qztest::TempDir dir;
  const std::string path = dir.File("card.cfg");
  std::ofstream(path) << "# a host's card\n[card]\ncard_type = pcie\nCard_Version = 0x60 ; numbered\n"
                         "inputs=0x81\nusb_firmware = 0x30, 1\nunique_id = 01 02 03 04 05 06 07\n"
                         "secondary = 1\nalarms = 0x400\nconsume = 2\nstart_bytes = 4096\npresent = 2\n";
  ASSERT_EQ(0u, cardsim_load_config(path.c_str()));
  Open(CardType::Pcie);
  const cardsim_state s = State();
  EXPECT_EQ(std::tuple(1u, 0x81u, 0x400u), std::tuple(s.card_type, s.inputs, s.alarm_bits));
  EXPECT_EQ(0x300u, Exchange(81).r0 & 0x71F);
  EXPECT_EQ(0x04030201u, Exchange(90).r1);
  uint8_t answer = 0;
  ASSERT_EQ(0u, Card().SendComCmd(0, 0xA2, 0, 0, &answer, 1));
  EXPECT_EQ(1u, answer);
  const cardsim_fifo f = Fifo();
  EXPECT_EQ(std::tuple(uint32_t{CARDSIM_CONSUME_STALLED}, 4096u), std::tuple(f.consume_mode, f.start_threshold));
  uint32_t cards = 0;
  Card().GetCardsNo(&cards, nullptr, 88);
  EXPECT_EQ(2u, cards);

  // Every line the card takes is applied, also after one it does not take; the answer is the first
  // line not taken. Through CARDSIM_CONFIG (applied at a reset) each line not taken, and a file that
  // cannot be read, is said on standard error.
  struct Bad {
    const char* text;
    uint32_t rc, inputs;
    std::vector<std::string> said;
  } bad[] = {
      {"inputs = 3\n\ncard_versoin = 79\nlaser_type = 8\ninputs = 4\n", 3, 4,
       {"3: unknown key \"card_versoin\"", "4: value \"8\" of laser_type not understood or out of range"}},
      {"latency_us = x\ninputs = 5\n", 1, 5, {"1: value \"x\" of latency_us not understood or out of range"}},
      {"inputs\ninputs = 6\n", 1, 6, {"1: \"inputs\" is not a \"key = value\" line"}},
  };
  plat::SetEnvVar("CARDSIM_CONFIG", path);
  for (const auto& b : bad) {
    std::ofstream(path) << b.text;
    EXPECT_EQ(b.rc, cardsim_load_config(path.c_str())) << b.text;
    std::string said;
    for (const std::string& line : b.said)
      said += "cardsim: CARDSIM_CONFIG " + path + " line " + line + "; every other line is applied\n";
    testing::internal::CaptureStderr();
    cardsim_reset();
    EXPECT_EQ(said, testing::internal::GetCapturedStderr());
    EXPECT_EQ(b.inputs, State().inputs) << b.text;
  }
  const std::string missing = dir.File("missing.cfg");
  EXPECT_EQ(0xFFFFFFFFu, cardsim_load_config(missing.c_str()));
  plat::SetEnvVar("CARDSIM_CONFIG", missing);
  testing::internal::CaptureStderr();
  cardsim_reset();
  plat::SetEnvVar("CARDSIM_CONFIG", "");
  EXPECT_EQ("cardsim: CARDSIM_CONFIG " + missing + " cannot be read; the card keeps its defaults\n",
            testing::internal::GetCapturedStderr());
}

}  // namespace
}  // namespace cardsim_test
