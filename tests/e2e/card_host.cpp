#include "e2e/card_host.h"

#include "frame/bytes.h"
#include "platform/files.h"

namespace qztest {

void CardHost::Stage(int cardType, const std::string& config, char cardChar) {
  StageFiles(cardType, config, cardChar);
  Load(true);
}

void CardHost::StageFiles(int cardType, const std::string& config, char cardChar) {
  lib = std::make_unique<StagedLibrary>(cardChar);
  if (withCaliModules) lib->AddCaliModules();
  lib->AddSimCard(cardType);
  lib->AddExampleLanguageFiles();
  // The monitor samples nothing unless the test names the switch itself: its commands 6 and 34
  // would land between the frames an exact-sequence test expects.
  const std::string quiet = config.find("bRecordCheck=") == std::string::npos ? "bRecordCheck=0\n" : "";
  lib->WriteConfig("QZMarkPara.cfg", "[OTHER]\nlanguageFile=QZ_en.txt\n[Main]\nCardType=" +
                                         std::to_string(cardType) + "\n" + quiet + config);
}

void CardHost::Load(bool resetCard) {
  ASSERT_TRUE(lib->Load());
  InitCard = lib->Get<decltype(InitCard)>("QZ_InitCard");
  CloseCard = lib->Get<decltype(CloseCard)>("QZ_CloseCard");
  GetCardsNo = lib->Get<decltype(GetCardsNo)>("QZ_GetCardsNo");
  SetFlag = lib->Get<decltype(SetFlag)>("QZ_SetFlag");
  MarkStart = lib->Get<decltype(MarkStart)>("QZ_MarkStart");
  MarkEnd = lib->Get<decltype(MarkEnd)>("QZ_MarkEnd");
  GetWaitInfo = lib->Get<decltype(GetWaitInfo)>("QZ_GetWaitInfo");
  GetHdVer = lib->Get<decltype(GetHdVer)>("QZ_GetHdVer");
  OpenOnly = lib->Get<decltype(OpenOnly)>("debug_OpenCard2GetMsg");
  ASSERT_TRUE(InitCard && CloseCard && GetCardsNo && SetFlag && MarkStart && MarkEnd && GetWaitInfo && GetHdVer &&
              OpenOnly);
  ASSERT_TRUE(ResolveSim([this](const char* name) { return lib->SimSymbol(name); }));
  if (resetCard) cardsim_reset_();
  if (withCaliModules) {
    ASSERT_TRUE(lib->Boxes().empty()) << lib->Boxes()[0];
  }
}

void CardHost::OpenCard(int cardType, const std::string& config, uint32_t version) {
  Stage(cardType, config);
  if (HasFatalFailure()) return;
  if (version) cardsim_set_card_version_(version);
  InitAndAccept();
}

void CardHost::InitAndAccept() {
  ASSERT_EQ(InitCard(), 0u);
  ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
}

void CardHost::OpenWithParaFile(int cardType, const std::string& config, uint32_t version, bool apply) {
  if (lib) {
    if (CloseCard) CloseCard();
    lib.reset();
  }
  StageFiles(cardType, config);
  AddCaliFiles();
  Load(true);
  if (HasFatalFailure()) return;
  if (version) cardsim_set_card_version_(version);
  InitAndAccept();
  if (!apply || HasFatalFailure()) return;
  ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
  ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
}

void CardHost::AddCaliFiles() {
  const auto block = DefaultBoxBlock();
  lib->WriteConfig("CaliPara.cl", std::string(block.begin(), block.end()));
  lib->WriteConfig("Default.box", PlainBoxFile());
}

void CardHost::OpenWithPens(int cardType, const std::string& config, uint32_t version, int pens, double markMmPerS) {
  OpenWithParaFile(cardType, config, version);
  if (HasFatalFailure()) return;
  const std::vector<uint8_t> records = PenRecords(pens, 20.0, 50.0, markMmPerS, 10 * markMmPerS);
  ASSERT_EQ(QZ(SetMarkPara)(records.data(), pens), 0u);
}

std::vector<uint32_t> CardHost::Commands() {
  std::vector<uint32_t> out;
  for (const auto& f : Frames())
    if (f.kind == CARDSIM_KIND_COMMAND) out.push_back(f.command);
  return out;
}

std::vector<std::string> CardHost::InfoLog() { return ReadLines(lib->TodaysLog("Log_", ".log")); }
std::vector<std::string> CardHost::ErrorLog() { return ReadLines(lib->LogDir() + "Error.log"); }

std::string CardHost::ConfigText() {
  std::string text;
  plat::ReadWholeFile(lib->ConfigDir() + "QZMarkPara.cfg", text);
  return text;
}

std::vector<uint8_t> DefaultBoxBlock() {
  std::vector<uint8_t> b(2048, 0);
  PutU32(&b[0], 3);
  PutU32(&b[4], 1);
  for (size_t off : {40u, 48u, 80u, 88u, 104u, 112u}) PutF64(&b[off], 1.0);
  PutF64(&b[96], 160.0);
  PutU32(&b[168], 25000);
  for (size_t i = 0; i < 12; ++i) PutF64(&b[172 + 8 * i], 60.0);
  return b;
}

std::vector<uint8_t> PenRecords(int count, double kHz, double duty, double markMmPerS, double jumpMmPerS) {
  std::vector<uint8_t> pens(static_cast<size_t>(count) * 1696, 0);
  for (int i = 0; i < count; ++i) {
    uint8_t* pen = &pens[static_cast<size_t>(i) * 1696];
    PutF64(pen + 28, kHz);
    PutF64(pen + 36, duty);
    PutF64(pen + 432, markMmPerS);
    PutF64(pen + 440, jumpMmPerS);
  }
  return pens;
}

std::string PlainBoxFile() {
  std::string text;
  for (int i = 0; i < 45; ++i) text += std::string(i == 3 ? "100" : "0") + "\r\n";
  return text;
}

}  // namespace qztest
