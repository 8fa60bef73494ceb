// Flash pages and the bad-block table against the simulated card, on the serial-flash and NAND maps.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "support/trace.h"
#include "cardlink/card_operation.h"
#include "cardlink/portlane.h"
#include "flash/flash_pages.h"
#include "flash/off_file_download.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "qzmark.h"
#include "support/faults.h"
#include "support/expect_code.h"
#include "support/sim_card.h"

namespace {

using qztest::ExpectCode;
using qztest::SimCardTest;
using qztest::Cmd;

FlashPage Pattern(uint8_t seed) {
  FlashPage p;
  for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed * 13 + i * 3 + (i >> 9));
  return p;
}

constexpr uint32_t kNand = CARDSIM_FLASH_NAND, kSpi = CARDSIM_FLASH_SPI;
constexpr uint32_t kTable = 0x100000;

class FlashTest : public SimCardTest {
 protected:
  void OpenOn(bool spi, int cardType = 0) {
    Stage(cardType);
    ASSERT_EQ(OpenLink(), 0u);
    g_SystemPara.bJustM25p64 = spi ? 1 : 0;
    g_SystemPara.bCmdWithNum = 1;
    g_FlashAreaMap = FlashAreaMapFor(spi);
  }
  // A NAND page or a serial-flash address as the card holds it.
  FlashPage Peek(uint32_t chip, uint32_t page) {
    FlashPage p{};
    EXPECT_EQ(0u, cardsim_flash_read_(chip, chip == kNand ? page * 2048 : page, p.data(), 2048));
    return p;
  }
  void Poke(uint32_t chip, uint32_t page, const FlashPage& p) {
    ASSERT_EQ(0u, cardsim_flash_write_(chip, chip == kNand ? page * 2048 : page, p.data(), 2048));
  }
  static FlashPage TablePage(const std::vector<uint32_t>& bad) {
    FlashPage p{};
    for (uint32_t b : bad) p[1792 + b / 8] |= static_cast<uint8_t>(1u << (b % 8));
    p[2047] = 0xA5;
    return p;
  }
  std::string BbtTxt() {
    std::string text = "(none)";
    plat::ReadWholeFile(GetModuleDir() + "BBT.txt", text);
    return text;
  }
  // Where the table sends a page.
  static uint32_t Skipped(uint32_t page) {
    g_BBT.SkipBad(page);
    return page;
  }
  // The card's bad-block table loaded (a blank card's table is written first).
  static void LoadTable() { Skipped(0); }
  static std::vector<uint8_t> Pages(uint8_t n) {
    std::vector<uint8_t> data;
    for (uint8_t i = 0; i < n; ++i) {
      const FlashPage page = Pattern(i);
      data.insert(data.end(), page.begin(), page.end());
    }
    return data;
  }
  size_t CountOf(const Cmd& c) {
    const auto cmds = Sent();
    return static_cast<size_t>(std::count(cmds.begin(), cmds.end(), c));
  }
};

