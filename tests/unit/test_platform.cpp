// The platform layer: files, folders, the system mutex, modules, environment, boxes, threads and the clock.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_out.h"
#include "platform/files.h"
#include "platform/ini_profile.h"
#include "platform/module.h"
#include "platform/msgbox.h"
#include "platform/system_mutex.h"
#include "platform/thread.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace {

constexpr bool kCaseSensitiveNames = plat::kPathSep == '/';  // POSIX; Win32's file search ignores case

// A mutex name no other test process uses.
std::string UniqueName(const std::string& tag) {
  return "qztest_" + tag + "_" + std::to_string(plat::ProcessId());
}

TEST(SystemMutex, SecondCreateOfAHeldNameIsToldItExistsAndNamesThatLookAlikeStayApart) {
  const std::string name = UniqueName("card");
  plat::SystemMutex first, second;
  ASSERT_EQ(first.Create(name), plat::SystemMutex::Result::Created);
  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::AlreadyExists);
  EXPECT_EQ(std::tuple(first.IsHeld(), second.IsHeld()), std::tuple(true, false));
  second.Close();  // holds nothing: must not release the first holder's mutex
  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::AlreadyExists);
  first.Close();
  first.Close();
  EXPECT_FALSE(first.IsHeld());
  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::Created);
  // Names that look alike stay apart (on POSIX they become file names).
  const std::string base = UniqueName("n");
  const std::vector<std::string> names = {base + "a_b", base + "a/b", base + "a:b", base + "a b", base + "A_b"};
  std::vector<plat::SystemMutex> held(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(held[i].Create(names[i]), plat::SystemMutex::Result::Created) << names[i];
}

TEST(Files, FindFilesMatchesWildcardsFolderTreesAndWholeFiles) {
  qztest::TempDir dir;
  for (const char* f : {"a.ini", "b.INI", "ab.txt", "abc.txt", "readme", "x.ini.bak"})
    ASSERT_TRUE(plat::WriteWholeFile(dir.File(f), "x"));
  ASSERT_TRUE(plat::CreateFolders(dir.File("sub.ini")));  // folders are never found
  using Names = std::vector<std::string>;
  const Names all = {"a.ini", "ab.txt", "abc.txt", "b.INI", "readme", "x.ini.bak"};
  // Names found with case-sensitive matching, and by the system's search (no regard to case).
  const struct { const char* pattern; Names posix, win32; } cases[] = {
      {"*", all, all}, {"*.*", all, all}, {"*.ini", {"a.ini"}, {"a.ini", "b.INI"}},
      {"*.INI", {"b.INI"}, {"a.ini", "b.INI"}}, {"a*", {"a.ini", "ab.txt", "abc.txt"}, {"a.ini", "ab.txt", "abc.txt"}},
      {"?b.txt", {"ab.txt"}, {"ab.txt"}}, {"*c*", {"abc.txt"}, {"abc.txt"}}, {"readme", {"readme"}, {"readme"}},
      {"*.ini.*", {"a.ini", "x.ini.bak"}, {"a.ini", "b.INI", "x.ini.bak"}}, {"nothing*", {}, {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(plat::FindFiles(dir.Path(), c.pattern), kCaseSensitiveNames ? c.posix : c.win32) << c.pattern;
  EXPECT_TRUE(plat::FindFiles(dir.File("no_such_folder"), "*").empty());
  // Folder trees are made and removed whole.
  ASSERT_TRUE(plat::CreateFolders(dir.File("t/x/y")));
  EXPECT_TRUE(plat::IsFolder(dir.File("t/x")));
  EXPECT_TRUE(plat::CreateFolders(dir.File("t/x/y"))) << "an existing folder counts as created";
  EXPECT_TRUE(plat::CreateFolders(dir.File("t/d/")));
  EXPECT_TRUE(plat::IsFolder(dir.File("t/d")));
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("t/x/y/f"), "1"));
  EXPECT_FALSE(plat::CreateFolders(dir.File("t/x/y/f/below")));
  EXPECT_FALSE(plat::CreateFolders(dir.File("t/x/y/f")));
  EXPECT_TRUE(plat::RemoveFolderTree(dir.File("t")));
  EXPECT_FALSE(plat::IsFolder(dir.File("t")));
  EXPECT_FALSE(plat::RemoveFolderTree(dir.File("t")));
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("plain"), "x"));
  EXPECT_FALSE(plat::RemoveFolderTree(dir.File("plain"))) << "a file is not a folder";
  EXPECT_TRUE(plat::FileExists(dir.File("plain")));
  // Whole files keep every byte and their write time.
  const std::string data("a\r\nb\nc\0d\x1a\xff", 10);  // no text-mode translation anywhere
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("f"), data));
  std::string back = "old";
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("f"), back));
  EXPECT_EQ(back, data);
  ASSERT_TRUE(plat::CopyFilePath(dir.File("f"), dir.File("g")));
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("g"), back));
  EXPECT_EQ(back, data);
  EXPECT_FALSE(plat::ReadWholeFile(dir.File("missing"), back));
  EXPECT_FALSE(plat::WriteWholeFile(dir.File("missing/f"), data));
  EXPECT_FALSE(plat::FileExists(dir.Path()));
  EXPECT_TRUE(plat::DeleteFilePath(dir.File("g")));
  EXPECT_FALSE(plat::FileExists(dir.File("g")));
  EXPECT_FALSE(plat::DeleteFilePath(dir.File("g")));
  // A new file is stamped with the calendar time now (not off by an epoch or a time zone).
  const std::string f = dir.File("f");
  EXPECT_NEAR(static_cast<double>(plat::FileLastWriteTime(f)),
              static_cast<double>(plat::SystemClock().Now()), 120.0);
  for (int64_t t : {int64_t{1500000000}, int64_t{4102444800}}) {
    ASSERT_TRUE(plat::SetFileLastWriteTime(f, t)) << t;
    EXPECT_EQ(plat::FileLastWriteTime(f), t);
  }
  EXPECT_EQ(plat::FileLastWriteTime(dir.File("missing")), 0);
  EXPECT_FALSE(plat::SetFileLastWriteTime(dir.File("missing"), 1500000000));
}

