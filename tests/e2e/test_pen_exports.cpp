// The pen exports as a host calls them: the card check, a refusal's box and the log lines (every
// refusal row: the unit tests).

#include "e2e/card_host.h"

namespace {

using PenHost = qztest::CardHost;

// Without a card every export returns 1 and logs its name; with one, a refusal's box and the setters' results.
TEST_F(PenHost, CardCheckAndRefusal) {
  Stage(0);
  // Room for 257 pen records and 21 wave points (all zero).
  const std::vector<uint8_t> pens(257 * 1696), wave(21 * 20);
  const uint8_t* w = wave.data();
  // Nothing is looked at without a card (not even the null records).
  for (uint32_t rc : {QZ(SetMarkPara)(nullptr, 257), QZ(SetMarkParaPlus)(pens.data(), 1),
                      QZ(SetMarkParaLinePowWave)(0, w, 1, w, 1), QZ(SetMarkParaDotPowWave)(0, w, 1),
                      QZ(SetMarkParaLinePowWaveL)(1, 0, w, 1, w, 1), QZ(SetMarkParaDotPowWaveL)(1, 0, w, 1)})
    EXPECT_EQ(rc, 1u);
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
  // With a card a refusal shows the language file's text.
  ASSERT_EQ(InitCard(), 0u);
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 256), 0u);
  EXPECT_EQ(QZ(SetMarkParaDotPowWaveL)(1, 3, w, 2), 0u);
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 257), 6u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The layer number is out of range."});
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] SetMarkPara:The layer number is out of range."));
}

}  // namespace