TEST_F(FlashTest, PageWrittenReadBackComparedItsWordsOnTheWireAndUpdatesNoticeTheirArea) {
  struct Case { bool spi; int type; uint32_t page; } cases[] = {
      {false, 0, 0x1DA00}, {false, 1, 0x1DA05}, {true, 0, 0x130000}, {true, 1, 0x130800},
  };
  const FlashPage data = Pattern(1);
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << (c.spi ? "serial " : "NAND ") << c.type << std::hex << " " << c.page);
    OpenOn(c.spi, c.type);
    FlashWritePage(c.page, data.data(), 10);
    FlashPage stored{};
    std::copy(data.begin(), data.begin() + 10, stored.begin());
    EXPECT_EQ(stored, Peek(c.spi ? kSpi : kNand, c.page));
    FlashPage back{};
    FlashReadPage(c.page, back.data(), 2048);
    EXPECT_EQ(std::tuple(stored, 0u), std::tuple(back, Flash().protocol_errors));
  }
  // The words of a page write on the wire.
  struct WireCase { bool spi; uint32_t page; std::vector<Cmd> cmds; } wires[] = {
      {false, 5 * 64,
       {{83, 2, 0x10000140}, {85, 0, 0}, {85, 0, 0}, {83, 2, 0x20000000}, {85, 0, 0}, {83, 2, 0x30000140},
        {85, 0, 0}, {85, 0, 0}, {83, 2, 0x40000140}, {85, 0, 0}, {85, 0, 0}, {83, 2, 0x50000000}}},
      {false, 5 * 64 + 1,
       {{83, 2, 0x20000000}, {85, 0, 0}, {83, 2, 0x30000141}, {85, 0, 0}, {85, 0, 0}, {83, 2, 0x40000141},
        {85, 0, 0}, {85, 0, 0}, {83, 2, 0x50000000}}},
      {true, 0x110000,
       {{83, 2, 0xE1100002}, {85, 0, 0}, {83, 2, 0x20000001}, {85, 0, 0}, {83, 2, 0xE1100000}, {85, 0, 0},
        {83, 2, 0xE1100001}, {85, 0, 0}, {85, 0, 0}, {83, 2, 0x50000001}}},
      {true, 0x100800,  // not a sector start: no erase
       {{83, 2, 0x20000001}, {85, 0, 0}, {83, 2, 0xE1008000}, {85, 0, 0}, {83, 2, 0xE1008001}, {85, 0, 0},
        {85, 0, 0}, {83, 2, 0x50000001}}},
  };
  for (const auto& c : wires) {
    OpenOn(c.spi);
    if (!c.spi) LoadTable();
    cardsim_log_clear_();
    const uint64_t chunks = State().bulk_chunks;
    FlashWritePage(c.page, Pattern(2).data(), 2048);
    EXPECT_EQ(c.cmds, Sent()) << std::hex << c.page;
    EXPECT_EQ(chunks + 1, State().bulk_chunks);
    // The bulk-read request: command 83 with the sequence nibble, operation 2, the word; 10 bytes.
    const cardsim_frame last = Frames().back();
    std::vector<uint8_t> bytes(last.bytes, last.bytes + last.length);
    bytes[1] &= 0x0F;  // the sequence nibble
    EXPECT_EQ((std::vector<uint8_t>{0x53, 0, 2, 0, 0, 0, static_cast<uint8_t>(c.spi ? 1 : 0), 0, 0, 0x50}), bytes);
  }
}

