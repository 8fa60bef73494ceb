// The flash and offline exports against the simulated card: pages, the offline head, downloads, documents.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "platform/files.h"
#include "support/trace.h"

namespace {

using qztest::kParaKey;

constexpr uint32_t kNand = CARDSIM_FLASH_NAND, kSpi = CARDSIM_FLASH_SPI;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed * 7 + i * 5 + (i >> 11));
  return v;
}

class FlashHost : public qztest::CardHost {
 protected:
  // Card `version` of type `type` opened and its parameters accepted; `config` continues [Main].
  void Open(uint32_t version, int type = 0, const std::string& config = "") {
    OpenWithParaFile(type, "CardVertion=6\n" + config, version);
    if (HasFatalFailure()) return;
    cardsim_log_clear_();
  }
  std::vector<uint8_t> Peek(uint32_t chip, uint32_t address, uint32_t length = 2048) {
    std::vector<uint8_t> p(length);
    EXPECT_EQ(0u, cardsim_flash_read_(chip, address, p.data(), length));
    return p;
  }
  std::vector<uint8_t> NandPage(uint32_t page) { return Peek(kNand, page * 2048); }
  // A file beside the library.
  std::string File(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = lib->LibDir() + name;
    EXPECT_TRUE(plat::WriteWholeFile(path, std::string(bytes.begin(), bytes.end())));
    return path;
  }
  // Since the last clear only the task's claim and release (status, 82 with mask 0x8000): no flash work.
  bool TaskFlagsOnly() {
    const auto sent = Sent();
    return std::count(sent.begin(), sent.end(), Frame{82, 0, 0x8000}) == 1 &&
           std::all_of(sent.begin(), sent.end(), [](const Frame& f) {
             return std::get<0>(f) == 85 || (std::get<0>(f) == 82 && std::get<2>(f) == 0x8000);
           });
  }
};

// A head table of the host's own version with states 1, names, marks and ids of the host's own.
std::vector<uint8_t> HostHead() {
  std::vector<uint8_t> h(535, 0);
  PutU16(h.data(), 1);
  for (int i = 0; i < 16; ++i) {
    uint8_t* e = h.data() + 7 + 33 * i;
    e[0] = 1;
    e[1] = static_cast<uint8_t>('A' + i);
    PutU32(e + 21, 0x1234);
    PutU16(e + 29, static_cast<uint16_t>(0x100 + i));
  }
  return h;
}

