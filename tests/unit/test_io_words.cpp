// Output words, waits and register-write sequences as words and times on the current floor's main stream.
#include "frame/wait_desc.h"
#include "mark/io_words.h"
#include "test_mark_fixture.h"

namespace {

using qztest::Words;

class IoWordsTest : public qztest::MarkCallTest {
 protected:
  void SetUp() override {
    MarkCallTest::SetUp();
    InitWaitDescs();
  }
  static CMarkFloor& Floor() { return F(0); }
  size_t InfoLinesWith(const std::string& text) const {
    size_t n = 0;
    for (const auto& l : InfoLines()) n += l.find(text) != std::string::npos;
    return n;
  }
};

using qztest::AddWait;

TEST_F(IoWordsTest, InputWaitsByEdgeAndTimeOutAndBufferWaitsByLaneAndEdge) {
  constexpr uint32_t kNoTimeoutSetup = 0x58000101, kNoTimeoutMark = 0x51610020;
  constexpr uint32_t kTimeoutSetup = 0x58000111, kTimeoutMark = 0x51618020;
  struct Wait { uint32_t a, b; };
  // The words of `waits` from time t on, 3 µs each.
  auto expected = [&](uint64_t t, const std::vector<Wait>& waits, std::optional<uint32_t> timeoutWord) {
    Words out;
    for (const Wait& w : waits) {
      AddWait(out, t, w.a, w.b, timeoutWord, timeoutWord ? kTimeoutSetup : kNoTimeoutSetup,
              timeoutWord ? kTimeoutMark : kNoTimeoutMark);
      t += 3;
    }
    return out;
  };
  // timeoutWord nullopt: a wait without a time-out
  struct Case { const char* name; uint32_t mask, values, edge, mode, timeoutMs; std::optional<uint32_t> timeoutWord;
                std::vector<Wait> waits; bool clampLogged; } cases[] = {
      {"no time-out", 0xFF, 0x0F, 0, 0, 0, std::nullopt, {{0xFF, 0x0F}}, false},
      {"two lanes, 500 ms", 0xF00F, 0x3001, 0, 0, 500, 0x5607A120, {{0xF00F, 0x3001}}, false},
      {"longest time-out", 1, 1, 0, 0, 16777, 0x56FFFF28, {{1, 1}}, false},
      {"longer time-out cut", 1, 1, 0, 0, 16778, 0x56FFFF28, {{1, 1}}, true},
      {"rising edge", 0x1, 0x101, 0x100, 1, 0, std::nullopt, {{0x101, 0x001}, {0x101, 0x101}}, false},
      {"falling edge", 0x1, 0x001, 0x100, 0, 1, 0x560003E8, {{0x101, 0x101}, {0x101, 0x001}}, false},
      {"other mode falls", 0x0, 0x0, 0x80000000, 7, 0, std::nullopt, {{0x80000000, 0x80000000}, {0x80000000, 0}},
       false},
  };
  for (const Case& c : cases) {
    Floor().ch3.clear();
    Floor().clock = 100;
    const size_t clamps = InfoLinesWith("AddInputWaitRecords:time-out");
    ASSERT_EQ(AddInputWaitRecords(c.mask, c.values, c.edge, c.mode, c.timeoutMs), 0u) << c.name;
    EXPECT_EQ(Floor().ch3, expected(100, c.waits, c.timeoutWord)) << c.name;
    EXPECT_EQ(Floor().clock, 100 + 3 * c.waits.size()) << c.name;
    EXPECT_EQ(InfoLinesWith("AddInputWaitRecords:time-out"), clamps + (c.clampLogged ? 1 : 0)) << c.name;
  }
  // Buffer waits by lane and edge.
  struct LaneCase { const char* name; uint32_t w; std::vector<Wait> waits; } lanes[] = {
      {"lane 1", 1u << 25 | 0x0F << 8 | 0x05, {{0x0F, 0x05}}},
      {"lane 0 is lane 4", 0x0F << 8 | 0x05, {{0x0F000000, 0x05000000}}},
      {"lane 4", 4u << 25 | 0x0F << 8 | 0x05, {{0x0F000000, 0x05000000}}},
      {"high bits not read", 0xF0000000u | 1u << 25 | 0x0F << 8 | 0x05, {{0x0F, 0x05}}},
      {"falling edge", 3u << 25 | 0x80 << 16 | 0x01 << 8 | 0x01, {{0x810000, 0x810000}, {0x810000, 0x010000}}},
      {"rising edge", 1u << 24 | 2u << 25 | 0x80 << 16 | 0x01 << 8 | 0x01, {{0x8100, 0x0100}, {0x8100, 0x8100}}},
  };
  for (const LaneCase& c : lanes) {
    Floor().ch3.clear();
    Floor().clock = 0;
    ASSERT_EQ(CheckBufWaitWord(c.w), 0u) << c.name;
    ASSERT_EQ(AddBufWaitRecords(c.w), 0u) << c.name;
    EXPECT_EQ(Floor().ch3, expected(0, c.waits, std::nullopt)) << c.name;
  }
  for (uint32_t lane : {5u, 6u, 7u}) EXPECT_EQ(CheckBufWaitWord(lane << 25 | 0x0101), 2u) << lane;
}

TEST_F(IoWordsTest, OutputWordsByMaskAndByNumber) {
  struct Case { uint32_t mask, values, word; } cases[] = {
      {0x2, 0x0, 0x20002000},                // output 1 cleared
      {0xFFFFFFFF, 0xFFFFFFFF, 0x20FFFFFF},  // bank 0 only, each field cut to the bank
      {0x1000, 0xFFFFFFFF, 0x210013FF},      // output 12: bank 1
      {0x80000000, 0xFFFFFFFF, 0x222003FF},  // output 31: bank 2
      {0, 0xFFFFFFFF, 0x23000000},           // no output
  };
  for (const Case& c : cases) EXPECT_EQ(MakeIoWordByMask(c.mask, c.values), c.word) << std::hex << c.mask;

  Floor().clock = 100;
  ASSERT_EQ(AddOutputWords(0xFFFFFFFF, 0x80401002), 0u);
  EXPECT_EQ(Floor().ch3, (Words{{101, 0x20002FFF}, {102, 0x210013FF}, {103, 0x222013FF}}));
  Floor().ch3.clear();
  ASSERT_EQ(AddOutputWords(0x0, 0x00400000), 0u);  // output 22 alone
  EXPECT_EQ(Floor().ch3, (Words{{104, 0x22001000}}));
  Floor().ch3.clear();
  ASSERT_EQ(AddOutputWords(0xFFFFFFFF, 0), 0u);
  EXPECT_TRUE(Floor().ch3.empty());
  EXPECT_EQ(Floor().clock, 104u);

  // By number: a NOP outside the banks, logged once per run.
  struct Number { int32_t n; uint32_t v, word; } numbers[] = {
      {0, 1, 0x20001001},  {11, 0, 0x20800000}, {21, 1, 0x21200200}, {22, 1, 0x22001001},
      {32, 1, 0x23001001}, {43, 1, 0x23800800}, {5, 3, 0x20020020},   // only the lowest bit of v
      {44, 1, SW_NOP}, {1000, 1, SW_NOP}, {1000, 0, SW_NOP}, {-7, 1, SW_NOP},
  };
  for (const Number& c : numbers) EXPECT_EQ(MakeIoWord(c.n, c.v), c.word) << c.n;
  EXPECT_EQ(InfoLinesWith("MakeIoWord:output 1000 is outside 0..43"), 1u);
  EXPECT_EQ(InfoLinesWith("MakeIoWord:output -7 is outside 0..43"), 1u);
}

TEST_F(IoWordsTest, SerialBitPatternMostSignificantBitFirstAndRegisterSequences) {
  constexpr uint32_t kSet = 0x20008008, kClear = 0x20008000;  // output 3
  Words list;
  const uint8_t a5 = 0xA5;
  AddSerialBitPattern(list, 1, 3, &a5);
  EXPECT_EQ(list, (Words{{50, kSet}, {150, kClear}, {250, kSet}, {350, kClear}, {450, kClear}, {550, kSet},
                         {650, kClear}, {750, kSet}, {850, kClear}}));
  list.clear();
  const uint8_t two[2] = {0x80, 0x01};
  AddSerialBitPattern(list, 2, 3, two);
  ASSERT_EQ(list.size(), 17u);
  EXPECT_EQ(list[14], (TimedWord{1450, kClear}));
  EXPECT_EQ(list[15], (TimedWord{1550, kSet}));
  EXPECT_EQ(list[16], (TimedWord{1650, kClear}));
  list.clear();
  AddSerialBitPattern(list, 0, 3, two);
  EXPECT_TRUE(list.empty());

  // Register sequences.
  EXPECT_EQ(MakeSeqRegReset(list), (Words{{1, 0x52000000}, {1, 0x55001E00}, {1, 0x52000001}, {1, 0x55000000},
                                          {1, 0x52000002}, {1, 0x55000000}, {1, 0x52000003}, {1, 0x55000000},
                                          {2, 0x58000001}, {3, 0x50000000}}));
  list.clear();
  EXPECT_EQ(MakeSeqWriteReg32(list, 0x44332211, 7, 0x88776655),
            (Words{{7, 0x52000000}, {7, 0x55001155}, {7, 0x52000001}, {7, 0x55002266}, {7, 0x52000002},
                   {7, 0x55003377}, {7, 0x52000003}, {7, 0x55004488}}));
  list.clear();
  // A wait with a time-out of 0 ms on source 5 (internal callers may ask for it).
  MakeSeqWriteRegIo(list, 1, 10, 2, kWaitWithTimeout, 0, 5);
  EXPECT_EQ(Words(list.end() - 3, list.end()), (Words{{12, 0x56000000}, {12, 0x58001115}, {13, 0x51658020}}));
  list.clear();
  // The source is four bits in both words; the time-out's µs are cut to 24 bits.
  MakeSeqWriteRegIo(list, 1, 0, 2, kWaitWithTimeout, 20000, 0x13);
  EXPECT_EQ(Words(list.end() - 3, list.end()), (Words{{2, 0x56312D00}, {2, 0x58000113}, {3, 0x51638020}}));
  list.clear();
  EXPECT_EQ(MakeSeqWriteReg16(list, 0x112, 0x34, 0x56, 0x78),
            (Words{{1, 0x52000000}, {1, 0x53001234}, {1, 0x52000001}, {1, 0x53005678}, {1, 0x52000005},
                   {2, 0x51700000}}));
  // The emitters append at the floor clock.
  Floor().clock = 1000;
  EmitWriteRegIo(0x0403, 0x0201, 0x13, 5);
  EXPECT_EQ(Floor().ch3, (Words{{1001, 0x52000000}, {1001, 0x55000301}, {1001, 0x52000001}, {1001, 0x55000402},
                                {1001, 0x52000002}, {1001, 0x55000000}, {1001, 0x52000003}, {1001, 0x55000000},
                                {1002, 0x58000003}, {1003, 0x51B0000B}}));
  Floor().ch3.clear();
  EXPECT_EQ(EmitWriteReg16(1, 2, 3, 4), 0u);
  EXPECT_EQ(Floor().ch3, (Words{{1004, 0x52000000}, {1004, 0x53000102}, {1004, 0x52000001}, {1004, 0x53000304},
                                {1004, 0x52000005}, {1005, 0x51700000}}));
}

TEST_F(IoWordsTest, NamedWaitsComeFromTheTableAndUnknownNamesAddNothing) {
  Floor().clock = 20;
  EXPECT_EQ(EmitNamedReg(kWaitNoTimeout, 0, "等待平台到位"), 0u);  // source 4, mask 0x11, value 0x10
  Words expected;
  AddWait(expected, 20, 0x11, 0x10, std::nullopt, 0x58000104, 0x51640020);
  EXPECT_EQ(Floor().ch3, expected);
  Floor().ch3.clear();
  EXPECT_EQ(EmitNamedReg(kWaitWithTimeout, 1000, "等待串口发送结束"), 0u);  // source 5
  expected.clear();
  AddWait(expected, 23, 0x1000000, 0, 0x560F4240, 0x58000115, 0x51658020);
  EXPECT_EQ(Floor().ch3, expected);
  Floor().ch3.clear();

  EXPECT_EQ(EmitNamedReg(kWaitNoTimeout, 0, "no such wait"), 0u);
  EXPECT_TRUE(Floor().ch3.empty());
  EXPECT_EQ(Floor().clock, 26u);
  WaitDesc d{};
  EXPECT_FALSE(LookupWaitDesc("no such wait", d));  // not inserted as an empty entry
  EXPECT_EQ(InfoLinesWith("MakeSeqNamedReg:no such wait condition: no such wait"), 1u);
  EXPECT_EQ(ErrorLines().size(), 1u);
}

}  // namespace
