// INI profiles: one table run through plat::IniReadString / IniWriteString (and our engine on Win32 too).
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/ini_profile.h"
#include "platform/module.h"
#include "support/temp_dir.h"

namespace {

struct IniWrite { std::string section, key, value; bool ok = true; };
struct IniRead { std::string section, key, def, want; };

// file: the contents before the case, kNoFile: none; after: the file our engine leaves (a new file's "\n" is the
// platform's line end), nullptr: not compared; wineDiffers: set where Wine's profile functions (the Win32 build's
// tests run under Wine) differ from Windows: why.
struct IniCase { const char* name; std::optional<std::string> file; std::vector<IniWrite> writes;
                 std::vector<IniRead> reads; const char *after = nullptr, *path = "t.ini", *wineDiffers = nullptr; };

constexpr std::nullopt_t kNoFile = std::nullopt;
const std::string k300(300, 'x');
const std::string k255(255, 'x');
const std::string k254(254, 'x');

const std::vector<IniCase> kCases = {
    // ---- reading
    {"MissingSectionOrKeyGivesDefaultNamesIgnoreCase", "[Main]\nSpeed=5\n", {},
     {{"B", "Speed", "d", "d"}, {"Main", "x", "d", "d"}, {"MAIN", "speed", "d", "5"}}},
    {"BlanksAroundNamesAndValuesGoInnerBlanksStay",
     "  [Main]  \n  Speed  =  5  \n\tGap\t=\t7\t\nmy key = a  b\n[ Other ]\nk=1\n", {},
     {{"Main", "Speed", "d", "5"}, {"Main", "Gap", "d", "7"}, {" Main ", " Speed ", "d", "5"}, {"Other", "k", "d", "1"},
      {"Main", "my key", "d", "a  b"}, {"Main", "mykey", "d", "d"}}},
    {"OnePairOfQuotesRemovedUnmatchedQuotesStay",
     "[Q]\na=\"x y\"\nb='x y'\nc=\" padded \"\nd= \"q\" \ne=\"\"\nf=\"a\"b\"\ng=\"\"x\"\"\nh=\"x'\ni=\"\n", {},
     {{"Q", "a", "d", "x y"}, {"Q", "b", "d", "x y"}, {"Q", "c", "d", " padded "}, {"Q", "d", "d", "q"},
      {"Q", "e", "d", ""}, {"Q", "f", "d", "a\"b"}, {"Q", "g", "d", "\"x\""}, {"Q", "h", "d", "\"x'"},
      {"Q", "i", "d", "\""}}},
    {"NothingAfterValueIsComment", "[A]\nk=5 ; five\np=C:\\a;b\nq=a=b\n", {},
     {{"A", "k", "d", "5 ; five"}, {"A", "p", "d", "C:\\a;b"}, {"A", "q", "d", "a=b"}}},
    {"CommentsAndLinesWithoutEqualsAreNoKeysEmptyValuesAreEmpty", "[A] ; main\n;k=0\nflag\nk=\nm=   \n", {},
     {{"A", "flag", "d", "d"}, {"A", "k", "d", ""}, {"A", "m", "d", ""}}},
    {"FirstKeyAndFirstSectionWin", "[A]\nk=1\nK=2\n[a]\nk=3\n", {}, {{"A", "k", "d", "1"}}},
    {"KeysStayInTheirSection", "k=0\n[A]\n[B]\nk=2\n", {},
     {{"A", "k", "d", "d"}, {"B", "k", "d", "2"}, {"", "k", "d", "0"}}},
    {"BlankLinesInsideSectionLastLineWithoutLineEnd", "[A]\n\n\nk=1\n\n[B]\nx=2", {},
     {{"A", "k", "d", "1"}, {"B", "x", "d", "2"}}},
    {"CrLfAndStrayCarriageReturns", "[A]\r\nk=1\r\nm=\r\n\r\n[B]\r\nx=\"q\"\r\n[C]\r\r\nk=1\r\r\n", {},
     {{"A", "k", "d", "1"}, {"A", "m", "d", ""}, {"B", "x", "d", "q"}, {"C", "k", "d", "1"}}},
    {"Utf8ByteOrderMarkIsPartOfFirstLine", "\xEF\xBB\xBF[A]\nk=1\n[B]\nk=2\n", {},
     {{"A", "k", "d", "d"}, {"B", "k", "d", "2"}}, nullptr, "t.ini",
     "Wine skips a UTF-8 byte order mark; Windows reads it as text of the first line"},
    {"ValueCutAt255Bytes",
     "[A]\nlong=" + k300 + "\nexact=" + k255 + "\nquoted=\"" + k254 + "\"\nquotedlong=\"" + k300 + "\"\n",
     {{"A", "written", k300}},
     {{"A", "long", "d", k255}, {"A", "exact", "d", k255}, {"A", "quoted", "d", k254},
      {"A", "quotedlong", "d", k255}, {"A", "missing", k300, k255}, {"A", "written", "d", k255}}},
    {"MissingFileGivesDefaultLessTrailingSpaces", kNoFile, {},
     {{"A", "k", "abc  ", "abc"}, {"A", "k", "  abc", "  abc"}, {"A", "k", "a\t", "a\t"}}},

    // ---- writing (the file left is exact: what it reads as, the reading rows above pin)
    {"WriteCreatesFile", kNoFile, {{"S", "k", "v"}}, {{"S", "k", "d", "v"}}, "[S]\nk=v\n"},
    {"WriteReplacesInPlaceKeepingNameAndBlanks", "[A]\nKey = 1\nm=2\n", {{"a", "KEY", "22"}},
     {{"A", "Key", "d", "22"}}, "[A]\nKey = 22\nm=2\n"},
    {"WriteAppendsToSection", "[A]\nk=1\n\n[B]\nx=1\n", {{"A", "n", "5"}}, {{"A", "n", "d", "5"}},
     "[A]\nk=1\nn=5\n\n[B]\nx=1\n"},
    {"WriteAppendsToEmptySection", "[A]\n[B]\nx=1\n", {{"A", "k", "1"}}, {{"A", "k", "d", "1"}},
     "[A]\nk=1\n[B]\nx=1\n"},
    {"WriteAppendsSection", "[A]\nk=1\n", {{"C", "n", "5"}}, {{"C", "n", "d", "5"}}, "[A]\nk=1\n[C]\nn=5\n"},
    {"WriteKeepsCrLf", "[A]\r\nk=1\r\n", {{"A", "n", "2"}, {"B", "x", "3"}, {"A", "k", "0"}}, {{"A", "k", "d", "0"}},
     "[A]\r\nk=0\r\nn=2\r\n[B]\r\nx=3\r\n"},
    {"WriteAfterLastLineWithoutLineEnd", "[A]\nk=1", {{"A", "n", "2"}}, {{"A", "n", "d", "2"}}, "[A]\nk=1\nn=2\n"},
    {"WriteSectionAfterLastLineWithoutLineEnd", "[A]\nk=1", {{"B", "x", "1"}}, {{"B", "x", "d", "1"}},
     "[A]\nk=1\n[B]\nx=1\n"},
    {"WriteEmptyValue", "[A]\nk=1\n", {{"A", "k", ""}, {"A", "m", ""}}, {{"A", "k", "d", ""}}, "[A]\nk=\nm=\n"},
    {"WriteGoesToFirstKeyAndSectionOfName", "[A]\nk=1\nk=2\n[A]\nm=2\n", {{"A", "k", "3"}, {"A", "m", "5"}},
     {{"A", "m", "d", "5"}}, "[A]\nk=3\nk=2\nm=5\n[A]\nm=2\n"},
    {"WriteIntoMissingFolderFails", kNoFile, {{"A", "k", "1", false}}, {{"A", "k", "d", "d"}}, nullptr,
     "missing/t.ini"},
};

constexpr bool kWin32 = plat::kPathSep == '\\';

enum class Impl { Profile, Engine };

struct Param { IniCase c; Impl impl; };

// The text our engine writes: the file's own line end, or the platform's for a new file.
std::string WithNewFileLineEnd(const std::string& s) {
  std::string out;
  for (char ch : s) out += kWin32 && ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  return out;
}

class IniTable : public ::testing::TestWithParam<Param> {};

TEST_P(IniTable, Case) {
  const IniCase& c = GetParam().c;
  const bool engine = GetParam().impl == Impl::Engine;
  if (!engine && c.wineDiffers && kWin32) GTEST_SKIP() << "Wine: " << c.wineDiffers;
  qztest::TempDir dir;
  const std::string path = dir.File(c.path);
  if (c.file) {
    ASSERT_TRUE(plat::WriteWholeFile(path, *c.file));
  }
  // (No SCOPED_TRACE: on Win32 it starts a gtest thread that Wine may trip over at exit.)
  for (const IniWrite& w : c.writes) {
    const bool ok = engine ? plat::ini_engine::WriteString(path, w.section, w.key, w.value)
                           : plat::IniWriteString(path, w.section, w.key, w.value);
    EXPECT_EQ(ok, w.ok) << "write [" << w.section << "] " << w.key;
    if (!w.ok) {
      EXPECT_TRUE(plat::FindFiles(dir.Path(), "*").empty()) << "a failed write left a file";
      EXPECT_FALSE(plat::IsFolder(dir.File("missing"))) << "a failed write made a folder";
    }
  }
  for (const IniRead& r : c.reads) {
    const std::string got = engine ? plat::ini_engine::ReadString(path, r.section, r.key, r.def)
                                   : plat::IniReadString(path, r.section, r.key, r.def);
    EXPECT_EQ(got, r.want) << "read [" << r.section << "] " << r.key;
  }
  // Where our engine wrote, the file is exactly what it should be and nothing else is left.
  if (c.after && (engine || !kWin32)) {
    std::string text;
    ASSERT_TRUE(plat::ReadWholeFile(path, text));
    EXPECT_EQ(text, c.file ? std::string(c.after) : WithNewFileLineEnd(c.after));
    EXPECT_EQ(plat::FindFiles(dir.Path(), "*"), std::vector<std::string>{c.path});
  }
}

std::vector<Param> Params() {
  std::vector<Param> out;
  for (const IniCase& c : kCases) {
    out.push_back({c, Impl::Profile});
    if (kWin32) out.push_back({c, Impl::Engine});  // the system's functions above, our engine here
  }
  return out;
}

// The case's name is what gtest prints for it, and so what ctest names the test.
void PrintTo(const Param& p, std::ostream* os) {
  *os << p.c.name << (p.impl == Impl::Engine ? "_Engine" : "");
}

INSTANTIATE_TEST_SUITE_P(Ini, IniTable, ::testing::ValuesIn(Params()));

}  // namespace