TEST_F(FlashHost, TheHeadIsWrittenWithItsMarksAndReadBack) {
  Open(85, 1, "wob=1\n");  // PCIe: the states are not kept
  std::vector<uint8_t> head = HostHead();
  ASSERT_EQ(QZ(SetOffFileHead)(head.data()), 0u);
  for (int i = 0; i < 16; ++i) {
    const uint8_t* e = head.data() + 7 + 33 * i;
    EXPECT_EQ(std::tuple(e[0], GetU32(e + 21), GetU16(e + 29)), std::tuple(0xFF, 0x80008000u, 0x100 + i)) << i;
  }
  const auto sent = Sent();
  const auto notice = std::find(sent.begin(), sent.end(), Frame{82, 2, 0x10000});
  const auto commit = std::find(sent.begin(), sent.end(), Frame{83, 4, 1});
  EXPECT_TRUE(notice < commit && commit != sent.end());
  EXPECT_EQ(std::count(sent.begin(), notice, Frame{83, 2, 0xE1100000}), 0);
  EXPECT_EQ(std::count(notice, commit, Frame{83, 2, 0xE1100000}), 1);
  std::vector<uint8_t> back(535, 0xEE);
  uint8_t* p = back.data();
  ASSERT_EQ(QZ(GetOffFileHead)(&p), 0u);
  EXPECT_EQ(back, head);
  // The next parameter upload sets the head's timing value (wob: 3000 by default) and keeps the rest.
  ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
  PutU32(head.data() + 3, 3000);
  ASSERT_EQ(QZ(GetOffFileHead)(&p), 0u);
  EXPECT_EQ(back, head);
  // A head page that cannot be read: 24, with the text of a read failure.
  cardsim_flash_fault_(kSpi, CARDSIM_FLASH_FAULT_READ, 0x110000, 3);
  EXPECT_EQ(QZ(GetOffFileHead)(&p), 24u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The card's flash page could not be read."});
  // The card keeps the head area out of effect after its commit.
  cardsim_flash_commit_fail_(1u << 1, 1);
  EXPECT_EQ(QZ(SetOffFileHead)(head.data()), 26u);
}

TEST_F(FlashHost, DownloadsIntoTheSlots) {
  Open(85);
  // Slot 16 takes 73728 KB; a byte more is refused before any page is touched.
  {
    const std::string big = File("big.bin", {});
    std::filesystem::resize_file(big, 73728ull * 1024 + 1);
    const uint32_t writes = FlashWrites(), reads = Flash().reads[kNand];
    EXPECT_EQ(QZ(DownLoadOffFile)(big.c_str(), 16), 13u);
    EXPECT_EQ(FlashWrites(), writes);
    EXPECT_EQ(Flash().reads[kNand], reads);
    std::filesystem::remove(big);
  }
  // Slot 99: one page at most, with 0xA5 in its last byte on the serial flash, then its commit.
  EXPECT_EQ(QZ(DownLoadOffFile)(File("head.bin", Pattern(2049, 2)).c_str(), 99), 13u);
  cardsim_log_clear_();
  const auto one = Pattern(2048, 3);
  ASSERT_EQ(QZ(DownLoadOffFile)(File("head.bin", one).c_str(), 99), 0u);
  auto stored = one;
  stored[2047] = 0xA5;
  EXPECT_EQ(Peek(kSpi, 0x160000), stored);
  const auto sent = Sent();
  EXPECT_NE(std::find(sent.begin(), sent.end(), Frame{82, 64, 0x10000}), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), Frame{83, 4, 0x30000008}), sent.end());
  // Slot 17: nothing but the task's flags; a file that cannot be opened: 9 and nothing sent.
  cardsim_log_clear_();
  EXPECT_EQ(QZ(DownLoadOffFile)(File("job.bin", one).c_str(), 17), 0u);
  EXPECT_TRUE(TaskFlagsOnly());
  cardsim_log_clear_();
  EXPECT_EQ(QZ(DownLoadOffFile)((lib->LibDir() + "missing.bin").c_str(), 3), 9u);
  EXPECT_TRUE(TaskFlagsOnly());
  EXPECT_EQ(lib->Boxes().back(), "topmost ok: The offline file could not be opened.");
  EXPECT_EQ(QZ(DownLoadOffFile)(nullptr, 3), 2u);
  // A long download holds the library: a second thread is refused once the first page is programmed.
  // Whole pages are written: the last 904 bytes are dropped.
  const auto longJob = Pattern(100 * 2048 + 904, 9);
  const std::string path = File("long.bin", longJob);
  cardsim_set_flash_busy_us_(1000);
  const uint32_t programs = Flash().programs[kNand];
  std::atomic<uint32_t> result{0xFFFFFFFF};
  std::thread download([&] { result = QZ(DownLoadOffFile)(path.c_str(), 1); });
  cardsim_flash f{};
  do {
    std::this_thread::yield();
    cardsim_get_flash_(&f);
  } while (f.programs[kNand] == programs && result == 0xFFFFFFFFu);
  uint8_t out[10];
  EXPECT_EQ(QZ(FlashRead)(out, 10), 2u);
  download.join();
  EXPECT_EQ(result.load(), 0u);
  EXPECT_EQ(NandPage((1 << 12) + 99), std::vector<uint8_t>(longJob.end() - 2048 - 904, longJob.end() - 904));
  EXPECT_EQ(NandPage((1 << 12) + 100), std::vector<uint8_t>(2048, 0xFF));
}

