// The platform layer's files, folders, system-wide mutex, modules and environment.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/ini_profile.h"
#include "platform/module.h"
#include "platform/system_mutex.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace {

using Names = std::vector<std::string>;

#if defined(_WIN32)
constexpr bool kCaseSensitiveNames = false;
#else
constexpr bool kCaseSensitiveNames = true;
#endif

// A mutex name no other test process uses.
std::string UniqueName(const std::string& tag) {
  return "qztest_" + tag + "_" + std::to_string(plat::ProcessId());
}

TEST(SystemMutex, SecondCreateOfAHeldNameIsToldItExists) {
  const std::string name = UniqueName("card");
  plat::SystemMutex first, second;
  ASSERT_EQ(first.Create(name), plat::SystemMutex::Result::Created);
  EXPECT_TRUE(first.IsHeld());

  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::AlreadyExists);
  EXPECT_FALSE(second.IsHeld());
  second.Close();  // holds nothing: must not release the first holder's mutex
  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::AlreadyExists);

  first.Close();
  EXPECT_FALSE(first.IsHeld());
  first.Close();
  EXPECT_EQ(second.Create(name), plat::SystemMutex::Result::Created);
}

TEST(SystemMutex, NamesThatLookAlikeStayApart) {
  // On POSIX the names become file names: characters that cannot stay must not merge names.
  const std::string base = UniqueName("n");
  const std::vector<std::string> names = {base + "a_b", base + "a/b", base + "a:b", base + "a b", base + "A_b"};
  std::vector<plat::SystemMutex> held(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(held[i].Create(names[i]), plat::SystemMutex::Result::Created) << names[i];
}

struct FindCase {
  const char* pattern;
  Names posix;  // names found with case-sensitive matching
  Names win32;  // where the system's search (no regard to case) finds more
};

TEST(Files, FindFilesMatchesWildcards) {
  qztest::TempDir dir;
  for (const char* f : {"a.ini", "b.INI", "ab.txt", "abc.txt", "readme", "x.ini.bak"})
    ASSERT_TRUE(plat::WriteWholeFile(dir.File(f), "x"));
  ASSERT_TRUE(plat::CreateFolders(dir.File("sub.ini")));  // folders are never found

  const Names all = {"a.ini", "ab.txt", "abc.txt", "b.INI", "readme", "x.ini.bak"};
  const std::vector<FindCase> cases = {
      {"*", all, all},
      {"*.*", all, all},
      {"*.ini", {"a.ini"}, {"a.ini", "b.INI"}},
      {"*.INI", {"b.INI"}, {"a.ini", "b.INI"}},
      {"*.txt", {"ab.txt", "abc.txt"}, {"ab.txt", "abc.txt"}},
      {"a*", {"a.ini", "ab.txt", "abc.txt"}, {"a.ini", "ab.txt", "abc.txt"}},
      {"?b.txt", {"ab.txt"}, {"ab.txt"}},
      {"a?c.txt", {"abc.txt"}, {"abc.txt"}},
      {"*c*", {"abc.txt"}, {"abc.txt"}},
      {"*.ini.*", {"a.ini", "x.ini.bak"}, {"a.ini", "b.INI", "x.ini.bak"}},
      {"readme", {"readme"}, {"readme"}},
      {"nothing*", {}, {}},
  };
  for (const FindCase& c : cases)
    EXPECT_EQ(plat::FindFiles(dir.Path(), c.pattern), kCaseSensitiveNames ? c.posix : c.win32) << c.pattern;
  EXPECT_TRUE(plat::FindFiles(dir.File("no_such_folder"), "*").empty());
}

TEST(Files, FolderTreesAreMadeAndRemovedWhole) {
  qztest::TempDir dir;
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
}

TEST(Files, WholeFilesKeepEveryByte) {
  qztest::TempDir dir;
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
  EXPECT_TRUE(plat::FileExists(dir.File("g")));
  EXPECT_FALSE(plat::FileExists(dir.Path()));
  EXPECT_TRUE(plat::DeleteFilePath(dir.File("g")));
  EXPECT_FALSE(plat::FileExists(dir.File("g")));
  EXPECT_FALSE(plat::DeleteFilePath(dir.File("g")));
}

// The platform's file writes consult the fault point, each on its own platform's path.
TEST(Files, RefusedWritesChangeNothing) {
  qztest::TempDir dir, other;
  for (const qztest::TempDir* d : {&dir, &other}) {
    ASSERT_TRUE(plat::WriteWholeFile(d->File("f"), "old"));
    ASSERT_TRUE(plat::WriteWholeFile(d->File("p.ini"), "[A]\nk=old\n"));
  }
  const struct {
    const char* name;
    std::function<bool(const qztest::TempDir&)> write;
  } cases[] = {
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

TEST(Files, LastWriteTimeRoundTrip) {
  qztest::TempDir dir;
  const std::string f = dir.File("f");
  ASSERT_TRUE(plat::WriteWholeFile(f, "x"));
  // A new file is stamped with the calendar time now (not off by an epoch or a time zone).
  EXPECT_NEAR(static_cast<double>(plat::FileLastWriteTime(f)),
              static_cast<double>(plat::SystemClock().Now()), 120.0);

  for (int64_t t : {int64_t{1500000000}, int64_t{1700000123}, int64_t{4102444800}}) {
    ASSERT_TRUE(plat::SetFileLastWriteTime(f, t)) << t;
    EXPECT_EQ(plat::FileLastWriteTime(f), t);
  }
  EXPECT_EQ(plat::FileLastWriteTime(dir.File("missing")), 0);
  EXPECT_FALSE(plat::SetFileLastWriteTime(dir.File("missing"), 1500000000));
}

TEST(Module, PathsOfThisProgram) {
  // The core is linked into the test program, so its module is the program itself.
  const std::string own = plat::OwnModulePath();
  EXPECT_EQ(own, plat::HostProgramPath());
  EXPECT_TRUE(plat::FileExists(own)) << own;
}

TEST(Module, LoadAndLookUp) {
#if defined(_WIN32)
  const char* lib = "kernel32.dll";
  const char* sym = "GetTickCount";
#else
  const char* lib = "libc.so.6";
  const char* sym = "getpid";
#endif
  plat::ModuleHandle m = plat::LoadModule(lib);
  ASSERT_NE(m, nullptr);
  EXPECT_NE(plat::FindSymbol(m, sym), nullptr);
  EXPECT_EQ(plat::FindSymbol(m, "qz_no_such_symbol"), nullptr);
  plat::FreeModule(m);

  qztest::TempDir dir;
  EXPECT_EQ(plat::LoadModule(dir.File(plat::CompanionFileName("Missing"))), nullptr);
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("broken.dll"), "not a module"));
  EXPECT_EQ(plat::LoadModule(dir.File("broken.dll")), nullptr);
  EXPECT_EQ(plat::FindSymbol(nullptr, sym), nullptr);
}

TEST(Environment, SetGetAndRemove) {
  for (const std::string& v : {std::string("a b=c"), std::string(1000, 'v'), std::string()}) {
    plat::SetEnvVar("QZTEST_ENV_VAR", v);
    EXPECT_EQ(plat::GetEnvVar("QZTEST_ENV_VAR"), v);
  }
  EXPECT_EQ(plat::GetEnvVar("QZTEST_NEVER_SET"), "");
}

}  // namespace
