// The card parameters in the card's flash against the simulated card, on both flash maps: the
// card-parameter page, the second block, the offline-file head and its timing value, each compared
// before it is written and committed; the upload's steps in their order and its early ends.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "cardlink/card_para.h"
#include "cardlink/portlane.h"
#include "flash/card_para_flash.h"
#include "flash/flash_pages.h"
#include "flash/off_file_head.h"
#include "frame/bytes.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "support/expect_code.h"
#include "support/sim_card.h"
#include "support/trace.h"

namespace {

using qztest::ExpectCode;
using qztest::SimCardTest;
using Cmd = std::tuple<uint32_t, uint32_t, uint32_t>;

constexpr uint32_t kNand = CARDSIM_FLASH_NAND, kSpi = CARDSIM_FLASH_SPI;

FlashPage Pattern(uint8_t seed) {
  FlashPage p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed * 29 + i * 5 + (i >> 7));
  return p;
}

class CardParaFlashTest : public SimCardTest {
 protected:
  // The card of the map as card opening leaves it: version 85 keeps its areas on the serial flash
  // and numbers its commands, version 55 has the NAND and the legacy commands.
  void OpenOn(bool spi) {
    Stage(0);
    cardsim_set_card_version_(spi ? 85 : 55);
    ASSERT_EQ(OpenLink(), 0u);
    g_SystemPara.bJustM25p64 = spi ? 1 : 0;
    g_SystemPara.bCmdWithNum = spi ? 1 : 0;
    g_Link.g_bCmdSeqOn = spi ? 1 : 0;
    g_FlashAreaMap = FlashAreaMapFor(spi);
    chip = spi ? kSpi : kNand;
    uint32_t cursor = 0;
    g_BBT.SkipBad(cursor);  // the table of a blank card is written once, before the cases count
  }
  FlashPage Peek(uint32_t page) {
    FlashPage p{};
    EXPECT_EQ(0u, cardsim_flash_read_(chip, chip == kNand ? page * 2048 : page, p.data(), 2048));
    return p;
  }
  // The page after `page` on the map.
  uint32_t Next(uint32_t page, uint32_t n = 1) const { return chip == kNand ? page + n : page + 0x800 * n; }
  cardsim_flash Flash() {
    cardsim_flash f{};
    cardsim_get_flash_(&f);
    return f;
  }
  uint32_t Writes() {
    const cardsim_flash f = Flash();
    return f.erases[chip] + f.programs[chip];
  }
  std::vector<uint32_t> Commits() {
    std::vector<uint32_t> out;
    for (const auto& f : Frames())
      if (f.kind == CARDSIM_KIND_COMMAND && f.command == 83 && f.p1 == 4) out.push_back(f.p2);
    return out;
  }
  uint32_t Notices() {
    uint32_t n = 0;
    for (const auto& f : Frames()) n += f.kind == CARDSIM_KIND_COMMAND && f.command == 82 && f.p2 == 0x10000;
    return n;
  }
  std::vector<Cmd> CardList() {
    std::vector<Cmd> out;
    for (uint32_t i = 0; i < cardsim_para_count_(); ++i) {
      cardsim_para_packet p{};
      cardsim_para_get_(i, &p);
      out.emplace_back(p.command, p.p1, p.p2);
    }
    return out;
  }
  void WriteJobFile(size_t bytes, uint8_t seed) {
    std::string data;
    for (size_t i = 0; i < bytes; ++i) data += static_cast<char>(Pattern(seed)[i % 2048] ^ (i / 2048));
    ASSERT_TRUE(plat::WriteWholeFile(GetModuleDir() + "OffLineFile.tmp", data));
  }

  uint32_t chip = kSpi;
};