TEST_F(FlashHost, SlotSixteenIsCommittedAndTheNandIsChecked) {
  struct Case { uint32_t version; int check; std::vector<uint8_t> id; uint32_t result; bool idRead; const char* box; };
  const Case cases[] = {
      {69, 2, {0x51, 0xEC, 0xDA}, 0, true, nullptr},
      {69, 2, {0x51, 0xEC, 0xDB, 0x10}, 28, true, "topmost ok: flash id 异常 10dbec51"},
      {69, 0, {0x51, 0xEC, 0xDA}, 28, false, nullptr},
      {69, 1, {0x51, 0xEC, 0xDB}, 0, false, nullptr},  // a USB card is taken as it is
      {68, 2, {0x51, 0xEC, 0xDB}, 0, false, nullptr},  // an older card has no check
  };
  for (const Case& c : cases) {
    QZ_TRACE(testing::Message() << c.version << " " << c.check << " " << std::hex << c.id[2]);
    Open(c.version, 0, "nCheckFlashType=" + std::to_string(c.check) + "\n");
    cardsim_nand_set_id_(c.id.data(), static_cast<uint32_t>(c.id.size()));
    const auto job = Pattern(4096, 4);
    EXPECT_EQ(QZ(DownLoadOffFile)(File("job.bin", job).c_str(), 16), c.result);
    const auto sent = Sent();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Frame{83, 2, 0x60000000}), c.idRead ? 1 : 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Frame{83, 4, 0x60000040}), c.result == 0 ? 1 : 0);
    EXPECT_EQ(NandPage(16 << 12), c.result == 0 ? std::vector<uint8_t>(job.begin(), job.begin() + 2048)
                                                : std::vector<uint8_t>(2048, 0xFF));
    std::vector<std::string> want;
    if (c.box) want.push_back(c.box);
    if (c.result) want.push_back("topmost ok: The card has no NAND flash for the download.");
    EXPECT_EQ(lib->Boxes(), want);
  }
}

TEST_F(FlashHost, TheUserPageAndItsRefusalsOnBothMaps) {
  // No card.
  Stage(0);
  uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(QZ(FlashWrite)(ten, 10), 1u);
  lib.reset();
  Open(85);
  ASSERT_EQ(QZ(FlashWrite)(ten, 10), 0u);
  std::vector<uint8_t> page(2048, 0);
  std::copy(ten, ten + 10, page.begin());
  EXPECT_EQ(Peek(kSpi, 0x130000), page);
  // The page's frames lie between the task's two flags.
  const auto sent = Sent();
  const auto flag = [](const Frame& f) { return std::get<0>(f) == 82 && std::get<2>(f) == 0x8000; };
  const auto first = std::find_if(sent.begin(), sent.end(), flag);
  const auto last = std::find_if(sent.rbegin(), sent.rend(), flag).base() - 1;
  ASSERT_TRUE(first < last);
  EXPECT_EQ(std::tuple(*first, *last), std::tuple(Frame{82, 9, 0x8000}, Frame{82, 0, 0x8000}));
  for (auto it = sent.begin(); it != sent.end(); ++it) EXPECT_TRUE(std::get<0>(*it) != 83 || (it > first && it < last));
  uint8_t back[10] = {};
  ASSERT_EQ(QZ(FlashRead)(back, 10), 0u);
  EXPECT_TRUE(std::equal(back, back + 10, ten));
  struct Refusal { const char* what; std::function<uint32_t()> call; bool box; } refusals[] = {
      {"2049", [&] { return QZ(FlashWrite)(page.data(), 2049); }, true},
      {"-1", [&] { return QZ(FlashRead)(page.data(), -1); }, true},
      {"null data", [&] { return QZ(FlashWrite)(nullptr, 5); }, false},
      {"negative page", [&] { return QZ(FlashWriteAddr)(-1, ten, 10); }, true},
      {"past 24 bits", [&] { return QZ(FlashReadAddr)(0x1000000, back, 10); }, true},
      {"null head", [&] { return QZ(GetOffFileHead)(nullptr); }, false},
  };
  for (const Refusal& r : refusals) {
    QZ_TRACE(r.what);
    cardsim_log_clear_();
    const size_t boxes = lib->Boxes().size();
    const uint32_t writes = FlashWrites();
    EXPECT_EQ(r.call(), 2u);
    EXPECT_EQ(lib->Boxes().size() - boxes, r.box ? 1u : 0u);
    EXPECT_EQ(FlashWrites(), writes);
    for (const Frame& f : Sent()) EXPECT_NE(std::get<0>(f), 83u);
  }
  // During a mark job the library is busy.
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(QZ(FlashWrite)(ten, 10), 2u);
  EXPECT_EQ(MarkEnd(0), 0u);
  // On the NAND map an Addr page beyond the chip is refused.
  Open(50);
  cardsim_log_clear_();
  EXPECT_EQ(QZ(FlashWriteAddr)(2048 * 64, ten, 10), 2u);
  EXPECT_TRUE(Sent().empty());
  ASSERT_EQ(QZ(FlashWriteAddr)(2048 * 64 - 1, ten, 10), 0u);
  EXPECT_EQ(NandPage(2048 * 64 - 1)[2], 3);
  // Slot 99 on the NAND map: the page as it is, at the second-block base plus two units.
  const auto one = Pattern(2048, 5);
  ASSERT_EQ(QZ(DownLoadOffFile)(File("head.bin", one).c_str(), 99), 0u);
  EXPECT_EQ(NandPage(0x1D400), one);
}

