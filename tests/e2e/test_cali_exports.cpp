// The calibration exports against the simulated card, with our calibration modules beside the library
// and without them.

#include "corrix_api.h"
#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "gridel_api.h"
#include "platform/files.h"

namespace {

using qztest::HasLine;
using qztest::CardHost;
using qztest::DefaultBoxBlock;
using qztest::kParaKey;

const char* const kUnsupported = "topmost ok: This calibration type is not supported.";

class CaliHost : public CardHost {
 protected:
  // The calibration modules' counters.
  void Resolve() {
    if (!withCaliModules) return;
    corrix_count_ = reinterpret_cast<decltype(&corrix_count)>(lib->ModuleSymbol("Corrix", "corrix_count"));
    gridel_count_ = reinterpret_cast<decltype(&gridel_count)>(lib->ModuleSymbol("Gridel", "gridel_count"));
    ASSERT_TRUE(corrix_count_ && gridel_count_);
  }
  // Stages, with `onFile` as "CaliPara.cl" when given, and loads the library.
  void LoadWith(const std::string& config, const std::vector<uint8_t>& onFile = {}) {
    StageFiles(0, config);
    if (!onFile.empty()) lib->WriteConfig("CaliPara.cl", std::string(onFile.begin(), onFile.end()));
    Load(true);
    Resolve();
  }
  // Loads, opens the card with version `version` and accepts the parameters.
  void Open(uint32_t version, const std::string& config = "") {
    LoadWith(config);
    cardsim_set_card_version_(version);
    InitAndAccept();
    cardsim_log_clear_();
  }
  std::string ConfigFile(const std::string& name) {
    std::string s;
    plat::ReadWholeFile(lib->ConfigDir() + name, s);
    return s;
  }

