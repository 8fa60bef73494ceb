// The card parameters in flash on the simulated card: NAND pages, the offline-file head, the upload's steps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/card_para_flash.h"
#include "flash/flash_pages.h"
#include "flash/off_file_head.h"
#include "frame/bytes.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "support/sim_card.h"
#include "support/trace.h"
#include "test_mark_card_fixture.h"

namespace {

using qztest::Cmd;

class CardParaFlashTest : public qztest::MarkCardTest {
 protected:
  // As opening leaves it: version 85 serial flash and numbered commands, 55 NAND and legacy ones.
  void OpenOn(bool spi) {
    Open(spi ? 85 : 55);
    chip = spi ? CARDSIM_FLASH_SPI : CARDSIM_FLASH_NAND;
    uint32_t cursor = 0;
    g_BBT.SkipBad(cursor);  // a blank card's table is written before anything is counted
  }
  FlashPage Peek(uint32_t page) {
    FlashPage p{};
    EXPECT_EQ(0u, cardsim_flash_read_(chip, chip == CARDSIM_FLASH_NAND ? page * 2048 : page, p.data(), 2048));
    return p;
  }
  uint32_t Writes() { return Flash().erases[chip] + Flash().programs[chip]; }
  std::vector<uint32_t> Commits() {
    std::vector<uint32_t> out;
    for (const Cmd& c : Sent(83))
      if (std::get<1>(c) == 4) out.push_back(std::get<2>(c));
    return out;
  }
  std::string WriteJobFile(size_t bytes) {
    std::string data(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 7 + i / 2048);
    EXPECT_TRUE(plat::WriteWholeFile(GetModuleDir() + "OffLineFile.tmp", data));
    return data;
  }