TEST_F(FlashHost, TheResetWritesTheDefaultsAndNeverAStaleFile) {
  Open(96, 0, "wob=1\n[HARDWARE]\nnWobDocNoStableTmUs=1234\n");
  // Old contents in the slots; an old job in "OffLineFile.tmp".
  const auto old = Pattern(2048, 6);
  for (uint32_t slot : {0u, 5u, 15u}) ASSERT_EQ(0u, cardsim_flash_write_(kNand, ((slot << 12) + 31) * 2048, old.data(), 2048));
  ASSERT_EQ(0u, cardsim_flash_write_(kNand, (5u << 12) * 2048 + 64 * 2048, old.data(), 2048));
  for (bool writable : {true, false}) {
    QZ_TRACE(writable);
    const std::string tmp = lib->LibDir() + "OffLineFile.tmp";
    std::filesystem::remove_all(tmp);
    if (writable) {
      File("OffLineFile.tmp", Pattern(65536, 7));
    } else {
      std::filesystem::create_directory(tmp);  // nothing can be written there, the upload's job fails
    }
    EXPECT_EQ(QZ(ResetCardFlash)(), writable ? 0u : 9u);
    cardsim_off_head h{};
    ASSERT_EQ(cardsim_off_head_get_(kSpi, 0x110000, &h), 0u);
    EXPECT_EQ(h.timing, writable ? 1234u : 5000u);  // the upload's timing with wob
    for (uint32_t slot = 0; slot < 16; ++slot) {
      for (uint32_t p : {0u, 31u}) EXPECT_EQ(NandPage((slot << 12) + p), std::vector<uint8_t>(2048, 0xFF)) << slot;
    }
    EXPECT_EQ(NandPage((5u << 12) + 64), old);  // the block after the one erased
    const auto file = Peek(kSpi, 0x160000);
    const uint32_t words[] = {0x50000000u, 0x57000001u, 0x51100001u, 0x57000001u, 0x50000000u};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(GetU32(file.data() + 4 * i), words[i]) << i;
    EXPECT_EQ(GetU32(file.data() + 2044), 0xA500BD6Cu);
  }
}

// A card lost in flash work opens again restored: no task refused as busy, no area left noticed.
TEST_F(FlashHost, ACardLostInFlashWorkOpensAgainRestored) {
  uint8_t ten[10] = {9};
  std::vector<uint8_t> head = HostHead();
  const struct { uint32_t version; bool atChunk; std::function<uint32_t()> call; } cases[] = {
      {85, false, [&] { return QZ(DownLoadOffFile)(File("job.bin", Pattern(40 * 2048, 8)).c_str(), 1); }},
      {60, true, [&] { return QZ(FlashWrite)(ten, 10); }},
      {85, true, [&] { return QZ(SetOffFileHead)(head.data()); }},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.version);
    Open(c.version);
    if (c.atChunk) {
      cardsim_fault_lose_at_chunk_(1);
    } else {
      cardsim_fault_lose_at_(60);
    }
    EXPECT_EQ(c.call(), 1u);
    InitAndAccept();
    EXPECT_EQ(Flash().areas_out, 0u);
    EXPECT_EQ(MarkStart(0, 0, 0), 0u);
    EXPECT_EQ(MarkEnd(0), 0u);
    EXPECT_EQ(QZ(FlashWrite)(ten, 10), 0u);
  }
}