// The platform's file writes consult the fault point, each on its own platform's path.
TEST(Files, RefusedWritesChangeNothing) {
  qztest::TempDir dir, other;
  for (const qztest::TempDir* d : {&dir, &other}) {
    ASSERT_TRUE(plat::WriteWholeFile(d->File("f"), "old"));
    ASSERT_TRUE(plat::WriteWholeFile(d->File("p.ini"), "[A]\nk=old\n"));
  }
  const struct { const char* name; std::function<bool(const qztest::TempDir&)> write; } cases[] = {
      {"WriteWholeFile", [](const auto& d) { return plat::WriteWholeFile(d.File("f"), "new"); }},
      {"CopyFilePath", [](const auto& d) { return plat::CopyFilePath(d.File("p.ini"), d.File("f")); }},
      {"IniWriteString", [](const auto& d) { return plat::IniWriteString(d.File("p.ini"), "A", "k", "new"); }},
      {"CreateFolders", [](const auto& d) { return plat::CreateFolders(d.File("sub/x")); }},
      {"File", [](const auto& d) {
         plat::File f;
         return f.Open(d.File("f"), "wb") && f.Write("new", 3) && f.Close();
       }},
  };
  qztest::FailFileWrites(dir.Path());
  for (const auto& c : cases) {
    EXPECT_FALSE(c.write(dir)) << c.name;
    EXPECT_TRUE(c.write(other)) << c.name << " outside the failing folder";
  }
  qztest::FailFileWrites("");
  std::string data;
  EXPECT_TRUE(plat::ReadWholeFile(dir.File("f"), data) && data == "old") << data;
  EXPECT_TRUE(plat::ReadWholeFile(dir.File("p.ini"), data) && data == "[A]\nk=old\n") << data;
  EXPECT_FALSE(plat::IsFolder(dir.File("sub")));
  EXPECT_EQ(plat::FindFiles(dir.Path(), "*").size(), 2u) << "a refused write left a file";
  EXPECT_TRUE(plat::WriteWholeFile(dir.File("f"), "new")) << "writes work again";
}

TEST(Module, PathsOfThisProgramLoadAndLookUpAndTheEnvironment) {
  // The core is linked into the test program, so its module is the program itself.
  const std::string own = plat::OwnModulePath();
  EXPECT_EQ(own, plat::HostProgramPath());
  EXPECT_TRUE(plat::FileExists(own)) << own;
  // Modules that do not load (loaded ones and their symbols: the companions at start-up).
  qztest::TempDir dir;
  EXPECT_EQ(plat::LoadModule(dir.File(plat::CompanionFileName("Missing"))), nullptr);
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("broken.dll"), "not a module"));
  EXPECT_EQ(plat::LoadModule(dir.File("broken.dll")), nullptr);
  EXPECT_EQ(plat::FindSymbol(nullptr, "QZ_GetSwVer"), nullptr);
  // Environment variables set, read and removed.
  for (const std::string& v : {std::string("a b=c"), std::string(1000, 'v'), std::string()}) {
    plat::SetEnvVar("QZTEST_ENV_VAR", v);
    EXPECT_EQ(plat::GetEnvVar("QZTEST_ENV_VAR"), v);
  }
}

// ---- message boxes, debug output, threads and the clock

using plat::BoxAnswer;
using plat::BoxButtons;