// Five pages from the offline head page (block 1792) with the third page failing to program.
TEST_F(FlashTest, AFailingBlockMovesOnTheTableSaysSoAndIsForgottenWhenTheCardCloses) {
  struct Case { std::vector<uint32_t> chipBad; uint32_t lands; std::vector<uint32_t> table; std::string txt; } cases[] = {
      {{}, 1793, {1792}, "1792\r\n"},
      {{1793}, 1794, {1792, 1793}, "1792\r\n1793\r\n"},  // the next block cannot even be erased
  };
  for (const auto& c : cases) {
    OpenOn(false);
    LoadTable();
    cardsim_log_clear_();
    for (uint32_t b : c.chipBad) cardsim_nand_set_bad_(b, 1);
    cardsim_flash_fault_(kNand, CARDSIM_FLASH_FAULT_PROGRAM, 1792 * 64 + 2, 1);
    const std::vector<uint8_t> data = Pages(5);
    EXPECT_EQ(1u, CBrokenBlock::UpdatePages(data.data(), 5, 0x1C000));
    for (uint32_t i = 0; i < 5; ++i) {
      EXPECT_EQ(Pattern(static_cast<uint8_t>(i)), Peek(kNand, c.lands * 64 + i)) << i;
      FlashPage back{};
      EXPECT_TRUE(CBrokenBlock::ReadPage(0x1C000 + i, back.data()));
      EXPECT_EQ(Pattern(static_cast<uint8_t>(i)), back) << i;
    }
    EXPECT_EQ(std::tuple(TablePage(c.table), c.txt), std::tuple(Peek(kSpi, kTable), BbtTxt()));
    EXPECT_EQ(std::pair(c.table.size(), c.table.size()),
              std::pair(CountOf({82, 1, 0x10000}), CountOf({83, 4, 0xF00000FF})));
    // The same pages again: nothing to write.
    cardsim_log_clear_();
    EXPECT_EQ(0u, CBrokenBlock::UpdatePages(data.data(), 5, 0x1C000));
    EXPECT_EQ(0u, CountOf({83, 2, 0x20000000}));
  }
  // A write inside a block goes through the table.
  OpenOn(false);
  Poke(kSpi, kTable, TablePage({1000}));
  FlashWritePage(1000 * 64 + 5, Pattern(9).data(), 2048);
  EXPECT_EQ(Pattern(9), Peek(kNand, 1001 * 64 + 5));
  EXPECT_EQ(1u, Flash().pages_held[kNand]);  // block 1000 untouched
  // The write fails there: the pages before it move with their block.
  for (uint8_t i = 0; i < 5; ++i) Poke(kNand, 1001 * 64 + i, Pattern(i));
  cardsim_flash_fault_(kNand, CARDSIM_FLASH_FAULT_PROGRAM, 1001 * 64 + 5, 1);
  FlashWritePage(1000 * 64 + 5, Pattern(10).data(), 2048);
  for (uint8_t i = 0; i < 5; ++i) EXPECT_EQ(Pattern(i), Peek(kNand, 1002 * 64 + i)) << int(i);
  EXPECT_EQ(Pattern(10), Peek(kNand, 1002 * 64 + 5));
  EXPECT_EQ(TablePage({1000, 1001}), Peek(kSpi, kTable));
}

