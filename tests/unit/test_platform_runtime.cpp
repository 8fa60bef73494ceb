// The platform layer's message boxes, debug output, threads and clock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug_out.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/msgbox.h"
#include "platform/thread.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace {

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

TEST(MessageBox, LogLineEscapesBackslashAndLineEnds) {
  struct Row { std::string text; BoxButtons buttons; bool topmost; std::string line; };
  const std::vector<Row> rows = {
      {"Card not found", BoxButtons::Ok, true, "topmost ok: Card not found"},
      {"Save?", BoxButtons::YesNo, false, "plain yesno: Save?"},
      {"C:\\ini\\a.cfg", BoxButtons::Ok, false, "plain ok: C:\\\\ini\\\\a.cfg"},
      {"one\r\ntwo\nthree\r", BoxButtons::YesNo, true, "topmost yesno: one\\r\\ntwo\\nthree\\r"},
      {"\\n is not a line end", BoxButtons::Ok, false, "plain ok: \\\\n is not a line end"},
      {"tab\tand \xE5\x8D\xA1 stay", BoxButtons::Ok, false, "plain ok: tab\tand \xE5\x8D\xA1 stay"},
      {"", BoxButtons::Ok, false, "plain ok: "},
  };
  for (const Row& r : rows)
    EXPECT_EQ(plat::MessageBoxLogLine(r.text, r.buttons, r.topmost), r.line) << r.text;
}

TEST(MessageBox, LoggedBoxesAnswerFromTheEnvironmentEvenWhenTheLogCannotBeWritten) {
  qztest::TempDir dir;
  const std::string log = dir.File("boxes.log");
  EnvGuard env;
  env.Set("QZMARK_MSGBOX_LOG", log);

  struct Row { const char* answerVar; BoxButtons buttons; BoxAnswer answer; };  // "": variable unset
  const std::vector<Row> rows = {
      {"", BoxButtons::Ok, BoxAnswer::Ok},        {"", BoxButtons::YesNo, BoxAnswer::No},
      {"yes", BoxButtons::YesNo, BoxAnswer::Yes}, {"yes", BoxButtons::Ok, BoxAnswer::Ok},
      {"no", BoxButtons::YesNo, BoxAnswer::No},   {"1", BoxButtons::YesNo, BoxAnswer::No},
  };
  std::string expectedLog;
  for (size_t i = 0; i < rows.size(); ++i) {
    env.Set("QZMARK_MSGBOX_ANSWER", rows[i].answerVar);
    const std::string text = "box " + std::to_string(i) + "\nsecond line";
    EXPECT_EQ(plat::ShowMessageBox(text, rows[i].buttons, i % 2 == 0), rows[i].answer) << "row " << i;
    expectedLog += plat::MessageBoxLogLine(text, rows[i].buttons, i % 2 == 0) + "\n";
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
}

#if !defined(_WIN32)
TEST(MessageBox, WithoutLogPosixWritesToStderrAndAnswersNoAndDebugOutputOnlyWhenAsked) {
  EnvGuard env;
  env.Set("QZMARK_MSGBOX_LOG", "");
  env.Set("QZMARK_MSGBOX_ANSWER", "yes");  // only the box log reads it
  ::testing::internal::CaptureStderr();
  const BoxAnswer yesNo = plat::ShowMessageBox("Overwrite the file?", BoxButtons::YesNo, true);
  const BoxAnswer ok = plat::ShowMessageBox("Done", BoxButtons::Ok, false);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(yesNo, BoxAnswer::No);
  EXPECT_EQ(ok, BoxAnswer::Ok);
  EXPECT_EQ(err, "Overwrite the file?\nDone\n");
  // Debug output only when asked.
  env.Set("QZMARK_DEBUG_OUT", "");
  ::testing::internal::CaptureStderr();
  plat::DebugOutput("hidden");
  env.Set("QZMARK_DEBUG_OUT", "1");
  plat::DebugOutput("shown");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "shown\n");
}
#endif

TEST(Thread, RunsTheBodyAndJoins) {
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

  ASSERT_TRUE(t.Start([&] { ++runs; })) << "a joined thread can be started again";
  t.Join();
  EXPECT_EQ(runs.load(), 2);

  qztest::FailThreadCreation(true);
  const bool started = t.Start([&] { runs += 100; });
  qztest::FailThreadCreation(false);
  EXPECT_FALSE(started);
  EXPECT_FALSE(t.Running());
  t.Join();
  EXPECT_EQ(runs.load(), 2);
}

TEST(Clock, SystemClockReadsTheSystem) {
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
  EXPECT_GT(c.Now(), int64_t{1600000000});
}

}  // namespace
