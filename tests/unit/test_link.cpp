// The driver link against the simulated card: frames, sequence nibble, chunking, checks, opens and lost cards.
#include <gtest/gtest.h>

#include <tuple>

#include "cardlink/card_cmd.h"
#include "cardlink/card_operation.h"
#include "cardlink/link_config.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"
#include "support/sim_card.h"

namespace {

using qztest::ExpectLost;
using qztest::HasLine;
using qztest::SimCardTest;

std::vector<uint8_t> Bytes(const cardsim_frame& f) { return std::vector<uint8_t>(f.bytes, f.bytes + f.length); }

std::vector<cardsim_frame> OfKind(const std::vector<cardsim_frame>& frames, uint32_t kind) {
  std::vector<cardsim_frame> out;
  for (const auto& f : frames)
    if (f.kind == kind) out.push_back(f);
  return out;
}

// A control request, then command 82 with sequence nibble 0: (82, 0, 0x4000) in 10 or 12 bytes; a stream
// block in one chunk or four.
TEST_F(SimCardTest, OpenFramesAndStreamBlockChunksOfBothCardTypes) {
  uint8_t block[kStreamBlockBytes] = {};
  struct Case { int type; uint32_t control; std::vector<uint8_t> bytes; uint32_t chunks, length; } cases[] = {
      {0, 0xDF, {0x52, 0, 0, 0, 0, 0, 0, 0x40, 0, 0}, 1, 2048},
      {1, 0xA2, {0x52, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}, 4, 512}};
  for (const Case& c : cases) {
    Stage(c.type);
    ASSERT_EQ(OpenLink(), 0u);
    auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(std::tuple(frames[0].kind, frames[0].word, Bytes(frames[1])),
              std::tuple(uint32_t{CARDSIM_KIND_CONTROL}, c.control, c.bytes));
    ASSERT_TRUE(CPortlane::BufSend(block));
    const cardsim_state s = State();
    EXPECT_EQ(std::tuple(s.bulk_chunks, s.last_chunk_length, s.bulk_bytes), std::tuple(c.chunks, c.length, 2048u));
  }
}

TEST_F(SimCardTest, PcieOpenWithSecondaryCardRunsTheHandshakeWithItsQualityPeriodAndFailsWhenItNeverLinks) {
  Stage(1, "[HARDWARE]\nQualityPeriod=500\n");
  cardsim_set_secondary_(1, 0);
  ASSERT_EQ(OpenLink(), 0u);
  auto frames = Frames();
  std::vector<uint32_t> links;
  for (const auto& f : OfKind(frames, CARDSIM_KIND_LINK)) links.push_back(f.word);
  // 500 x 0.6 = 300 lost counts fail the link, 500 x 0.1 = 50 drop it.
  EXPECT_EQ(links, (std::vector<uint32_t>{0x040001F4, 0x0500012C, 0x06000032, 0x10000000, 0x11000000, 0x12000000,
                                          0x01000001, 0x01000004, 0x01000005, 0x01000002, 0x01000000}));
  auto cmds = OfKind(frames, CARDSIM_KIND_COMMAND);
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(Bytes(cmds[0]),
            (std::vector<uint8_t>{0x0C, 0, 0, 0x03, 0x52, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0}));
  EXPECT_EQ(g_SystemPara.CardLinkCfg.bSlaveCard, 1);
  CPortlane::Close();
  // A secondary card that never links fails the open.
  cardsim_set_secondary_(1, 1);  // answers that it is there, but its link level stays 0
  EXPECT_EQ(OpenLink(), 1u);
  EXPECT_EQ(Boxes(), std::vector<std::string>{
                         "topmost ok: The secondary card is not connected, it must be connected to open the card"});
  cardsim_set_secondary_(1, 2);  // present, but the handshake never links it
  EXPECT_EQ(OpenLink(), 1u);
  EXPECT_EQ(Boxes().size(), 1u);  // no further box: the handshake step fails quietly
  // A quality period outside 1..65535 (it would wrap into a 16-bit count the open sleeps for) falls back to 512.
  struct Case { const char* value; uint16_t period; bool logged; } cases[] = {
      {"-1", 512, true}, {"0", 512, true}, {"65536", 512, true}, {"1", 1, false}, {"65535", 65535, false},
  };
  for (const Case& c : cases) {
    Stage(1, std::string("[HARDWARE]\nQualityPeriod=") + c.value + "\n");
    InitParaLink(1);
    const CardLinkCfg& link = g_SystemPara.CardLinkCfg;
    EXPECT_EQ(link.QualityPeriod, c.period) << c.value;
    EXPECT_EQ(link.nLostFail, static_cast<uint16_t>(c.period * 0.6)) << c.value;
    const std::string note = "QualityPeriod " + std::string(c.value) + " is outside 1..65535";
    EXPECT_EQ(HasLine(ErrorLines(), note), c.logged) << c.value;
  }
}

TEST_F(SimCardTest, SequenceNibbleWrapsHighBitsAreLostAndAMissingDriverLinkFailsEveryOperation) {
  Stage(0);
  ASSERT_EQ(OpenLink(), 0u);
  CmdReply reply;
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(CPortlane::SendCmd(CMD_INPUT, 0, 0, reply));
  auto cmds = OfKind(Frames(), CARDSIM_KIND_COMMAND);
  ASSERT_EQ(cmds.size(), 17u);
  for (uint32_t i = 0; i < 17; ++i) {
    EXPECT_EQ(std::tuple(cmds[i].seq, cmds[i].word), std::tuple(i % 16, ((i % 16) << 12) + (i == 0 ? 82u : 33u))) << i;
  }
  // Numbers above 0x1FF lose their high bits while sequencing.
  ASSERT_TRUE(CPortlane::SendCmd(0x2055, 0, 0, reply));
  EXPECT_EQ(Frames().back().word, (1u << 12) + 0x55u);
  g_Link.g_bCmdSeqOn = 0;  // cards without numbered commands get the number unchanged
  ASSERT_TRUE(CPortlane::SendCmd(0x2055, 7, 8, reply));
  EXPECT_EQ(Frames().back().word, 0x2055u);
  // A missing driver link fails every operation.
  CPortlane::FreeDll();
  EXPECT_EQ(CPortlane::Open(0), 1u);
  g_Link.g_bConnected = 1;  // even a connected flag left over does not reach a missing entry point
  ExpectLost([&] { CPortlane::SendCmd(CMD_INPUT, 0, 0, reply); });
  g_Link.g_bConnected = 1;
  ExpectLost([&] { CPortlane::BufSend(std::vector<uint8_t>(2048).data()); });
  g_Link.g_bConnected = 1;
  uint8_t buf[4];
  ExpectLost([&] { CPortlane::SendComCmd(0xDF, 0, 0, buf, 4); });
}

// A repeated toggle nibble or a wrong echo loses the card, a ready bit that never rises gives up after three
// seconds, and USB open failures show their boxes.
TEST_F(SimCardTest, LostCardsAndFailedOpens) {
  Stage(1);
  ASSERT_EQ(OpenLink(), 0u);
  cardsim_fault_toggle_(1, 1);
  CmdReply reply;
  ExpectLost([&] { CPortlane::SendCmd(CMD_INPUT, 0, 0, reply); });
  EXPECT_TRUE(HasLine(ErrorLines(), "CPortlane::getState:Flag Err"));
  EXPECT_TRUE(HasLine(InfoLines(), "CPortlane::ReturnV:Card is not connected"));
  EXPECT_TRUE(HasLine(ErrorLines(), "CPortlane::ReturnV:Card is not connected"));
  // Afterwards nothing reaches the driver and nothing more is logged.
  const size_t frames = Frames().size();
  const uint32_t reads = State().status_reads;
  const size_t lines = ErrorLines().size();
  ExpectLost([&] { CPortlane::SendCmd(CMD_INPUT, 0, 0, reply); });
  ExpectLost([&] { CPortlane::BufSend(std::vector<uint8_t>(2048).data()); });
  EXPECT_EQ(std::tuple(Frames().size(), State().status_reads, ErrorLines().size()), std::tuple(frames, reads, lines));
  // A wrong echo loses the card.
  Stage(0);
  ASSERT_EQ(OpenLink(), 0u);
  cardsim_fault_wrong_echo_(1);
  ExpectLost([&] { CPortlane::SendCmd(CMD_INPUT, 0, 0, reply); });
  // Sent with nibble 1, echoed with nibble 0 (word ^ 0x1000).
  EXPECT_TRUE(HasLine(ErrorLines(), "CPortlane::SendCtrlCmd:USB Return err: code 1021 21 "));
  EXPECT_TRUE(Boxes().empty());
  // A ready bit that never rises gives up after three seconds.
  Stage(1);
  ASSERT_EQ(OpenLink(), 0u);
  cardsim_fault_hold_low_(LINK_CMD_READY);
  const uint32_t start = clock.tick;
  ExpectLost([&] { CPortlane::SendCmd(CMD_INPUT, 0, 0, reply); });
  EXPECT_GE(clock.tick - start, kLinkWaitMs);
  EXPECT_EQ(State().not_ready_sends, 0u);  // the frame was never sent
  cardsim_fault_hold_low_(LINK_BULK_READY);
  ASSERT_EQ(OpenLink(), 0u);
  ExpectLost([&] { CPortlane::BufSend(std::vector<uint8_t>(2048).data()); });
  EXPECT_EQ(State().bulk_chunks, 0u);
  // USB open failures show their boxes.
  // startup: the start-up mode of the card's status request; controlFail: the n-th control request fails.
  struct Case { uint32_t startup, controlFail; uint8_t langZh; const char* box; } cases[] = {
      {0, 1, 0, "topmost ok: USB control channel communication failed!"},
      {1, 0, 0, "topmost ok: Board initialization incomplete 0"},
      {2, 0, 0, "topmost ok: Open failed, 268 channel exception 10"}, {2, 0, 1, "topmost ok: 打开失败，268通道异常10"},
  };
  for (const Case& c : cases) {
    Stage(0);
    g_bLangZh = c.langZh;
    cardsim_set_usb_startup_(c.startup, 0);
    cardsim_fault_control_fail_(c.controlFail);
    EXPECT_EQ(OpenLink(), 1u);
    ASSERT_FALSE(Boxes().empty());
    EXPECT_EQ(Boxes().back(), c.box);
  }
}

TEST_F(SimCardTest, StaleDataDrainedAtOpenACardLostAtEachExchangeOfAnOpenAndTheOperationWait) {
  for (int type : {0, 1}) {
    Stage(type);
    cardsim_inject_stale_reply_(0x7033, 1, 2);
    if (type == 1) cardsim_inject_stale_bulk_(512);
    ASSERT_EQ(OpenLink(), 0u) << type;
    EXPECT_TRUE(HasLine(ErrorLines(), "CPortlane::ClearUSB:Clear the read buffer once!!!"));
    cardsim_state s = State();
    EXPECT_EQ(std::tuple(s.reply_pending, s.bulk_pending), std::tuple(0u, 0u));
    CmdReply reply;
    EXPECT_TRUE(CPortlane::SendCmd(CMD_INPUT, 0, 0, reply));  // echoes match after the drain
  }
  // A card lost at each exchange of an open fails it cleanly.
  struct Case { int type; bool secondary; } cases[] = {{0, false}, {1, false}, {1, true}};
  for (const Case& c : cases) {
    Stage(c.type);
    if (c.secondary) cardsim_set_secondary_(1, 0);
    ASSERT_EQ(OpenLink(), 0u);
    const uint32_t sends = static_cast<uint32_t>(OfKind(Frames(), CARDSIM_KIND_COMMAND).size() +
                                                 OfKind(Frames(), CARDSIM_KIND_LINK).size());
    CPortlane::Close();
    for (uint32_t n = 1; n <= sends; ++n) {
      cardsim_log_clear_();
      cardsim_fault_lose_at_(n);
      g_Link.g_bConnected = 0;
      EXPECT_EQ(OpenLink(), 1u) << "type " << c.type << " lost at send " << n;
      CPortlane::Close();
    }
    cardsim_fault_lose_at_(0);
    EXPECT_EQ(OpenLink(), 0u);  // and the next open works
  }
  // The card-operation wait follows the run state: an operation that never finishes is given up after its bound.
  Stage(0);
  ASSERT_EQ(OpenLink(), 0u);
  cardsim_set_run_state_(2, 0, 0);
  cardsim_set_sticky_(0, 2);
  const uint32_t start = clock.tick;
  EXPECT_FALSE(FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_ALL));
  EXPECT_GE(clock.tick - start, kFlashCmdWaitMs);
  // Flags in the second status word do not count as a running operation.
  cardsim_set_sticky_(0, 0);
  cardsim_set_run_state_(0, 0, 0);
  cardsim_set_status_flags_(7);
  EXPECT_TRUE(FlashCmdWait(OP_COMMIT, OP_ARG_COMMIT_ALL));
}

}  // namespace