// Sets environment variables for one test and restores them after it.
class EnvGuard {
 public:
  void Set(const std::string& name, const std::string& value) {
    saved_.push_back({name, plat::GetEnvVar(name)});
    plat::SetEnvVar(name, value);
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) plat::SetEnvVar(it->first, it->second);
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST(MessageBox, LogLinesEscapeAnswersComeFromTheEnvironmentAndWithoutALogPosixWritesToStderr) {
  struct Row { std::string text; BoxButtons buttons; bool topmost; std::string line; };
  const std::vector<Row> rows = {
      {"Save?", BoxButtons::YesNo, false, "plain yesno: Save?"},
      {"C:\\ini\\a.cfg", BoxButtons::Ok, false, "plain ok: C:\\\\ini\\\\a.cfg"},
      {"one\r\ntwo\nthree\r", BoxButtons::YesNo, true, "topmost yesno: one\\r\\ntwo\\nthree\\r"},
      {"tab\tand \xE5\x8D\xA1 stay", BoxButtons::Ok, false, "plain ok: tab\tand \xE5\x8D\xA1 stay"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(plat::MessageBoxLogLine(r.text, r.buttons, r.topmost), r.line) << r.text;
  // Logged boxes answer from the environment, even when the log cannot be written.
  qztest::TempDir dir;
  const std::string log = dir.File("boxes.log");
  EnvGuard env;
  env.Set("QZMARK_MSGBOX_LOG", log);
  struct AnswerRow { const char* answerVar; BoxButtons buttons; BoxAnswer answer; };  // "": variable unset
  const std::vector<AnswerRow> answers = {
      {"", BoxButtons::Ok, BoxAnswer::Ok},        {"", BoxButtons::YesNo, BoxAnswer::No},
      {"yes", BoxButtons::YesNo, BoxAnswer::Yes}, {"yes", BoxButtons::Ok, BoxAnswer::Ok},
      {"no", BoxButtons::YesNo, BoxAnswer::No},   {"1", BoxButtons::YesNo, BoxAnswer::No},
  };
  std::string expectedLog;
  for (size_t i = 0; i < answers.size(); ++i) {
    env.Set("QZMARK_MSGBOX_ANSWER", answers[i].answerVar);
    const std::string text = "box " + std::to_string(i) + "\nsecond line";
    EXPECT_EQ(plat::ShowMessageBox(text, answers[i].buttons, i % 2 == 0), answers[i].answer) << "row " << i;
    expectedLog += plat::MessageBoxLogLine(text, answers[i].buttons, i % 2 == 0) + "\n";
  }
  // One line per box, appended in order (the variable is read at every box).
  std::string got;
  ASSERT_TRUE(plat::ReadWholeFile(log, got));
  EXPECT_EQ(got, expectedLog);
  // A log that cannot be written still answers, without showing.
  env.Set("QZMARK_MSGBOX_LOG", dir.File("no_such_folder/boxes.log"));
  env.Set("QZMARK_MSGBOX_ANSWER", "yes");
  EXPECT_EQ(plat::ShowMessageBox("q", BoxButtons::YesNo, true), BoxAnswer::Yes);
  EXPECT_FALSE(plat::IsFolder(dir.File("no_such_folder")));
#if !defined(_WIN32)
  // Without a log, POSIX writes the text to stderr and answers No (the answer "yes" is the log's only).
  env.Set("QZMARK_MSGBOX_LOG", "");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(plat::ShowMessageBox("Overwrite the file?", BoxButtons::YesNo, true), BoxAnswer::No);
  EXPECT_EQ(plat::ShowMessageBox("Done", BoxButtons::Ok, false), BoxAnswer::Ok);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Overwrite the file?\nDone\n");
  // Debug output only when asked.
  env.Set("QZMARK_DEBUG_OUT", "");
  ::testing::internal::CaptureStderr();
  plat::DebugOutput("hidden");
  env.Set("QZMARK_DEBUG_OUT", "1");
  plat::DebugOutput("shown");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shown\n");
#endif
}

TEST(Thread, RunsTheBodyAndJoinsAndTheSystemClockReadsTheSystem) {
  std::atomic<int> runs{0};
  plat::Thread t;
  EXPECT_FALSE(t.Running());
  ASSERT_TRUE(t.Start([&] {
    plat::SystemClock().Sleep(20);
    ++runs;
  }));
  EXPECT_TRUE(t.Running());
  EXPECT_FALSE(t.Start([&] { runs += 100; })) << "a second body while one is kept";
  t.Join();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(t.Running());
  t.Join();  // harmless
  // The system clock reads the system.
  plat::Clock& c = plat::SystemClock();
  const uint32_t tick0 = c.TickMs();
  const double perf0 = c.PerfMs();
  c.Sleep(50);
  // Lower bounds only: a busy machine may sleep longer, never shorter.
  EXPECT_GE(c.PerfMs() - perf0, 49.0);
  EXPECT_GE(static_cast<uint32_t>(c.TickMs() - tick0), 30u);
  const plat::LocalTime lt = c.Local();
  EXPECT_GE(lt.year, 2020);
  EXPECT_TRUE(lt.month >= 1 && lt.month <= 12 && lt.day >= 1 && lt.day <= 31);
  EXPECT_TRUE(lt.hour >= 0 && lt.hour <= 23 && lt.minute >= 0 && lt.minute <= 59);
  EXPECT_TRUE(lt.second >= 0 && lt.second <= 59 && lt.millisecond >= 0 && lt.millisecond <= 999);
}

}  // namespace