// A drawing marked online and downloaded: the card's run of the document traces as the online run.
class OffDocHost : public FlashHost {
 protected:
  void Open(uint32_t version) { OpenWithPens(0, "CardVertion=6\n", version, 2, 1000.0); }
  // The drawing in `mode` (0 online, 2 download into "OffLineFile.tmp").
  void Mark(uint32_t mode) {
    ASSERT_EQ(MarkStart(mode, 0, 0), 0u);
    for (int k = 0; k < 20; ++k) {
      const double d = k * 0.4;
      const double sq[] = {-5 + d, -5, 0, 5, -5 + d, 0, 5, 5 - d, 0, -5, 5 - d, 0, -5 + d, -5, 0};
      ASSERT_EQ(QZ(MarkVector)(sq, 5, 1), 0u);
    }
    ASSERT_EQ(MarkEnd(0), 0u);
  }
  void DownloadTo(uint32_t slot) {
    Mark(2);
    ASSERT_EQ(QZ(DownLoadOffFile)((lib->LibDir() + "OffLineFile.tmp").c_str(), static_cast<int32_t>(slot)), 0u);
  }
  static bool Same(const std::vector<cardsim_trace_entry>& a, const std::vector<cardsim_trace_entry>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
             return x.time_us == y.time_us && x.word == y.word;
           });
  }
};

TEST_F(OffDocHost, TheCardRunsTheDocumentAsOnlineForEachLayout) {
  for (uint32_t version : {79u, 85u, 96u}) {
    QZ_TRACE(version);
    Open(version);
    if (HasFatalFailure()) return;
    // A reset card: its default head file opens with the run word of the card's check layout.
    ASSERT_EQ(QZ(ResetCardFlash)(), 0u);
    const auto file = Peek(kSpi, 0x160000);
    EXPECT_EQ(GetU32(file.data()), version == 85 ? 0x5110A55Au : 0x50000000u);
    EXPECT_EQ(GetU32(file.data() + 124), version == 96 ? 0x5A003C4Au : 0u);
    Mark(0);
    const auto online = Trace();
    ASSERT_GT(online.size(), 100u);
    // A program failure in the slot's first block moves it; the card skips the block its table marks.
    cardsim_flash_fault_(kNand, CARDSIM_FLASH_FAULT_PROGRAM, (3 << 12) + 1, 1);
    DownloadTo(3);
    cardsim_log_clear_();
    ASSERT_EQ(QZ(MarkOffDoc)(3), 0u);
    const auto sent = Sent(83);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), (Frame{83, 1, 0x103}));
    EXPECT_TRUE(Same(Trace(), online));
    // Documents from 16 on: the task, no command.
    cardsim_log_clear_();
    EXPECT_EQ(QZ(MarkOffDoc)(16), 0u);
    EXPECT_TRUE(Sent(83).empty());
    // The start input runs it without a host.
    CloseCard();
    cardsim_trace_clear_();
    ASSERT_EQ(cardsim_start_input_(3), 0u);
    EXPECT_TRUE(Same(Trace(), online));
    EXPECT_EQ(cardsim_start_input_(16), 1u);
  }
}

TEST_F(OffDocHost, AFailedCheckRaisesTheOfflineAlarmAndAStopFromASecondThreadEndsARun) {
  Open(96);
  DownloadTo(4);
  // One byte of the second page changed: its block's CRC fails.
  auto page = NandPage((4 << 12) + 1);
  page[10] ^= 0x40;
  ASSERT_EQ(0u, cardsim_flash_write_(kNand, ((4 << 12) + 1) * 2048, page.data(), 2048));
  // The run fails (3) with the alarm's text in the logs; so does an empty slot's.
  for (uint32_t slot : {4u, 6u}) {
    QZ_TRACE(slot);
    EXPECT_EQ(QZ(MarkOffDoc)(slot), 3u);
    const cardsim_state s = State();
    EXPECT_EQ(s.alarm_bits & ((1u << 12) | (1u << 4)), 1u << 12);
    const auto log = ErrorLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) {
                return l.find("QZ_MarkOffDoc:Error reading offline file") != std::string::npos;
              }), slot == 4 ? 1 : 2);
    ASSERT_EQ(QZ(ClearAlarm)(), 0u);
  }
  // A good document, run slowly, stopped from another thread.
  DownloadTo(5);
  cardsim_set_consume_(CARDSIM_CONSUME_PACED);
  cardsim_set_speed_(1);  // the drawing now takes many seconds
  std::atomic<uint32_t> result{0xFFFFFFFF};
  std::thread run([&] { result = QZ(MarkOffDoc)(5); });
  while ((State().run_state & 1) == 0 && result == 0xFFFFFFFFu) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(result.load(), 0xFFFFFFFFu);  // still running
  EXPECT_EQ(QZ(Mark_Stop)(), 0u);
  run.join();
  EXPECT_EQ(result.load(), 0u);
  EXPECT_EQ(Fifo().end_code, 2u);
}

}  // namespace