TEST_F(CardParaFlashTest, TheParameterPageIsComparedWrittenAndCommitted) {
  const CmdBatch batch = {CmdPacket(1, 0x3E802C0, 10), CmdPacket(7, 0, 0xE7E5), CmdPacket(82, 1, 0x2000)};
  const std::vector<Cmd> list = {{1, 0x3E802C0, 10}, {7, 0, 0xE7E5}, {82, 1, 0x2000}};
  for (bool spi : {true, false}) {
    QZ_TRACE(spi ? "serial flash" : "NAND");
    OpenOn(spi);
    const uint32_t at = g_FlashAreaMap.nCardParaPage;
    EXPECT_EQ(spi ? 0x120000u : 0x1C200u, at);
    cardsim_log_clear_();
    const uint32_t before = Writes();
    WriteCardParaPage(batch);
    FlashPage page;
    MakeCardParaBlock(batch, page.data());
    EXPECT_EQ(page, Peek(at));
    EXPECT_EQ(before + 2, Writes());  // the erase of its sector or block, the program
    EXPECT_EQ(std::vector<uint32_t>{0x20000004}, Commits());
    EXPECT_EQ(spi ? 1u : 0u, Notices());  // the serial flash notices the area it rewrites
    EXPECT_EQ(list, CardList());

    // The same list again: compared, nothing erased or programmed, committed again.
    cardsim_log_clear_();
    WriteCardParaPage(batch);
    EXPECT_EQ(before + 2, Writes());
    EXPECT_EQ(std::vector<uint32_t>{0x20000004}, Commits());
    EXPECT_EQ(0u, Notices());

    // A commit the card does not take: 26 (only a card with numbered commands says so).
    if (spi) {
      cardsim_flash_commit_fail_(1u << 4, 1);
      ExpectCode(RV_FLUSH_FAIL, 1, [&] { WriteCardParaPage(batch); });
    }
  }
}

TEST_F(CardParaFlashTest, TheSecondBlockIsTheWholePagesOfTheJobFile) {
  for (bool spi : {true, false}) {
    QZ_TRACE(spi ? "serial flash" : "NAND");
    OpenOn(spi);
    const uint32_t at = g_FlashAreaMap.nSecondBlockBase + g_FlashAreaMap.nBlockSize;
    EXPECT_EQ(spi ? 0x150000u : 0x1D200u, at);
    EXPECT_EQ(spi ? 32u : 512u, SecondBlockMaxPages());
    WriteJobFile(5000, 3);  // two pages; the last 904 bytes are not written
    cardsim_log_clear_();
    const uint32_t before = Writes();
    ASSERT_EQ(RV_OK, WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"));
    std::string file;
    ASSERT_TRUE(plat::ReadWholeFile(GetModuleDir() + "OffLineFile.tmp", file));
    for (uint32_t i = 0; i < 2; ++i) {
      const FlashPage p = Peek(Next(at, i));
      EXPECT_EQ(std::string(p.begin(), p.end()), file.substr(2048 * i, 2048)) << i;
    }
    FlashPage blank;
    blank.fill(0xFF);
    EXPECT_EQ(blank, Peek(Next(at, 2)));
    EXPECT_EQ(before + 3, Writes());  // one erase, two programs
    EXPECT_EQ(std::vector<uint32_t>{0x30000008}, Commits());

    cardsim_log_clear_();
    ASSERT_EQ(RV_OK, WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"));
    EXPECT_EQ(before + 3, Writes());
    EXPECT_EQ(std::vector<uint32_t>{0x30000008}, Commits());

    if (spi) {
      cardsim_flash_commit_fail_(1u << 5, 1);
      ExpectCode(RV_FLUSH_FAIL, 1, [&] { WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"); });
    }
  }
  // Files that give no block: nothing written, nothing committed.
  OpenOn(true);
  struct Case { size_t bytes; uint32_t rc; } cases[] = {{2047, RV_NOT_OPEN_OFFLINE_FILE}, {33 * 2048, RV_OFFLINE_FILE_TOO_BIG}};
  for (const auto& c : cases) {
    WriteJobFile(c.bytes, 4);
    cardsim_log_clear_();
    const uint32_t before = Writes();
    EXPECT_EQ(c.rc, WriteSecondParaBlock(GetModuleDir() + "OffLineFile.tmp"));
    EXPECT_EQ(before, Writes());
    EXPECT_TRUE(Commits().empty());
  }
  EXPECT_EQ(RV_NOT_OPEN_OFFLINE_FILE, WriteSecondParaBlock(GetModuleDir() + "missing.tmp"));
  EXPECT_TRUE(Commits().empty());
}

TEST_F(CardParaFlashTest, TheHeadTableLaysOutItsBytes) {
  OffFileHead h = OffFileHead::Default(0x34);
  std::vector<uint8_t> t(535, 0xEE);
  h.Store(t.data());
  EXPECT_EQ((std::vector<uint8_t>{0x02, 0x00, 0x34, 0x88, 0x13, 0x00, 0x00}), std::vector<uint8_t>(t.begin(), t.begin() + 7));
  const std::vector<uint8_t> entry0 = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       0,    0, 0, 0, 0x00, 0x80, 0x00, 0x80, 0, 0, 0, 0, 0x1E, 0x1E, 0x01, 0x00};
  EXPECT_EQ(entry0, std::vector<uint8_t>(t.begin() + 7, t.begin() + 40));
  EXPECT_EQ((std::vector<uint8_t>{0x1C, 0x1E}), std::vector<uint8_t>(t.begin() + 7 + 33 + 29, t.begin() + 7 + 33 + 31));
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x1E, 0x01, 0x00}), std::vector<uint8_t>(t.end() - 4, t.end()));

  h.entries[3].state = 2;
  h.entries[3].name[0] = 'J';
  h.entries[3].reserved = 0x01020304;
  h.timing = 2000;
  h.Store(t.data());
  const OffFileHead back = OffFileHead::Load(t.data());
  std::vector<uint8_t> again(535);
  back.Store(again.data());
  EXPECT_EQ(t, again);

  const FlashPage page = OffHeadPage(h);
  EXPECT_EQ(t, std::vector<uint8_t>(page.begin() + 1488, page.begin() + 2023));
  for (size_t i : {size_t{0}, size_t{1487}, size_t{2023}, size_t{2046}}) EXPECT_EQ(0, page[i]) << i;
  EXPECT_EQ(0xA5, page[2047]);
  OffFileHead parsed;
  EXPECT_TRUE(OffHeadFromPage(page.data(), parsed));
  EXPECT_EQ(2000u, parsed.timing);
  FlashPage bad = page;
  bad[2047] = 0xFF;
  EXPECT_FALSE(OffHeadFromPage(bad.data(), parsed));
  bad = page;
  bad[1488] = 3;  // version 3
  EXPECT_FALSE(OffHeadFromPage(bad.data(), parsed));
}

