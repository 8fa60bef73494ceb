// The state file (CARDSIM_STATE): what a new host process finds on the card after another one died.
// (The job a dead host left: e2e CardHost.HostKilledInAJobThenANewProcessOpensTheCard.)
#include <cstdio>
#include <fstream>
#include <functional>
#include <tuple>

#include "support/trace.h"
#include "cardsim_fixture.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/temp_dir.h"

namespace cardsim_test {
namespace {

class CardsimState : public CardsimTest {
 protected:
  void SetUp() override {
    path_ = dir_.File("card.state");
    plat::SetEnvVar("CARDSIM_STATE", path_);
    CardsimTest::SetUp();
  }
  void TearDown() override { plat::SetEnvVar("CARDSIM_STATE", ""); }

  // The card as a new process finds it: defaults, then the file.
  uint32_t Restart() {
    plat::SetEnvVar("CARDSIM_STATE", "");
    cardsim_reset();
    plat::SetEnvVar("CARDSIM_STATE", path_);
    return cardsim_load_state();
  }

  static uint64_t StatusWords() {
    const cardsim_state s = State();
    return (uint64_t{s.status_r0} << 32) | s.status_r1;
  }
  static uint64_t Flag(uint32_t mask) {
    uint32_t value = 0, count = 0;
    cardsim_get_flag(mask, &value, &count);
    return (uint64_t{value} << 32) | count;
  }
  static uint64_t Answer(uint32_t command, uint32_t p1 = 0, uint32_t p2 = 0) {
    CardModel::Global().OpenDriver(0);
    const Reply r = Exchange(command, p1, p2);
    return r.rc ? ~uint64_t{0} : (uint64_t{r.r0} << 32) | r.r1;
  }

