// The pen exports as a host calls them: the card check, a refusal's box and the log lines (every
// refusal row: the unit tests).

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;

class PenHost : public CardHost {
 protected:
  // Room for 257 pen records, 257 extra records and 21 wave points (all zero).
  std::vector<uint8_t> pens = std::vector<uint8_t>(257 * 1696), plus = std::vector<uint8_t>(257 * 412),
                       wave = std::vector<uint8_t>(21 * 20);
};

// Without a card every export returns 1 and logs its name; a refusal's box; a job sends nothing.
TEST_F(PenHost, CardCheckRefusalAndJob) {
  Stage(0);
  const uint8_t* w = wave.data();
  // Nothing is looked at without a card (not even the null records).
  for (uint32_t rc : {QZ(SetMarkPara)(nullptr, 257), QZ(SetMarkParaPlus)(plus.data(), 1),
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
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 257), 6u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The layer number is out of range."});
  EXPECT_TRUE(qztest::AnyLineHas(ErrorLog(), "] SetMarkPara:The layer number is out of range."));
  // Inside a job the pens are taken; nothing of them reaches the card by itself.
  ASSERT_EQ(SetFlag(qztest::kParaKey, 0), 0u);
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 1), 0u);
  EXPECT_EQ(QZ(SetMarkParaDotPowWaveL)(1, 3, wave.data(), 2), 0u);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(MarkEnd(0), 0u);
}

}  // namespace