  decltype(&corrix_count) corrix_count_ = nullptr;
  decltype(&gridel_count) gridel_count_ = nullptr;
};

TEST_F(CaliHost, QueriesNeedNoCardAndTasksNeedOne) {
  std::vector<uint8_t> onFile = DefaultBoxBlock();
  PutF64(&onFile[64], -0.75);
  PutU32(&onFile[588], 0xA5000003);
  LoadWith("", onFile);
  EXPECT_EQ(corrix_count_(CORRIX_ENTRY_INITIAL), 1u);  // the library's load step
  double range = 0.0;
  EXPECT_EQ(QZ(GetBoxRange)(&range), 0u);
  EXPECT_EQ(range, 20.0);
  uint32_t type = 7;
  EXPECT_EQ(QZ(GetBoxType)(&type), 0u);
  EXPECT_EQ(type, 0u);
  std::vector<uint8_t> block(2048, 0xEE), expected = onFile;
  PutU32(&expected[588], 0);  // the host never sees the extension word
  EXPECT_EQ(QZ(GetCaliPara)(block.data()), 0u);
  EXPECT_EQ(block, expected);
  for (uint32_t rc : {QZ(GetBoxRange)(nullptr), QZ(GetBoxType)(nullptr), QZ(GetCaliPara)(nullptr), QZ(SaveCaliPara)(nullptr)})
    EXPECT_EQ(rc, 2u);
  EXPECT_EQ(QZ(SetCaliParaFile)(0), 1u);
  EXPECT_EQ(QZ(SetCaliPara)(block.data()), 1u);
  // Saving needs no card.
  PutF64(&block[72], 4.5);
  EXPECT_EQ(QZ(SaveCaliPara)(block.data()), 0u);
  EXPECT_EQ(ConfigFile("CaliPara.cl"), std::string(block.begin(), block.end()));
  EXPECT_TRUE(lib->Boxes().empty());
}

TEST_F(CaliHost, NewMethodBuildsTablesThroughTheModuleAndSendsTheirScale) {
  // At load the range is the block's on file; no table is built.
  std::vector<uint8_t> onFile = DefaultBoxBlock();
  PutF64(&onFile[96], 480.0);  // our module reports R = 480 / 16 = 30 mm
  LoadWith("bNewBoxCali=1\n", onFile);
  double range = 0.0;
  EXPECT_EQ(QZ(GetBoxRange)(&range), 0u);
  EXPECT_EQ(range, 60.0);
  EXPECT_EQ(gridel_count_(GRIDEL_ENTRY_CALI), 0u);
  cardsim_set_card_version_(85);
  InitAndAccept();
  cardsim_log_clear_();
  uint32_t type = 0;
  ASSERT_EQ(QZ(GetBoxType)(&type), 0u);
  EXPECT_EQ(type, 1u);
  std::vector<uint8_t> block = DefaultBoxBlock();
  PutF64(&block[96], 320.0);  // R = 20 mm
  EXPECT_EQ(QZ(SetCaliPara)(block.data()), 0u);
  EXPECT_EQ(ConfigFile("CaliPara.cl"), std::string(block.begin(), block.end()));
  EXPECT_EQ(Sent(2), (std::vector<Frame>{{2, 13421772u, 13421772u}}));  // 65536 / 40 x 8192
  EXPECT_EQ(gridel_count_(GRIDEL_ENTRY_CALI), 2u * 65 * 65);
  EXPECT_EQ(QZ(GetBoxRange)(&range), 0u);
  EXPECT_EQ(range, 40.0);
  EXPECT_TRUE(lib->Boxes().empty());
  EXPECT_EQ(State().task_id, 0u);  // the task was released
  // The old method's export refuses with its box.
  EXPECT_EQ(QZ(SetCaliParaFile)(0), 2u);
  EXPECT_EQ(lib->Boxes().back(), "topmost ok: The current system does not support the old Box method");
}

TEST_F(CaliHost, OldMethodBuildsTablesFromTheConfiguredBoxFile) {
  Open(70, "[Calibration]\nKVX1000_NO0_File=lens.box\n");
  lib->WriteConfig("lens.box", qztest::PlainBoxFile());
  EXPECT_EQ(QZ(SetCaliParaFile)(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty());
  // The card's flash holds each dumped table as written (version 70: serial flash, tables at 0 and
  // 0x50000), with 0xA5 in the last byte of the 130 pages.
  for (int t = 0; t < 2; ++t) {
    std::string dump;
    ASSERT_TRUE(plat::ReadWholeFile(lib->LibDir() + (t ? "BoxR.xls" : "Box.xls"), dump));
    std::vector<uint8_t> flash(130 * 2048);
    ASSERT_EQ(cardsim_flash_read_(CARDSIM_FLASH_SPI, t ? 0x50000u : 0u, flash.data(), uint32_t(flash.size())), 0u);
    EXPECT_TRUE(dump == std::string(flash.begin(), flash.begin() + 264196)) << t;  // the whole 264196-byte dump
    EXPECT_EQ(flash.back(), 0xA5) << t;
  }
  // Both tables are built when the settings are loaded and again for the upload.
  EXPECT_EQ(corrix_count_(CORRIX_ENTRY_CREATE), 1u);
  EXPECT_EQ(corrix_count_(CORRIX_ENTRY_DO2DCALI), 4u * 257 * 257);
  EXPECT_TRUE(Sent(2).empty());  // no scale word on the old method
  const std::vector<uint8_t> block = DefaultBoxBlock();
  EXPECT_EQ(QZ(SetCaliPara)(block.data()), 2u);
  EXPECT_EQ(lib->Boxes().back(), "topmost ok: The current system does not support the new Box method");
}

class CaliHostWithoutModules : public CaliHost {
 protected:
  void SetUp() override { withCaliModules = false; }
  // Each method's export, with the card version that selects it.
  void ExpectNothingSent(uint32_t version) {
    Open(version, "[Calibration]\nKVX1000_NO0_File=lens.box\n");
    lib->WriteConfig("lens.box", qztest::PlainBoxFile());
    EXPECT_EQ(lib->Boxes(), (std::vector<std::string>{"topmost ok: Failed to initialize Gridel.dll!  r  n",
                                                      "topmost ok: Failed to initialize Corrix. DLL!  r  n"}));
    const std::vector<uint8_t> block = DefaultBoxBlock();
    EXPECT_EQ(version >= 80 ? QZ(SetCaliPara)(block.data()) : QZ(SetCaliParaFile)(0), 11u);
    EXPECT_EQ(lib->Boxes().back(), kUnsupported);
    EXPECT_TRUE(HasLine(ErrorLog(), version >= 80 ? "Gridel.dll is not loaded" : "Corrix.dll is not loaded"));
  }
};

TEST_F(CaliHostWithoutModules, NewMethodSendsNoTable) { ExpectNothingSent(85); }
TEST_F(CaliHostWithoutModules, OldMethodSendsNoTable) { ExpectNothingSent(70); }

}  // namespace
