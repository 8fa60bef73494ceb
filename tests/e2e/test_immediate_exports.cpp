// The immediate exports against the simulated card: frames, moves, raw commands, the laser's UART, losses.

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

#include "e2e/card_host.h"
#include "platform/files.h"
#include "support/trace.h"

namespace {

using qztest::HasLine;
using qztest::CardHost;

class Immediate : public CardHost {
 protected:
  // A card of `version` with a plain 100 mm box; `apply` applies the parameter file too (watchdog starts).
  void Open(uint32_t version, const std::string& config = "", bool apply = false, int type = 0) {
    OpenWithParaFile(type, config, version, apply);
    cardsim_log_clear_();
  }
  std::string Received() {
    char buf[256] = {};
    cardsim_uart_received_(buf, sizeof buf);
    return buf;
  }
};

TEST_F(Immediate, WithoutCardOnlyTheHostSideAnswers) {
  Stage(0);
  uint32_t u = 7;
  uint8_t id[7] = {};
  EXPECT_EQ(QZ(Input)(&u), 1u);
  EXPECT_EQ(QZ(GetUniqueID)(id), 1u);
  for (uint8_t b : id) EXPECT_EQ(b, 0x02);
  EXPECT_EQ(QZ(EndResetRoute)(), 1u);
  EXPECT_TRUE(HasLine(InfoLog(), "QZ_EndResetRoute"));
  char text[32];
  char* p = text;
  EXPECT_EQ(QZ(GetErrInfo)(41, &p, sizeof text), 0u);
  EXPECT_STREQ(text, "No this err number");
  EXPECT_EQ(QZ(GetErrInfo)(41, &p, 5), 0u);
  EXPECT_STREQ(text, "No t");
  EXPECT_EQ(QZ(Input)(nullptr), 2u);
}

TEST_F(Immediate, MembersSendTheirFramesAndDecodeTheAnswers) {
  Open(85);
  uint32_t a = 0, b = 0, c = 0, d = 0;
  cardsim_set_hw_words_(0x1255, 0x5678, 0xC0, 0xD0);
  ASSERT_EQ(QZ(GetHdInfo)(&a, &b, &c, &d), 0u);
  EXPECT_EQ(std::vector<uint32_t>({a, b, c, d}), std::vector<uint32_t>({0x1255, 0x5678, 0xC0, 0xD0}));
  const uint8_t uid[7] = {1, 2, 3, 4, 5, 6, 7};
  cardsim_set_unique_id_(uid);
  uint8_t id[7] = {};
  ASSERT_EQ(QZ(GetUniqueID)(id), 0u);
  EXPECT_EQ(std::memcmp(id, uid, 7), 0);
  cardsim_set_routes_(0xAB, 0xCD);
  uint32_t routes[2] = {};
  ASSERT_EQ(QZ(GetRouteStates)(routes), 0u);
  EXPECT_EQ(routes[1], 0xCDu);
  cardsim_set_answer_(87, 0, 0, 0xA5B00010, 99);
  uint16_t kind = 9;
  uint32_t dt = 0, value = 0;
  ASSERT_EQ(Export<decltype(&get_debug)>("get_debug")(&kind, &dt, &value), 0u);
  EXPECT_EQ(std::tuple(kind, dt, value), std::tuple(uint16_t{1}, 0x60u, 99u));
  cardsim_set_answer_(41, 0, 0, 0x11, 0x22);
  ASSERT_EQ(QZ(GetScsiInfo)(&a, &b), 0u);
  EXPECT_EQ(std::pair(a, b), std::pair(0x11u, 0x22u));
  uint32_t w0 = 0, w1 = 0;
  ASSERT_EQ(QZ(IpgBusCmdRead)(0x12, &w0, &w1), 0u);
  ASSERT_EQ(QZ(OutputError)(1), 0u);
  ASSERT_EQ(QZ(SetOnOffLine)(1), 0u);
  ASSERT_EQ(Export<decltype(&debug_switch)>("debug_switch")(1), 0u);
  ASSERT_EQ(QZ(Mark_Pause)(), 0u);
  ASSERT_EQ(QZ(ClearAlarm)(), 0u);
  ASSERT_EQ(QZ(EndResetRoute)(), 0u);
  const std::vector<Frame> want = {
      {81, 0, 0},        {84, 1, 0},    {90, 0, 0},    {117, 0, 0},   {87, 0, 0},      {41, 0, 0},
      {42, 0x92000000, 0}, {82, 1, 0x200000}, {82, 0, 0x20}, {82, 1, 0x10}, {82, 0, 1}, {82, 0, 0x400},
      {82, 1, 0x400},    {82, 0, 0x80000}};
  EXPECT_EQ(Sent(), want);
  EXPECT_TRUE(HasLine(InfoLog(), "QZ_ClearAlarm"));
  // The raw move, and the position back in mm: each code with its own field and the card's sine factor.
  cardsim_log_clear_();
  ASSERT_EQ(QZ(ScanMove2Bit)(0x1234, 0x5678), 0u);
  EXPECT_EQ(Sent(), (std::vector<Frame>{{6, 1, 1}, {4, 0x2B3, 0xC0024680}, {6, 0, 0}, {6, 1, 0}}));
  double mx = 0, my = 0;
  ASSERT_EQ(QZ(GetScanPos)(&mx, &my), 0u);
  const auto mm = [](double code) { return (code * 100.0 / 65535.0 - 50.0) * (1 + std::sin(std::fmod(code, 1000)) / 98.0); };
  EXPECT_NEAR(mx, mm(0x1234), 1e-3);
  EXPECT_NEAR(my, mm(0x5678), 1e-3);
  // A move that never stops, a transmitter that never latches: 37 and a box each; the strobe left low.
  cardsim_set_galvo_cmd_(0, 1, 0, 0);
  EXPECT_EQ(QZ(MicMoveScan)(1, 1, 1), 37u);
  cardsim_uart_behaviour_(4);
  const uint8_t letter = 0x41;
  EXPECT_EQ(QZ(UartCmdSendBytes)(&letter, 1), 37u);
  EXPECT_EQ(lib->Boxes().size(), 2u);
  EXPECT_EQ(std::get<2>(Sent(114).back()), 0x41u);
}

// Per card version: the move's frame then the polls until stopped; the UART send with or without handshake.
TEST_F(Immediate, MoveAndUartFormsByCardVersion) {
  const struct { uint32_t version; Frame move; std::vector<Frame> uart; } cases[] = {
      {70, {4, 0x7FFF, 0x7FFF7FFF}, {{115, 0, 0}, {114, 0, 0x41}}},
      {85, {4, 0x3FF400, 0x100000},
       {{114, 0, 0x41}, {115, 0, 0}, {114, 0, 0x141}, {115, 0, 0}, {114, 0, 0x41}, {115, 0, 0}}}};
  for (const auto& c : cases) {
    QZ_TRACE(c.version);
    Open(c.version);
    cardsim_set_galvo_cmd_(3, 0, 0, 0);
    ASSERT_EQ(QZ(MicMoveScan)(0, 0, 0), 0u);
    const std::vector<Frame> want = {c.move, {6, 0, 0}, {6, 0, 0}, {6, 0, 0}, {6, 0, 0}};
    EXPECT_EQ(Sent(), want);
    EXPECT_EQ(QZ(MicMoveScan)(std::nan(""), 0, 0), 7u);
    cardsim_log_clear_();
    const uint8_t a = 0x41;
    ASSERT_EQ(QZ(UartCmdSendBytes)(&a, 1), 0u);
    EXPECT_EQ(Sent(), c.uart);
    EXPECT_EQ(Received(), "A");
  }
}

TEST_F(Immediate, SendCtrlCmdLegacyFormsAndReadBack) {
  const struct { uint32_t version; int type; } cases[] = {{85, 0}, {60, 0}, {85, 1}};
  for (const auto& [version, type] : cases) {
    QZ_TRACE(version * 10 + type);
    Open(version, "", false, type);
    uint32_t r0 = 0, r1 = 0;
    ASSERT_EQ(QZ(SendCtrlCmd)(0x2155, 1, 2, &r0, &r1), 0u);
    ASSERT_EQ(QZ(SendCtrlCmd)(0x150, 1, 2, &r0, &r1), 0u);
    EXPECT_EQ(QZ(SendCtrlCmd)(0x500, 1, 2, &r0, &r1), 2u);  // the card reads 9 bits of a command number
    EXPECT_EQ(Commands(), std::vector<uint32_t>{0x121});
    cardsim_log_clear_();
    // The read-back: the card's flash pages into the file, then the channel is in step again.
    std::vector<uint8_t> pages(3 * 2048);
    for (size_t i = 0; i < pages.size(); ++i) pages[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_EQ(cardsim_flash_write_(CARDSIM_FLASH_SPI, 0x40000, pages.data(), static_cast<uint32_t>(pages.size())), 0u);
    for (uint32_t n : {0u, 1u, 3u}) {
      QZ_TRACE(n);
      ASSERT_EQ(QZ(SendCtrlCmd)(0x100, 0x40000, n, &r0, &r1), 0u);
      std::string file;
      ASSERT_TRUE(plat::ReadWholeFile(lib->LibDir() + "/OffDocReadBack.tmp", file));
      EXPECT_EQ(file, std::string(pages.begin(), pages.begin() + n * 2048));
      ASSERT_EQ(QZ(Input)(&r0), 0u);
    }
  }
}

// The laser's queries over its UART: the back current (QI), the alarm by status (QS) or by fiber code.
TEST_F(Immediate, LaserQueriesAndTwoThreadsNeverInterleavingTheirBytes) {
  // type: [LASER] LASER_TYPE.
  const struct { const char *type, *query, *reply; uint32_t behaviour, inputs, rc; int32_t value; } cases[] = {
      {"3", "QI", "12,345\r\n", 0, 0, 0, 345}, {"3", "QI", "12345\r\n", 0, 0, 30, -1}, {"3", "QI", "", 1, 0, 0, -1},
      {"3", "QI", "\r\n", 0, 0, 0, -1}, {"3", "QI", "", 3, 0, 0, -1}, {"3", "QS", "32768\r\n", 0, 0, 0, 1},
      {"3", "QS", "0\r\n", 0, 0, 0, 0}, {"3", "QS", "12a\r\n", 0, 0, 0, 2}, {"2", "QS", "", 0, 9u << 22, 0, 0},
      {"2", "QS", "", 0, 13u << 22, 0, 1}, {"2", "QS", "", 0, 0, 0, 1}};
  for (const auto& c : cases) {
    QZ_TRACE(&c - cases);  // the row
    Open(85, std::string("[LASER]\nLASER_TYPE=") + c.type + "\n", true);
    cardsim_uart_script_(c.query, c.reply, 0);
    cardsim_uart_behaviour_(c.behaviour);
    cardsim_set_inputs_(c.inputs);
    const bool current = std::string(c.query) == "QI";
    int32_t value = current ? 0 : -1;
    EXPECT_EQ(current ? QZ(GetSpiBackCurrent)(&value) : QZ(SystemIsAlarm)(&value), c.rc);
    EXPECT_EQ(value, c.value);
  }
  // Two threads never interleave their query bytes.
  Open(85, "[LASER]\nLASER_TYPE=3\n", true);
  cardsim_uart_script_("QI", "1,2\r\n", 0);
  cardsim_uart_script_("QS", "0\r\n", 0);
  std::thread other([&] {
    int32_t alarm = 0;
    for (int i = 0; i < 3; ++i) QZ(SystemIsAlarm)(&alarm);
  });
  int32_t current = 0;
  for (int i = 0; i < 3; ++i) QZ(GetSpiBackCurrent)(&current);
  other.join();
  std::string r = Received();
  size_t n = 0;
  for (size_t i = 0; i + 4 <= r.size(); i += 4, ++n) {
    const std::string q = r.substr(i, 4);
    EXPECT_TRUE(q == "QI\r\n" || q == "QS\r\n") << q;
  }
  EXPECT_EQ(n, 6u);
}

// Each member with several exchanges, the card lost at each in turn: 1, and the card opens again.
TEST_F(Immediate, CardLostAtEachExchangeOfAMultiExchangeMember) {
  uint32_t valid = 0;
  uint8_t byte = 0;
  const uint8_t bytes[2] = {0x41, 0x42};
  const struct { const char* name; uint32_t version; std::function<uint32_t()> call; } members[] = {
      {"QZ_MicMoveScan", 85, [&] { return QZ(MicMoveScan)(0, 0, 0); }},
      {"QZ_UartCmdSendBytes", 85, [&] { return QZ(UartCmdSendBytes)(bytes, 2); }},
      {"QZ_UartCmdSendBytes", 70, [&] { return QZ(UartCmdSendBytes)(bytes, 2); }},
      {"QZ_UartCmdRecvByte", 85, [&] { return QZ(UartCmdRecvByte)(&byte, &valid); }},
  };
  for (const auto& m : members) {
    QZ_TRACE(std::string(m.name) + " " + std::to_string(m.version));
    Open(m.version);
    cardsim_set_galvo_cmd_(2, 0, 0, 0);
    ASSERT_EQ(m.call(), 0u);
    const size_t exchanges = Commands().size();
    for (uint32_t at = 1; at <= exchanges; ++at) {
      QZ_TRACE(at);
      cardsim_fault_lose_at_(at);
      EXPECT_EQ(m.call(), 1u) << m.name << " lost at " << at;
      EXPECT_EQ(InitCard(), 0u);
    }
  }
  EXPECT_TRUE(lib->Boxes().empty());
}

// The stall report: once in the daily and the error log, a box only with bMessageBoxUsbLongTime.
TEST_F(Immediate, WatchdogReportsAStallOnce) {
  keepWatchdogReads = true;
  for (int box : {1, 0}) {
    QZ_TRACE(box);
    Open(85, "bMessageBoxUsbLongTime=" + std::to_string(box) + "\n", true);
    uint32_t v = 0;
    cardsim_fault_stall_reply_(1, 2500);
    ASSERT_EQ(QZ(Input)(&v), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string name = "立即指令卡死 ";
    for (const auto& log : {InfoLog(), ErrorLog()}) {
      size_t lines = 0;
      int elapsed = 0;
      for (const std::string& l : log) {
        const size_t at = l.find(name);
        if (at == std::string::npos) continue;
        ++lines;
        elapsed = std::atoi(l.c_str() + at + name.size());
        EXPECT_EQ(l.substr(l.size() - 2), " 8") << l;
      }
      EXPECT_EQ(lines, 1u);
      EXPECT_GE(elapsed, 1900);
      EXPECT_LT(elapsed, 2500);
    }
    size_t boxes = 0;
    for (const std::string& text : lib->Boxes()) boxes += text.find(name) != std::string::npos ? 1 : 0;
    EXPECT_EQ(boxes, static_cast<size_t>(box));
    EXPECT_FALSE(Sent(81).empty());  // the rounds after the stall read the version again
    ASSERT_EQ(CloseCard(), 0u);
    cardsim_log_clear_();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(Sent(81).empty());
  }
}

// A stopped job moves the scanner to [HARDWARE] MarkEnd_X/Y as the immediate move.
TEST_F(Immediate, StoppedJobMovesTheScannerToItsRestPosition) {
  for (uint32_t runMode : {0u, 1u}) {
    QZ_TRACE(runMode);
    OpenWithPens(0, "[HARDWARE]\nMarkEnd_X=5\nMarkEnd_Y=-7\nMarkEnd_Z=1\n", 70, 1, 1000.0);
    ASSERT_EQ(MarkStart(runMode, 0, 0), 0u);
    for (int k = 0; k < 20; ++k) {
      const double sq[] = {-5, -5, 0, 5, -5, 0, 5, 5, 0, -5, 5, 0, -5, -5, 0};
      ASSERT_EQ(QZ(MarkVector)(sq, 5, 0), 0u);
    }
    cardsim_set_consume_(CARDSIM_CONSUME_PACED);
    cardsim_set_speed_(1);
    cardsim_log_clear_();
    std::atomic<uint32_t> result{0xFFFFFFFF};
    std::thread end([&] { result = MarkEnd(0); });
    while ((State().run_state & 1) == 0 && result == 0xFFFFFFFFu) std::this_thread::yield();
    EXPECT_EQ(QZ(Mark_Stop)(), 0u);
    end.join();
    const std::vector<Frame> moves = Sent(4);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(std::get<1>(moves[0]), runMode == 0 ? 0x7FFFu : 0x17FFFu);
    cardsim_log_clear_();
    ASSERT_EQ(QZ(MicMoveScan)(5, -7, runMode), 0u);
    EXPECT_EQ(moves, Sent(4));
  }
}

// The MO switch's serial mirror: in a job the stream's UART words carry it; QZ_Output sends it at once.
TEST_F(Immediate, MoSwitchBytesReachTheLaser) {
  for (uint32_t version : {70u, 85u}) {
    QZ_TRACE(version);
    Open(version, "[LASER]\nLASER_TYPE=1\n[Uart]\nnSerialFor3YLPN2Red1CW0none=1\n", true);
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    ASSERT_EQ(QZ(MarkBufIO)(1u << 29, 1u << 29, 0, 0), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    EXPECT_EQ(Received(), "EPM\r");
    EXPECT_TRUE(Sent(114).empty() && Sent(4).empty());  // no rest move after a job that ended well
    ASSERT_EQ(QZ(Output)(1u << 29, 1u << 29), 0u);
    EXPECT_EQ(Received(), "EPM\rEPM\r");
  }
}

// Before any table is built: codes 0 and still the move; with a plain 100 mm box the target's codes.
TEST_F(Immediate, ScanMM2BitLooksUpTheTablesAndMoves) {
  Open(70);
  uint16_t x = 1, y = 1;
  ASSERT_EQ(QZ(ScanMM2Bit)(10, -20, 0, &x, &y), 0u);
  EXPECT_EQ(std::tuple(x, y), std::tuple(0, 0));
  const std::vector<Frame> moved = Sent(4);
  cardsim_log_clear_();
  ASSERT_EQ(QZ(MicMoveScan)(10, -20, 0), 0u);
  EXPECT_EQ(moved, Sent(4));
  ASSERT_EQ(QZ(SetCaliParaFile)(0), 0u);
  for (uint32_t mode : {0u, 1u}) {
    QZ_TRACE(mode);
    ASSERT_EQ(QZ(ScanMM2Bit)(10, -20, mode, &x, &y), 0u);
    EXPECT_NEAR(x, (10 + 50) * 655.35, 2);
    EXPECT_NEAR(y, (-20 + 50) * 655.35, 2);
  }
}

// Behind the frame header: level and flags of the status word; counter latched by 0x07000005 unless bit 6.
TEST_F(Immediate, ScsiInfoFromTheLinkWithTheFrameHeader) {
  const struct { uint32_t flags, a, b; bool latch; } cases[] = {
      {0, 0x10000, 0x2A5, true}, {0x20, 0x10001, 0x2A5, true}, {0x40, 0x10002, 7, false}};
  for (const auto& c : cases) {
    QZ_TRACE(c.flags);
    Open(85, "[HARDWARE]\nQualityPeriod=20\n", false, 1);
    // The secondary card is asked for at the open; this card has one.
    CloseCard();
    cardsim_set_secondary_(1, 0);
    ASSERT_EQ(InitCard(), 0u);
    cardsim_set_link_fields_(3, 0, c.flags);
    cardsim_set_link_latches_(0xC, 0x2A5);
    cardsim_log_clear_();
    uint32_t a = 0, b = 7;
    ASSERT_EQ(QZ(GetScsiInfo)(&a, &b), 0u);
    EXPECT_EQ(std::tuple(a, b), std::tuple(c.a, c.b));
    size_t latches = 0;
    for (const cardsim_frame& f : Frames()) latches += f.kind == CARDSIM_KIND_LINK && f.word == 0x07000005;
    EXPECT_EQ(latches, c.latch ? 1u : 0u);
    EXPECT_TRUE(Commands().empty());
  }
}

}  // namespace