  qztest::TempDir dir_;
  std::string path_;
};

// Each row changes one part of the card without an explicit save: the file follows every change by itself.
TEST_F(CardsimState, EveryKeptFieldComesBackInANewProcess) {
  struct Case {
    const char* name;
    std::function<void()> set;
    std::function<uint64_t()> observe;
    uint64_t expected;
  } cases[] = {
      {"run state, task id, sub-state", [] { cardsim_set_run_state(5, 9, 3); }, StatusWords,
       (uint64_t{5} << 32) | (9u << 21) | (3u << 16) | (1u << 26)},
      {"alarms and laser alarm", [] { cardsim_set_alarms(0x400 | (1u << 21), 17); }, StatusWords,
       (uint64_t{0x400 | (1u << 21) | (1u << 7)} << 32) | (8u << 27) | (1u << 26)},
      {"off-line mode by flag 0x20", [] { Answer(82, 0, 0x20); }, StatusWords, 0},
      {"task id by flag 0x8000 and its count", [] { Answer(82, 4, 0x8000), Answer(82, 12, 0x8000); },
       [] { return Flag(0x8000) ^ (uint64_t{State().task_id} << 8); }, (uint64_t{12} << 32) | 2 | (12u << 8)},
      {"outputs by command 34", [] { Answer(34, 0xF0F, 0x505); }, [] { return uint64_t{State().outputs}; }, 0x505},
      {"inputs", [] { cardsim_set_inputs(0x1234); }, [] { return Answer(33) >> 32; }, 0x1234},
      {"card version", [] { cardsim_set_card_version(0x60); }, [] { return Answer(81); },
       (uint64_t{0x300} << 32) | 0x3000},
      {"end code of a stopped run", [] { Answer(83, 1, 0), Answer(82, 0, 4); },
       [] { return (uint64_t{Fifo().phase} << 32) | (StatusWords() & 0xFFFFFFFF); },
       (uint64_t{CARDSIM_PHASE_ENDED} << 32) | (2u << 8) | (1u << 26)},
      {"a programmed page and a bad block",
       [] {
         Answer(83, 2, 0x20000000);
         CardModel::Global().BufSend(Pattern(7).data(), 2048);
         Answer(83, 2, 0x30000FFF);
         cardsim_nand_set_bad(77, 1);
       },
       [] {
         Page p;
         cardsim_flash_read(CARDSIM_FLASH_NAND, 4095 * 2048, p.data(), 2048);
         return (uint64_t{p == Pattern(7)} << 32) | Flash().bad_blocks;
       },
       (uint64_t{1} << 32) | 1},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.name);
    cardsim_reset();
    EXPECT_NE(c.expected, c.observe()) << "the default already";
    cardsim_reset();
    c.set();
    ASSERT_EQ(0u, Restart());
    EXPECT_EQ(c.expected, c.observe());
    EXPECT_FALSE(plat::FileExists(path_ + ".tmp"));
  }
}

TEST_F(CardsimState, AResetRewritesTheFileWithTheDefaultsAndWithoutTheVariableNothingIsWritten) {
  cardsim_set_run_state(1, 9, 2);
  cardsim_set_inputs(0x55);
  ASSERT_EQ(0u, cardsim_flash_write(CARDSIM_FLASH_SPI, 0x100000, Pattern(8).data(), 2048));
  cardsim_nand_set_bad(77, 1);
  ASSERT_NE(std::string::npos, ReadFile(path_).find("task_id = 9\n"));
  ASSERT_EQ(0u, cardsim_reset());
  ASSERT_NE(std::string::npos, ReadFile(path_).find("task_id = 0\n"));
  ASSERT_EQ(0u, Restart());
  const cardsim_flash f = Flash();
  EXPECT_EQ(std::tuple(0u, 0u, 0u, 0u, 0u), std::tuple(State().task_id, State().inputs, f.pages_held[0],
                                                       f.pages_held[1], f.bad_blocks));
  // Without the variable nothing is written.
  plat::SetEnvVar("CARDSIM_STATE", "");
  ASSERT_EQ(0u, cardsim_reset());
  std::remove(path_.c_str());
  Open(CardType::Usb);
  cardsim_set_run_state(1, 9, 0);
  ASSERT_EQ(0u, Exchange(82, 1, 0x8000).rc);
  cardsim_inject_stale_reply(0x55, 1, 2);
  EXPECT_EQ(1u, cardsim_save_state());
  EXPECT_EQ(0xFFFFFFFFu, cardsim_load_state());
  EXPECT_FALSE(plat::FileExists(path_));
  EXPECT_FALSE(plat::FileExists(path_ + ".tmp"));
  // A folder that does not exist cannot take the file.
  plat::SetEnvVar("CARDSIM_STATE", dir_.File("missing/card.state"));
  EXPECT_EQ(1u, cardsim_save_state());
  plat::SetEnvVar("CARDSIM_STATE", path_);
  EXPECT_EQ(0u, cardsim_save_state());
  EXPECT_TRUE(plat::FileExists(path_));
}

TEST_F(CardsimState, ABadFileIsRefusedWhole) {
  struct Case { const char* text; uint32_t rc, task, inputs; } cases[] = {
      {"task_id = 5\n", 0, 5, 0x77},                        // a key the file lacks keeps its value
      {"[status]\r\ntask_id = 6 ; comment\r\ninputs = 0x10\r\n", 0, 6, 0x10},
      {"task_id = 5\nno_such_key = 1\n", 2, 0, 0x77},
      {"task_id = 32\n", 1, 0, 0x77}, {"phase = 5\n", 1, 0, 0x77}, {"flag_32 = 1, 1\n", 1, 0, 0x77},  // out of range
      {"reply = 1, 2\n", 1, 0, 0x77}, {"unique_id = 01 02 03\n", 1, 0, 0x77}, {"task_id\n", 1, 0, 0x77},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.text);
    std::ofstream(path_, std::ios::binary) << c.text;
    plat::SetEnvVar("CARDSIM_STATE", "");
    cardsim_reset();
    cardsim_set_inputs(0x77);
    plat::SetEnvVar("CARDSIM_STATE", path_);
    EXPECT_EQ(c.rc, cardsim_load_state());
    EXPECT_EQ(std::tuple(c.task, c.inputs), std::tuple(State().task_id, State().inputs));
  }
  std::remove(path_.c_str());
  EXPECT_EQ(0xFFFFFFFFu, cardsim_load_state());
}

}  // namespace
}  // namespace cardsim_test
