// The pen exports as a host calls them: resolved by name, the card check, the refusals with code 6
// and their box, and the log line each writes.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;

class PenHost : public CardHost {
 protected:
  void Resolve() {
    SetMarkPara = lib->Get<decltype(SetMarkPara)>("QZ_SetMarkPara");
    SetMarkParaPlus = lib->Get<decltype(SetMarkParaPlus)>("QZ_SetMarkParaPlus");
    LineWave = lib->Get<decltype(LineWave)>("QZ_SetMarkParaLinePowWave");
    DotWave = lib->Get<decltype(DotWave)>("QZ_SetMarkParaDotPowWave");
    LineWaveL = lib->Get<decltype(LineWaveL)>("QZ_SetMarkParaLinePowWaveL");
    DotWaveL = lib->Get<decltype(DotWaveL)>("QZ_SetMarkParaDotPowWaveL");
    ASSERT_TRUE(SetMarkPara && SetMarkParaPlus && LineWave && DotWave && LineWaveL && DotWaveL);
  }
  decltype(&QZ_SetMarkPara) SetMarkPara = nullptr;
  decltype(&QZ_SetMarkParaPlus) SetMarkParaPlus = nullptr;
  decltype(&QZ_SetMarkParaLinePowWave) LineWave = nullptr;
  decltype(&QZ_SetMarkParaDotPowWave) DotWave = nullptr;
  decltype(&QZ_SetMarkParaLinePowWaveL) LineWaveL = nullptr;
  decltype(&QZ_SetMarkParaDotPowWaveL) DotWaveL = nullptr;
  // Room for 257 pen records, 257 extra records and 21 wave points (all zero).
  std::vector<uint8_t> pens = std::vector<uint8_t>(257 * 1696), plus = std::vector<uint8_t>(257 * 412),
                       wave = std::vector<uint8_t>(21 * 20);
};

TEST_F(PenHost, WithoutACardEveryExportReturnsOneAndLogsItsName) {
  Stage(0);
  Resolve();
  const uint8_t* w = wave.data();
  EXPECT_EQ(SetMarkPara(nullptr, 257), 1u);  // nothing is looked at without a card
  EXPECT_EQ(SetMarkParaPlus(plus.data(), 1), 1u);
  EXPECT_EQ(LineWave(0, w, 1, w, 1), 1u);
  EXPECT_EQ(DotWave(0, w, 1), 1u);
  EXPECT_EQ(LineWaveL(1, 0, w, 1, w, 1), 1u);
  EXPECT_EQ(DotWaveL(1, 0, w, 1), 1u);
  EXPECT_TRUE(lib->Boxes().empty());
  const std::vector<std::string> info = InfoLog();
  for (const char* line : {"] QZ_SetMarkPara:257", "] QZ_SetMarkParaPlus:1",
                           "] QZ_SetMarkParaLinePowWave:layer=0 start=1 end=1", "] QZ_SetMarkParaDotPowWave:layer=0 count=1",
                           "] QZ_SetMarkParaLinePowWaveL:laser=1 layer=0 start=1 end=1",
                           "] QZ_SetMarkParaDotPowWaveL:laser=1 layer=0 count=1"}) {
    size_t found = 0;
    for (const std::string& l : info) found += l.rfind("[INFO]", 0) == 0 && l.find(line) != std::string::npos;
    EXPECT_EQ(found, 1u) << line;
  }
}

TEST_F(PenHost, ArgumentsInRangeAreTakenAndOthersRefusedWithSix) {
  Stage(0);
  Resolve();
  ASSERT_EQ(InitCard(), 0u);
  const uint8_t *p = pens.data(), *x = plus.data(), *w = wave.data();
  const std::pair<uint32_t, std::function<uint32_t()>> cases[] = {
      {0, [&] { return SetMarkPara(p, 256); }},         {0, [&] { return SetMarkPara(nullptr, 0); }},
      {6, [&] { return SetMarkPara(p, 257); }},         {0, [&] { return SetMarkPara(p, -1); }},
      {0, [&] { return SetMarkParaPlus(x, 256); }},     {6, [&] { return SetMarkParaPlus(x, 257); }},
      {0, [&] { return LineWave(255, w, 20, w, 0); }},  {6, [&] { return LineWave(256, w, 1, w, 1); }},
      {6, [&] { return LineWave(0, w, 1, w, -1); }},    {0, [&] { return LineWaveL(1, 0, w, 1, nullptr, 0); }},
      {6, [&] { return LineWaveL(2, 0, w, 1, w, 1); }}, {0, [&] { return DotWave(255, w, 20); }},
      {6, [&] { return DotWave(0, w, 21); }},           {0, [&] { return DotWaveL(1, 255, w, 0); }},
      {6, [&] { return DotWaveL(2, 0, w, 1); }},        {6, [&] { return DotWaveL(0, 256, w, 1); }},
  };
  size_t refused = 0, n = 0;
  for (const auto& [rc, call] : cases) {
    EXPECT_EQ(call(), rc) << n++;
    if (rc == 6) ++refused;
    const std::vector<std::string> boxes = lib->Boxes();
    ASSERT_EQ(boxes.size(), refused) << n;
    if (refused) {
      EXPECT_EQ(boxes.back(), "topmost ok: The layer number is out of range.");
    }
  }
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] SetMarkPara:The layer number is out of range."));
  // Inside a job too; nothing of it reaches the card by itself.
  ASSERT_EQ(SetFlag(qztest::kParaKey, 0), 0u);
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(SetMarkPara(p, 1), 0u);
  EXPECT_EQ(DotWaveL(1, 3, w, 2), 0u);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(MarkEnd(0), 0u);
}

}  // namespace