TEST_F(CardParaFlashTest, TheHeadPageIsWrittenWithEveryEntryMarked) {
  struct Case { bool spi; int32_t checkFlash; bool usb; bool keepStates; } cases[] = {
      {true, 2, true, true}, {true, 0, true, false}, {false, 2, false, false}, {false, 1, true, true},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.spi << " " << c.checkFlash << " " << c.usb);
    OpenOn(c.spi);
    g_SystemPara.nCheckFlashType = c.checkFlash;
    g_SystemPara.CardLinkCfg.bUsbFlashPath = c.usb ? 1 : 0;
    OffFileHead h = OffFileHead::Default(7);
    h.entries[2].state = 3;
    h.entries[2].mark = 0;
    h.entries[9].state = 0;
    cardsim_log_clear_();
    UpdateOffFileHead(h);
    EXPECT_EQ(c.keepStates ? 3 : 0xFF, h.entries[2].state);
    EXPECT_EQ(c.keepStates ? 0 : 0xFF, h.entries[9].state);
    for (const auto& e : h.entries) EXPECT_EQ(0x80008000u, e.mark);
    EXPECT_EQ(OffHeadPage(h), Peek(c.spi ? 0x110000u : 0x1C000u));
    EXPECT_EQ(std::vector<uint32_t>{1}, Commits());
    EXPECT_EQ(1u, Notices());
  }
  OpenOn(true);
  cardsim_flash_commit_fail_(1u << 1, 1);
  OffFileHead h = OffFileHead::Default(7);
  ExpectCode(RV_FLUSH_FAIL, 1, [&] { UpdateOffFileHead(h); });
}