TEST_F(FlashTest, AReadFailureIsTriedThreeTimesAndACommitThatFailsThrows26WithItsText) {
  // A page that cannot be read has a text of its own; a language file without its key: the built-in text.
  struct Case { bool spi; uint32_t page, failures; const char *language = nullptr, *box = nullptr; } cases[] = {
      {false, 300, 2}, {false, 300, 3, "STRING_WriteReadFlash_not_same=x\n", "无法读取板卡闪存页。"},
      {true, 0x130000, 2}, {true, 0x130000, 3, "STRING_ReadFlash_Fail=Unreadable\n", "Unreadable"},
  };
  for (const auto& c : cases) {
    QZ_TRACE(testing::Message() << c.spi << " " << c.failures);
    OpenOn(c.spi);
    const bool read = c.box == nullptr;
    if (!read) {
      ASSERT_TRUE(plat::WriteWholeFile(CIniCfg("QZ_zh.txt").Path(), std::string("[language]\n") + c.language));
      InitLanguage();
    }
    LoadTable();
    const uint32_t chip = c.spi ? kSpi : kNand;
    Poke(chip, c.page, Pattern(3));
    cardsim_flash_fault_(chip, CARDSIM_FLASH_FAULT_READ, c.page, c.failures);
    const uint32_t reads = Flash().reads[chip];
    const size_t errors = ErrorLines().size();
    std::array<uint8_t, 16> out;
    out.fill(0x77);
    if (read) {
      FlashReadPage(c.page, out.data(), 16);
      EXPECT_TRUE(std::equal(out.begin(), out.end(), Pattern(3).begin()));
    } else {
      ExpectCode(RV_WRITE_READ_FLASH_NOT_SAME, 0, [&] { FlashReadPage(c.page, out.data(), 16); });
      EXPECT_EQ(16, std::count(out.begin(), out.end(), 0));  // zeros, never what a failed read left
      ASSERT_FALSE(Boxes().empty());
      EXPECT_EQ(std::string("topmost ok: ") + c.box, Boxes().back());
    }
    EXPECT_EQ(std::min(c.failures + 1, 3u), Flash().reads[chip] - reads);
    // Each failed read is logged with the status word (page status 0xAA, off-line bit 26), then the failure.
    const auto lines = ErrorLines();
    ASSERT_EQ(c.failures + (read ? 0 : 1), lines.size() - errors);
    EXPECT_NE(std::string::npos, lines[errors + c.failures - 1].find(":Read 67109034"));
    if (!read) {
      // The page buffer holds zeros, never what the failed reads delivered.
      cardsim_flash_fault_(chip, CARDSIM_FLASH_FAULT_READ, c.page, 3);
      FlashPage buffer;
      buffer.fill(0x55);
      EXPECT_FALSE(CBrokenBlock::ReadPage(c.page, buffer.data()));
      EXPECT_EQ(FlashPage{}, buffer);
    }
  }
  // A commit that fails throws 26 with its text.
  struct CommitCase { uint32_t arg; int32_t a, b; uint32_t failAreas; int32_t withNum; bool fails; } commits[] = {
      {0x20000004, 4, -1, 1u << 4, 1, true}, {0x20000004, 4, -1, 0, 1, false},
      {0x20000004, 4, -1, 1u << 4, 0, false},  // a card without numbered commands is not checked
      {0x30000008, 5, 6, 1u << 6, 1, true}, {0x30000008, 5, 6, 1u << 5, 1, true},
      {0x10000002, 2, 3, 1u << 1, 1, false},   // another area
  };
  for (const auto& c : commits) {
    QZ_TRACE(testing::Message() << std::hex << c.arg << " " << c.failAreas << " " << c.withNum);
    OpenOn(true);
    g_SystemPara.bCmdWithNum = c.withNum;
    g_mapErrText[RV_FLUSH_FAIL] = "Sending the buffered data failed.";
    cardsim_flash_commit_fail_(c.failAreas, 1);
    const size_t boxes = Boxes().size();
    if (c.fails) {
      try {
        FlushAndSuccess(c.arg, c.a, c.b);
        ADD_FAILURE() << "no exception";
      } catch (const MyException& e) {
        EXPECT_EQ(RV_FLUSH_FAIL, e.Show());
      }
      ASSERT_EQ(boxes + 1, Boxes().size());
      EXPECT_EQ("topmost ok: Sending the buffered data failed.", Boxes().back());
    } else {
      FlushAndSuccess(c.arg, c.a, c.b);
      EXPECT_NE(std::string::npos, InfoLines().back().find("FlushAndSuccess:数据更新成功"));
      EXPECT_EQ(boxes, Boxes().size());
    }
  }
  // The table's own commit.
  OpenOn(false);
  cardsim_flash_commit_fail_(1u << 0, 1);
  ExpectCode(RV_FLUSH_FAIL, 1, [] { LoadTable(); });
  // The table is forgotten when the card closes; table pages the loader refuses or reads back.
  OpenOn(false);
  Poke(kSpi, kTable, TablePage({7}));
  EXPECT_EQ(8u * 64 + 3, Skipped(7 * 64 + 3));
  EXPECT_EQ("7\r\n2040\r\n2042\r\n2045\r\n2047\r\n", BbtTxt());
  CPortlane::Close();
  // Another card (or this one changed by another host) behind the next open.
  Poke(kSpi, kTable, TablePage({9}));
  ASSERT_EQ(OpenLink(), 0u);
  EXPECT_EQ(7u * 64 + 3, Skipped(7 * 64 + 3));
  EXPECT_EQ(10u * 64, Skipped(9 * 64));
  EXPECT_EQ("9\r\n2040\r\n2042\r\n2045\r\n2047\r\n", BbtTxt());
  // Table pages the loader refuses or reads back.
  FlashPage blank;
  blank.fill(0xFF);
  FlashPage run = TablePage({});
  run[1792 + 10] = 0xFF;
  struct Load { const char* name; FlashPage card; std::vector<std::string> boxes; FlashPage after; std::string txt; };
  const Load loads[] = {
      {"blank serial flash", blank, {}, TablePage({}), ""},
      {"eight bad blocks in a row", run, {"topmost ok: 当前记录中存在连续坏块，可能有异常！已被清理。"}, TablePage({}), ""},
      {"blocks 2040-2047 come from the marker", TablePage({3, 2041, 2046}), {}, TablePage({3, 2041, 2046}),
       "3\r\n2040\r\n2042\r\n2045\r\n2047\r\n"},
  };
  for (const auto& c : loads) {
    QZ_TRACE(c.name);
    OpenOn(false);
    Poke(kSpi, kTable, c.card);
    const size_t boxes = Boxes().size();
    LoadTable();
    const auto all = Boxes();
    EXPECT_EQ(c.boxes, std::vector<std::string>(all.begin() + static_cast<long>(boxes), all.end()));
    EXPECT_EQ(c.after, Peek(kSpi, kTable));
    EXPECT_EQ(c.txt, BbtTxt());
  }
  // Saved and loaded again: the flags of 2040-2047 are not stored.
  g_BBT.MarkBad(2041);
  g_BBT.Save();
  CPortlane::Close();
  ASSERT_EQ(OpenLink(), 0u);
  EXPECT_EQ(2041u * 64, Skipped(2041 * 64));
  // No good block left.
  for (uint32_t page : {2047u * 64, 2048u * 64})
    ExpectCode(RV_WRITE_READ_FLASH_NOT_SAME, 1, [&] { Skipped(page); });
  // A serial-flash update rewrites from the first difference and notices the area.
  struct UpdateCase { uint32_t first; uint32_t notice; } updates[] = {
      {0, 1u << 2}, {0x50000, 1u << 3}, {0x120000, 1u << 4}, {0x150000, 1u << 5}, {0x130000, 0},
  };
  for (const auto& c : updates) {
    OpenOn(true);
    const std::vector<uint8_t> data = Pages(3);
    for (uint8_t i = 0; i < 3; ++i) Poke(kSpi, c.first + 0x800 * i, Pattern(i));
    EXPECT_EQ(0u, CBrokenBlock::UpdatePages(data.data(), 3, c.first));
    EXPECT_EQ(0u, Flash().programs[kSpi]);
    Poke(kSpi, c.first + 0x800, Pattern(7));
    EXPECT_EQ(1u, CBrokenBlock::UpdatePages(data.data(), 3, c.first));
    EXPECT_EQ(3u, Flash().programs[kSpi]) << std::hex << c.first;
    for (uint8_t i = 0; i < 3; ++i) EXPECT_EQ(Pattern(i), Peek(kSpi, c.first + 0x800 * i));
    EXPECT_EQ(c.notice ? 1u : 0u, CountOf({82, c.notice, 0x10000})) << std::hex << c.first;
  }
}

