// Child host processes: one that dies in a job (the card's state kept in CARDSIM_STATE) and one that
// frees the library while its threads run.
#include <chrono>
#include <cstdlib>

#include "e2e/card_host.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/process.h"

namespace {

using qztest::HasLine;
using qztest::CardHost;
using qztest::kParaKey;

const char* const kChildFolder = "QZ_CRASH_CHILD_FOLDER";

// A symbol of a module loaded by a child, with the type of the function of the same name.
#define CHILD_SYMBOL(module, fn) reinterpret_cast<decltype(&fn)>(plat::FindSymbol(module, #fn))

// The child's library from the parent's folder with its card opened and the parameters accepted;
// null when any step failed.
plat::ModuleHandle OpenChildCard(const std::string& folder) {
  plat::ModuleHandle lib = plat::LoadModule(folder + qztest::LibraryFileName());
  if (!lib) return nullptr;
  auto initCard = CHILD_SYMBOL(lib, QZ_InitCard);
  auto setFlag = CHILD_SYMBOL(lib, QZ_SetFlag);
  return initCard && setFlag && initCard() == 0 && setFlag(kParaKey, 0) == 0 ? lib : nullptr;
}

// The child's part. Without a state file it frees the running library and exits with code 7 when
// that returned within 5 s; with one it starts a job the card runs and dies closing nothing.
TEST(CrashChild, FreeTheRunningLibraryOrDieInAJob) {
  const std::string folder = plat::GetEnvVar(kChildFolder);
  if (folder.empty()) GTEST_SKIP() << "runs only as the child of a test of this file";
  plat::ModuleHandle lib = OpenChildCard(folder);
  ASSERT_NE(lib, nullptr);
  if (plat::GetEnvVar("CARDSIM_STATE").empty()) {
    auto apply = CHILD_SYMBOL(lib, QZ_SetCardParaFile);
    ASSERT_TRUE(apply);
    ASSERT_EQ(apply(0), 0u);
    const auto start = std::chrono::steady_clock::now();
    // However often the host frees it (more often than it loaded it, too), the library stays.
    for (int i = 0; i < 1000; ++i) plat::FreeModule(lib);
    std::exit(std::chrono::steady_clock::now() - start < std::chrono::seconds(5) ? 7 : 8);
  }
  auto markStart = CHILD_SYMBOL(lib, QZ_MarkStart);
  plat::ModuleHandle sim = plat::LoadModule(folder + plat::CompanionFileName("Portlane"));
  auto setRunState = CHILD_SYMBOL(sim, cardsim_set_run_state);
  ASSERT_TRUE(markStart && setRunState);
  ASSERT_EQ(markStart(0, 0, 0), 0u);  // the card holds task 1
  setRunState(1, 1, 0);               // and runs the job's stream
  std::_Exit(7);                      // the host dies here: nothing is closed or released
}

// A child host frees the library while its threads run, without QZ_CloseCard: the free and the process
// end each within 5 s (no wait under the loader lock). Another dies in a job; a new host opens the card.
TEST_F(CardHost, ChildHostsThatFreeTheLibraryOrDieInAJob) {
  StageFiles(0);
  AddCaliFiles();
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", lib->Root() + "child_boxes.txt");
  plat::SetEnvVar(kChildFolder, lib->LibDir());
  const auto start = std::chrono::steady_clock::now();
  int code = qztest::RunProgram({plat::HostProgramPath(), "--gtest_filter=CrashChild.*"});
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code, 7);
  EXPECT_LT(elapsed, std::chrono::seconds(10));  // start, open and apply, then at most 5 s to end
  const std::string state = lib->Root() + "card.state";
  plat::SetEnvVar("CARDSIM_STATE", state);
  code = qztest::RunProgram({plat::HostProgramPath(), "--gtest_filter=CrashChild.*"});
  plat::SetEnvVar(kChildFolder, "");
  ASSERT_EQ(code, 7) << "the child did not reach its end";
  std::string saved;
  ASSERT_TRUE(plat::ReadWholeFile(state, saved));
  // A new host: the card still holds the dead host's job (so it is not reset).
  Load(false);
  ASSERT_EQ(InitCard(), 0u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The board is in a running state and has been aborted"});
  EXPECT_TRUE(HasLine(ErrorLog(), "CAdmin::SynSystemWithCard_:Card event Marking"));
  // The library works as usual afterwards.
  ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  EXPECT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(CloseCard(), 0u);
  plat::SetEnvVar("CARDSIM_STATE", "");
}

}  // namespace
