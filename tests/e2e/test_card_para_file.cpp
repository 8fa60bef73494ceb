// QZ_SetCardParaFile against the simulated card: the uploads, refused commits and compatibility checks.

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "platform/files.h"
#include "support/trace.h"

namespace {

using qztest::CardHost;
using qztest::kParaKey;
using Packet = std::tuple<uint32_t, uint32_t, uint32_t>;

// Packets of the example configuration's list on the card (22 of the card link, then 7 of the fly
// parameters; every packet by its keys: the unit tests): the galvanometer word with 10 ms allowed and
// move velocity 10, the run start threshold (0.999 x 15 x 10 / 100 x 16), the fly scale (65536 /
// (20 x 5000) x 2^24 codes per pulse along X), the external encoder (10 µs x 48), input 15 off.
const std::vector<std::pair<size_t, Packet>> kExamplePackets = {
    {0, {1, 0x3E802C0, 10}}, {17, {20, 0, 23}}, {22, {97, 10995116, 0}}, {23, {98, 1, 480}}, {28, {82, 240, 0x400000}}};

class CardParaHost : public CardHost {
 protected:
  // The library with our modules and box files; `config` continues [Main].
  void StageWith(const std::string& config) {
    StageFiles(0, "CardVertion=6\n" + config);
    AddCaliFiles();
    Load(true);
  }
  std::vector<Packet> CardList() {
    std::vector<Packet> out;
    for (uint32_t i = 0; i < cardsim_para_count_(); ++i) {
      cardsim_para_packet p{};
      cardsim_para_get_(i, &p);
      out.emplace_back(p.command, p.p1, p.p2);
    }
    return out;
  }
  std::vector<uint32_t> Commits() {
    std::vector<uint32_t> out;
    for (const Frame& f : Sent(83))
      if (std::get<1>(f) == 4) out.push_back(std::get<2>(f));
    return out;
  }
  // A job starts and ends: the parameters are accepted.
  void ExpectJobRuns() {
    ASSERT_EQ(0u, MarkStart(0, 0, 0));
    EXPECT_EQ(0u, MarkEnd(0));
  }
  void ExpectJobRefused() {
    const size_t boxes = lib->Boxes().size();
    EXPECT_EQ(2u, MarkStart(0, 0, 0));
    ASSERT_EQ(boxes + 1, lib->Boxes().size());
    EXPECT_EQ("topmost ok: OnLine Marking... fail,for system not initialized", lib->Boxes().back());
  }
};

TEST_F(CardParaHost, TheExampleConfigurationReachesTheCard) {
  std::string example;
  ASSERT_TRUE(plat::ReadWholeFile(qztest::NativePath(QZ_SOURCE_DIR "/examples/ini/QZMarkPara.cfg"), example));
  StageFiles(0);
  lib->WriteConfig("QZMarkPara.cfg", example);
  AddCaliFiles();
  Load(true);
  EXPECT_EQ(1u, QZ(SetCardParaFile)(0));  // no card yet
  ASSERT_EQ(0u, InitCard());
  cardsim_log_clear_();
  ASSERT_EQ(0u, QZ(SetCardParaFile)(0));
  EXPECT_EQ(std::vector<std::string>{}, lib->Boxes());
  const std::vector<Packet> list = CardList();
  ASSERT_EQ(29u, list.size());
  for (const auto& [i, packet] : kExamplePackets) EXPECT_EQ(packet, list[i]) << i;
  // The blank card's bad-block table, the correction tables, the parameter page, the second block.
  EXPECT_EQ((std::vector<uint32_t>{0xF00000FF, 0x10000002, 0x20000004, 0x30000008}), Commits());
  // What the card applied: the fly packet's flag and its run start threshold.
  uint32_t value = 0, count = 0;
  cardsim_get_flag_(0x400000, &value, &count);
  EXPECT_EQ(std::make_pair(240u, 1u), std::make_pair(value, count));
  cardsim_fifo fifo{};
  cardsim_get_fifo_(&fifo);
  EXPECT_EQ(23u * 65536u, fifo.start_threshold);
  // The second block is the parameter job's file (whole pages), on this card's serial flash.
  std::string job, stored(4096, '\0');
  ASSERT_TRUE(plat::ReadWholeFile(lib->LibDir() + "OffLineFile.tmp", job));
  ASSERT_EQ(2048u, job.size());
  ASSERT_EQ(0u, cardsim_flash_read_(CARDSIM_FLASH_SPI, 0x150000, reinterpret_cast<uint8_t*>(stored.data()), 4096));
  EXPECT_EQ(job + std::string(2048, '\xFF'), stored);
  ExpectJobRuns();
  // The same parameters again: compared, nothing written; the card is told to take them again.
  const uint32_t writes = FlashWrites();
  cardsim_log_clear_();
  ASSERT_EQ(0u, QZ(SetCardParaFile)(0));
  EXPECT_EQ(writes, FlashWrites());
  EXPECT_EQ((std::vector<uint32_t>{0x20000004, 0x30000008}), Commits());
  EXPECT_EQ(list, CardList());
  EXPECT_EQ(0u, CloseCard());
}

TEST_F(CardParaHost, RefusedCommitsAndChecksLeaveTheParametersNotAccepted) {
  constexpr uint32_t kOssOk = 1u << 28;
  constexpr uint32_t kEBus = 1u << 26;
  // The OSS status answer of version o (command 329); the OSS version answer (command 334).
  auto oss = [](uint32_t o, uint32_t flags) { return kOssOk | flags | (o << 20); };
  // config: [Main] of a configuration for this library (more sections may follow); version: the card's; features:
  // command 81 r1, minimum optical-switch version << 16 | minimum library; fw0, fw1: the USB firmware bytes; box
  // nullptr: accepted; uploads: accepted with the parameters uploaded.
  struct Case { const char* name; std::string config; uint32_t version = 85, features = 0x3000;
                uint8_t fw0 = 1, fw1 = 0; uint32_t ossStatus = 0, ossVersion = 0; bool upgradeMode = false;
                const char* box; bool uploads = true; };
  const Case cases[] = {
      {"configuration version", "CardVertion=5\n", 85, 0x3000, 1, 0, 0, 0, false, "配置文件不是V6版本，请重新打补丁"},
      {"upgrade mode", "", 85, 0x3000, 1, 0, 0, 0, true, "板卡处于升级模式，无法打开"},
      {"USB firmware", "", 85, 0x3000, 0x2F, 0xF8, 0, 0, false, "板卡USB固件版本太旧，请联系供应商换卡"},
      {"minimum library", "", 85, 0x3455, 1, 0, 0, 0, false,
       "库版本 (3454) 过低，不兼容当前KVX1000卡版本\\r\\n请下载最新库 ( 版本 ≥ 3455 )"},
      {"minimum library met", "", 85, 0x3454, 1, 0, 0, 0, false, nullptr},
      {"fiber card", "[LASER]\nLASER_TYPE=2\n", 0x34, 0, 1, 0, 0, 0, false,
       "Fiber卡版本过低，不兼容，请使用旧补丁，或升级板卡！"},
      {"OSS version 9", "[LASER]\nOSS_TYPE=1\n", 85, 0x3000, 1, 0, oss(9, 0), 0, false,
       "该分光卡版本09存在设计错误，请联系供应商升级"},
      {"OSS without a valid status", "[LASER]\nOSS_TYPE=1\n", 85, 0x3000, 1, 0, 9u << 20, 0, false, nullptr},
      {"OSS on eBus", "[LASER]\nOSS_TYPE=2\n", 85, 0x3000, 1, 0, oss(12, kEBus), 0x3000, false,
       "分光卡配置为YLS(eBus)，软件未配置为YLS或总线，请确认使用"},
      {"OSS not on eBus", "[LASER]\nOSS_TYPE=1\nLASER_TYPE=5\n", 85, 0x3000, 1, 0, oss(12, 0), 0x3000, false,
       "分光卡未配置为YLS(eBus)，软件配置为YLS或总线，请确认使用"},
      {"OSS older than the card asks", "[LASER]\nOSS_TYPE=1\n", 85, 0xC3000, 1, 0, oss(11, 0), 0, false,
       "OSS卡版本 (b) 过低，不兼容当前KVX1000卡版本（55），请升级OSS卡！"},
      {"OSS minimum library", "[LASER]\nOSS_TYPE=1\n", 85, 0x3000, 1, 0, oss(12, 0), 0x3455, false,
       "库版本 (3454) 过低，不兼容当前OSS卡版本\\r\\n请下载最新库 ( 版本 ≥ 3455 )"},
      {"OSS minimum card", "[LASER]\nOSS_TYPE=1\n", 85, 0x3000, 1, 0, oss(12, 0), 0x563000, false,
       "KVX1000卡版本过低，不兼容当前OSS卡版本，请升级KVX1000卡！"},
      {"OSS version 10", "[LASER]\nOSS_TYPE=1\n", 85, 0xA3000, 1, 0, oss(10, 0), 0, false, nullptr},
      {"encoder range", "[FLY]\nnEncRange=9\n", 85, 0x3000, 1, 0, 0, 0, false,
       "[FLY] nEncRange=9 is below 10: the fly parameters are not taken"},
      {"without the upload", "bUpdateParaInCardWhenOpen=0\n", 85, 0x3000, 1, 0, 0, 0, false, nullptr, false},
  };
  StageWith("");
  // A commit the card does not take: 26 and a box.
  ASSERT_EQ(0u, InitCard());
  ASSERT_EQ(0u, QZ(SetCardParaFile)(0));  // the blank card's bad-block table is written and committed
  for (uint32_t area : {4u, 5u}) {
    QZ_TRACE(area);
    cardsim_flash_commit_fail_(1u << area, 1);
    const size_t boxes = lib->Boxes().size();
    EXPECT_EQ(26u, QZ(SetCardParaFile)(0));
    ASSERT_EQ(boxes + 1, lib->Boxes().size());
    EXPECT_EQ("topmost ok: Sending the buffered data failed.", lib->Boxes().back());
    ExpectJobRefused();
  }
  ASSERT_EQ(0u, QZ(SetCardParaFile)(0));
  ExpectJobRuns();
  ASSERT_EQ(0u, CloseCard());
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    lib->WriteConfig("QZMarkPara.cfg", "[OTHER]\nlanguageFile=QZ_en.txt\n[Main]\nCardType=0\n" +
                                           (c.config.rfind("CardVertion", 0) == 0 ? "" : std::string("CardVertion=6\n")) +
                                           c.config);
    cardsim_reset_();
    cardsim_set_card_version_(c.version);
    ASSERT_EQ(0u, InitCard());
    uint32_t word = 0;
    ASSERT_EQ(0u, GetHdVer(&word));
    cardsim_set_hw_words_(c.upgradeMode ? (word | 0x02100000) : word, c.features, 0, 0);
    cardsim_set_usb_firmware_(c.fw0, c.fw1);
    cardsim_set_answer_(329, 0, 0, 0, c.ossStatus);
    cardsim_set_answer_(334, 0, 0, 0, c.ossVersion);
    cardsim_log_clear_();
    const size_t boxes = lib->Boxes().size();
    EXPECT_EQ(0u, QZ(SetCardParaFile)(0));
    if (c.box) {
      ASSERT_EQ(boxes + 1, lib->Boxes().size());
      EXPECT_EQ(std::string("topmost ok: ") + c.box, lib->Boxes().back());
      EXPECT_TRUE(Commits().empty());
      ExpectJobRefused();
      // The host may accept the parameters without an upload.
      ASSERT_EQ(0u, SetFlag(kParaKey, 0));
    } else {
      EXPECT_EQ(boxes, lib->Boxes().size());
      EXPECT_EQ(c.uploads, !Commits().empty());
    }
    ExpectJobRuns();
    ASSERT_EQ(0u, CloseCard());
  }
}

}  // namespace