// A refused file, a folder or a device to download, or a refused read-back file: code 9, nothing sent.
TEST_F(FlashTest, FilesThatCannotBeUsedGiveCode9AndAnOperationNeverFinishedLosesTheCard) {
  OpenOn(true);
  const std::string job = GetModuleDir() + "job.bin";
  ASSERT_TRUE(plat::WriteWholeFile(job, std::string(4096, 'x')));
  qztest::FailFileReads(job);
  std::vector<std::string> paths = {job, GetModuleDir()};
#ifndef _WIN32
  paths.push_back("/dev/zero");
#endif
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    cardsim_log_clear_();
    ExpectCode(RV_NOT_OPEN_OFFLINE_FILE, 1, [&] { DownLoadOffFile(path, 2, true); });
    EXPECT_TRUE(Sent().empty());
  }
  qztest::FailFileReads("");
  qztest::FailFileWrites(GetModuleDir() + "OffDocReadBack.tmp");
  uint32_t r0 = 0, r1 = 0;
  EXPECT_EQ(QZ_SendCtrlCmd(0x100, 0, 2, &r0, &r1), RV_NOT_OPEN_OFFLINE_FILE);
  EXPECT_TRUE(Sent().empty());
  qztest::FailFileWrites("");
  // A flash operation the card never finishes is a lost card.
  cardsim_set_flash_busy_(0xFFFFFFFF);
  const FlashPage data = Pattern(1);
  qztest::ExpectLost([&] { FlashWritePage(0x130000, data.data(), 2048); });
}

}  // namespace