TEST_F(CardParaFlashTest, TheHeadIsRewrittenOnlyForAnotherTimingValue) {
  for (bool spi : {true, false}) {
    QZ_TRACE(spi ? "serial flash" : "NAND");
    OpenOn(spi);
    const uint32_t at = g_FlashAreaMap.nOffFileHeadPage;
    // A blank head page: the default head with the timing value (PID 32768: byte 0).
    ConformOffHeadTiming(3000);
    OffFileHead expected = OffFileHead::Default(0);
    expected.timing = 3000;
    EXPECT_EQ(OffHeadPage(expected), Peek(at));

    cardsim_log_clear_();
    const uint32_t before = Writes();
    ConformOffHeadTiming(3000);
    EXPECT_EQ(before, Writes());
    EXPECT_TRUE(Commits().empty());

    // Another value: the card's table is kept but for the timing value, the marks and the states.
    OffFileHead onCard = expected;
    onCard.entries[0].name[0] = 'A';
    onCard.entries[0].state = 1;
    onCard.pid = 9;
    const FlashPage p = OffHeadPage(onCard);
    ASSERT_EQ(0u, cardsim_flash_write_(chip, spi ? at : at * 2048, p.data(), 2048));
    ConformOffHeadTiming(kOffHeadTimingOss);
    onCard.timing = 2000;
    onCard.entries[0].state = 0xFF;  // nCheckFlashType 0: the states are not kept
    EXPECT_EQ(OffHeadPage(onCard), Peek(at));
    EXPECT_EQ(std::vector<uint32_t>{1}, Commits());
  }
}

TEST_F(CardParaFlashTest, TheUploadRunsItsStepsInOrder) {
  OpenOn(true);
  g_SystemPara.nCheckFlashType = 2;
  std::vector<std::string> steps;
  CardParaUploadSteps s;
  s.sendBoxTables = [&] { steps.push_back("tables " + std::to_string(Commits().size())); };
  s.buildCommands = [&](CmdBatch& b) {
    steps.push_back("commands " + std::to_string(Commits().size()));
    b.emplace_back(5, 6, 7);
  };
  s.runSecondBlockJob = [&]() -> uint32_t {
    steps.push_back("job " + std::to_string(Commits().size()));
    WriteJobFile(2048, 5);
    return 0;
  };
  struct Case { int32_t wob, oss, stableUs; std::vector<uint32_t> commits; uint32_t timing; } cases[] = {
      {0, 0, 3000, {0x20000004, 0x30000008}, 0xFFFFFFFF},
      {1, 0, 3300, {0x20000004, 0x30000008, 1}, 3300},
      {1, 1, 3300, {0x20000004, 0x30000008, 1}, 2000},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.wob << " " << c.oss);
    g_SystemPara.wob = c.wob;
    g_SystemPara.bKvxOSS = c.oss;
    g_SystemPara.nWobDocNoStableTmUs = c.stableUs;
    steps.clear();
    cardsim_log_clear_();
    ASSERT_EQ(RV_OK, FlushCardParaBlocks(s));
    EXPECT_EQ((std::vector<std::string>{"tables 0", "commands 0", "job 1"}), steps);
    EXPECT_EQ(c.commits, Commits());
    EXPECT_EQ((std::vector<Cmd>{{5, 6, 7}}), CardList());
    const FlashPage head = Peek(0x110000);
    EXPECT_EQ(c.timing, GetU32(&head[1491]));
  }
  // A job that fails ends the upload before the second block; so does a job that left no file.
  s.runSecondBlockJob = [] { return uint32_t{RV_MARK_CALLS_OVERLAP}; };
  cardsim_log_clear_();
  EXPECT_EQ(RV_MARK_CALLS_OVERLAP, FlushCardParaBlocks(s));
  EXPECT_EQ(std::vector<uint32_t>{0x20000004}, Commits());
  s.runSecondBlockJob = [] {
    plat::DeleteFilePath(GetModuleDir() + "OffLineFile.tmp");
    return uint32_t{0};
  };
  cardsim_log_clear_();
  EXPECT_EQ(RV_NOT_OPEN_OFFLINE_FILE, FlushCardParaBlocks(s));
  EXPECT_EQ(std::vector<uint32_t>{0x20000004}, Commits());
}

}  // namespace