  uint32_t chip = CARDSIM_FLASH_SPI;
};

TEST_F(CardParaFlashTest, TheSecondBlockTakesWholePagesAndTheUploadRunsItsStepsInOrder) {
  OpenOn(false);
  const std::string job = WriteJobFile(5000);  // two whole pages; the last 904 bytes are dropped
  ASSERT_EQ(RV_OK, WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"));
  for (uint32_t i = 0; i < 3; ++i) {
    const FlashPage p = Peek(0x1D200 + i);
    EXPECT_EQ(i < 2 ? job.substr(2048 * i, 2048) : std::string(2048, '\xFF'), std::string(p.begin(), p.end())) << i;
  }
  // A file over the second block: nothing written, nothing committed.
  EXPECT_EQ(512u, SecondBlockMaxPages());
  OpenOn(true);
  EXPECT_EQ(32u, SecondBlockMaxPages());  // one unit of the serial flash, before slot 99
  WriteJobFile(33 * 2048);
  cardsim_log_clear_();
  EXPECT_EQ(RV_OFFLINE_FILE_TOO_BIG, WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"));
  EXPECT_TRUE(Commits().empty());
  // The upload runs its steps in order; with the optical-switch card the head takes its timing value.
  OpenOn(true);
  std::vector<std::string> steps;
  CardParaUploadSteps s;
  s.sendBoxTables = [&] { steps.push_back("tables " + std::to_string(Commits().size())); };
  s.buildCommands = [&](CmdBatch& b) {
    steps.push_back("commands " + std::to_string(Commits().size()));
    b.emplace_back(5, 6, 7);
  };
  s.runSecondBlockJob = [&]() -> uint32_t {
    steps.push_back("job " + std::to_string(Commits().size()));
    WriteJobFile(2048);
    return 0;
  };
  g_SystemPara.nWobDocNoStableTmUs = 3300;
  g_SystemPara.bKvxOSS = 1;
  cardsim_log_clear_();
  ASSERT_EQ(RV_OK, FlushCardParaBlocks(s));
  EXPECT_EQ((std::vector<std::string>{"tables 0", "commands 0", "job 1"}), steps);
  EXPECT_EQ((std::vector<uint32_t>{0x20000004, 0x30000008, 1}), Commits());
  EXPECT_EQ(2000u, GetU32(&Peek(0x110000)[1491]));
  // A job that fails, or leaves no file, ends the upload before the second block.
  for (uint32_t rc : {uint32_t{RV_MARK_CALLS_OVERLAP}, uint32_t{0}}) {
    s.runSecondBlockJob = [rc] {
      plat::DeleteFilePath(GetModuleDir() + "OffLineFile.tmp");
      return rc;
    };
    cardsim_log_clear_();
    EXPECT_EQ(rc ? rc : RV_NOT_OPEN_OFFLINE_FILE, FlushCardParaBlocks(s));
    EXPECT_EQ(std::vector<uint32_t>{0x20000004}, Commits());
  }
}

TEST_F(CardParaFlashTest, TheHeadByteForByteAndRewrittenForAnotherTimingValueWithItsEntriesMarked) {
  // A USB card that checks its flash keeps the entries' states.
  struct Case { bool spi; int32_t checkFlash; uint8_t usb; uint8_t state; } cases[] = {
      {true, 2, 1, 1}, {true, 0, 1, 0xFF}, {false, 2, 0, 0xFF},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.spi << " " << c.checkFlash << " " << int{c.usb});
    OpenOn(c.spi);
    g_SystemPara.nCheckFlashType = c.checkFlash;
    g_SystemPara.CardLinkCfg.bUsbFlashPath = c.usb;
    const uint32_t at = c.spi ? 0x110000 : 0x1C000;
    // A blank page: the default head (PID 32768: byte 0) with the timing value.
    ConformOffHeadTiming(3000);
    OffFileHead expected = OffFileHead::Default(0);
    expected.timing = 3000;
    EXPECT_EQ(OffHeadPage(expected), Peek(at));
    cardsim_log_clear_();
    const uint32_t writes = Writes();
    ConformOffHeadTiming(3000);
    EXPECT_EQ(writes, Writes());
    // Another value: the card's table stays but for the timing value, the marks and the states.
    OffFileHead onCard = expected;
    onCard.pid = 9;
    onCard.entries[0].state = 1;
    onCard.entries[0].mark = 0;
    ASSERT_EQ(0u, cardsim_flash_write_(chip, c.spi ? at : at * 2048, OffHeadPage(onCard).data(), 2048));
    ConformOffHeadTiming(kOffHeadTimingOss);
    onCard.timing = 2000;
    onCard.entries[0].state = c.state;
    onCard.entries[0].mark = 0x80008000;
    EXPECT_EQ(std::tuple(OffHeadPage(onCard), std::vector<uint32_t>{1}), std::tuple(Peek(at), Commits()));
  }
  // The head page byte for byte.
  OffFileHead h = OffFileHead::Default(0x34);
  h.entries[3].name[0] = 'J';
  h.entries[3].reserved = 0x01020304;
  const FlashPage page = OffHeadPage(h);
  const uint8_t* t = page.data() + 1488;
  EXPECT_EQ((std::vector<uint8_t>{0x02, 0x00, 0x34, 0x88, 0x13, 0x00, 0x00}), std::vector<uint8_t>(t, t + 7));
  std::vector<uint8_t> entry0(33, 0);
  entry0[0] = 0xFF;
  entry0[22] = entry0[24] = 0x80;
  entry0[29] = entry0[30] = 0x1E;
  entry0[31] = 0x01;
  EXPECT_EQ(entry0, std::vector<uint8_t>(t + 7, t + 40));
  EXPECT_EQ((std::vector<uint8_t>{0x1C, 0x1E}), std::vector<uint8_t>(t + 40 + 29, t + 40 + 31));  // entry 1
  EXPECT_EQ((std::vector<uint8_t>{'J', 0x04, 0x03}),
            std::vector<uint8_t>({t[7 + 99 + 1], t[7 + 99 + 25], t[7 + 99 + 26]}));
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x1E, 0x01, 0x00}), std::vector<uint8_t>(t + 531, t + 535));  // entry 15
  for (size_t i : {size_t{0}, size_t{1487}, size_t{2023}, size_t{2046}}) EXPECT_EQ(0, page[i]) << i;
  EXPECT_EQ(0xA5, page[2047]);
  OffFileHead back;
  ASSERT_TRUE(OffHeadFromPage(page.data(), back));
  EXPECT_EQ(page, OffHeadPage(back));
}

}  // namespace
