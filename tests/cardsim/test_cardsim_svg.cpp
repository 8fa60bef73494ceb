// The card's picture of a run as an SVG file, read back element by element in field millimetres.
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "cardsim_stream.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/temp_dir.h"

namespace cardsim_test {
namespace {

struct Pt { double x, y; };

// The picture's elements of each kind as "x,y x,y | x,y ...": field mm (y back up) to 0.01 mm, locale-free.
struct Picture {
  std::string viewBox, marks, jumps, dots;
};
Picture Parse(const std::string& svg) {
  Picture pic;
  std::smatch m;
  if (std::regex_search(svg, m, std::regex("<svg [^>]*viewBox=\"([^\"]*)\""))) pic.viewBox = m[1];
  const std::regex element("<(?:polyline class=\"(mark|jump)\" points|circle class=\"(dot)\" cx)=\"([^\"]*)\"(?: cy=\"([^\"]*)\")?");
  for (auto e = std::sregex_iterator(svg.begin(), svg.end(), element); e != std::sregex_iterator(); ++e) {
    std::string& out = (*e)[2].matched ? pic.dots : (*e)[1] == "mark" ? pic.marks : pic.jumps;
    if (!out.empty()) out += " | ";
    std::string nums = (*e)[3].str();
    if ((*e)[2].matched) nums += ',' + (*e)[4].str();
    int n = 0;
    for (const char *p = nums.data(), *end = p + nums.size(); p < end; ++n) {
      double v = std::numeric_limits<double>::quiet_NaN();
      const auto r = std::from_chars(p, end, v);
      char buf[32];
      std::string s(buf, std::to_chars(buf, buf + 32, n % 2 ? -v : v, std::chars_format::fixed, 2).ptr);
      s = std::regex_replace(std::regex_replace(s, std::regex("\\.?0+$"), ""), std::regex("^-0$"), "0");
      out += n == 0 ? "" : n % 2 ? "," : " ";
      out += s;
      p = r.ec == std::errc() ? r.ptr + 1 : end;  // past one ',' or ' '
    }
  }
  return pic;
}

constexpr Pt A{-20, -20}, Mid{0, -20}, B{20, -20}, C{20, 20}, D{-20, 20}, E{30, 30}, F{35, -25};

// A jump, a square lit by laser 0 (its first side in two steps), a jump, a dot of laser 1, a jump, Z alone.
// 16-bit codes in a field of fx x fy (r 0), or 21-bit codes with half range r, the drawing scaled by r / 50.
std::vector<Timed> Job(double fx, double fy, double r, bool endWord = true) {
  const bool b21 = r > 0;
  std::vector<Timed> w;
  if (b21) w.push_back({1, 0x04000000});
  auto move = [&](uint64_t t, Pt p, bool jump) {
    if (b21) {
      for (uint32_t axis = 0; axis < 2; ++axis) {
        const double mm = (axis ? p.y : p.x) * r / 50;
        const auto code = static_cast<uint32_t>(std::floor((mm + r) / (2 * r) * 2097152 + 0.5));
        w.push_back({t, 0x01000000u | (axis * 2 + jump) << 21 | code});
      }
    } else {
      w.push_back({t, (jump ? 0x01080000u : 0x01000000u) | static_cast<uint32_t>((p.x + fx / 2) * 65535 / fx)});
      w.push_back({t, (jump ? 0x01090000u : 0x01010000u) | static_cast<uint32_t>((p.y + fy / 2) * 65535 / fy)});
    }
  };
  move(5, {0, 0}, false);
  move(10, A, true);
  w.insert(w.end(), {{20, 0x11000030}, {20, 0x12000030}, {20, 0x16000001}});
  for (const auto& [t, p] : {std::pair{25, Mid}, {30, B}, {40, C}, {50, D}, {60, A}}) move(t, p, false);
  w.push_back({70, 0x16000000});
  move(80, E, true);
  w.insert(w.end(), {{90, 0x1C000001}, {100, 0x1C000000}});
  move(110, F, true);
  w.push_back({115, b21 ? 0x01800100u : 0x01020100u});
  if (endWord) w.push_back({120, kEnd});
  return w;
}

class CardsimSvg : public CardsimStream {
 protected:
  static Stream Run(const std::vector<Timed>& words) { return CardsimStream::Run(words, CardType::Usb, 1); }
  qztest::TempDir dir;
  const std::string path = dir.File("card.svg");
};

TEST_F(CardsimSvg, TheRunsPathAsMarkedLinesJumpsAndDotsInFieldMillimetres) {
  // The side in two steps draws as one line; Z alone moves nothing.
  struct Case {
    std::vector<Timed> words;
    double fx, fy, r;  // what cardsim_write_svg is given
    Picture want;
  } cases[] = {
      {Job(80, 60, 0), 80, 60, 7,
       {"-41.6 -31.6 83.2 63.2", "-20,-20 20,-20 20,20 -20,20 -20,-20", "0,0 -20,-20 | -20,-20 30,30 35,-25", "30,30"}},
      {Job(0, 0, 10), 80, 60, 0,
       {"-10.4 -10.4 20.8 20.8", "-4,-4 4,-4 4,4 -4,4 -4,-4", "0,0 -4,-4 | -4,-4 6,6 7,-5", "6,6"}},
      {Job(0, 0, 2.5), 0, 0, 2.5,
       {"-2.6 -2.6 5.2 5.2", "-1,-1 1,-1 1,1 -1,1 -1,-1", "0,0 -1,-1 | -1,-1 1.5,1.5 1.75,-1.25", "1.5,1.5"}},
  };
  for (const Case& c : cases) {
    cardsim_reset();
    Run(c.words);
    ASSERT_EQ(0u, cardsim_write_svg(path.c_str(), c.fx, c.fy, c.r)) << c.want.viewBox;
    const std::string svg = ReadFile(path);
    EXPECT_EQ(0u, svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<svg ", 0));
    EXPECT_EQ("</svg>\n", svg.substr(svg.size() - 7));
    const Picture p = Parse(svg);
    EXPECT_EQ(std::tuple(c.want.viewBox, c.want.marks, c.want.jumps, c.want.dots),
              std::tuple(p.viewBox, p.marks, p.jumps, p.dots));
  }
}

// Fibre lasers pulse from the layer on; the laser type picks the outputs that gate emission (laser 0: enable
// 21 and PA 20 around each segment, laser 1: enable 28). A segment of 0.02 mm is a dot.
TEST_F(CardsimSvg, EmissionFollowsTheOutputsThatGateTheConfiguredLaser) {
  std::vector<Timed> w = {{1, 0x21200200}, {2, 0x11000030}, {2, 0x12000030}, {2, 0x16000001}};
  auto move = [&w](uint64_t t, Pt p) {
    w.push_back({t, 0x01000000u | static_cast<uint32_t>((p.x + 50) * 65535 / 100)});
    w.push_back({t, 0x01010000u | static_cast<uint32_t>((p.y + 50) * 65535 / 100)});
  };
  move(5, {0, 0});
  move(10, A);
  w.push_back({20, 0x21100100});  // PA on
  move(30, B);
  move(40, C);
  w.push_back({45, 0x21100000});
  move(50, E);
  w.push_back({55, 0x21100100});
  move(60, {E.x + 0.02, E.y});
  w.push_back({65, 0x21100000});
  move(70, F);
  w.push_back({72, 0x1C000001});  // laser 1's pulses, its enable still off
  move(74, D);
  w.push_back({75, 0x22040040});  // output 28
  move(77, Mid);
  w.push_back({80, kEnd});
  const std::string config = dir.File("type.cfg");
  struct Case { uint32_t type; const char *marks, *jumps, *dots; } cases[] = {
      {0, "0,0 -20,-20 20,-20 20,20 30,30 30.02,30 35,-25 -20,20 0,-20", "", ""},
      {2, "-20,-20 20,-20 20,20 | 35,-25 -20,20 0,-20", "0,0 -20,-20 | 20,20 30,30 | 30.02,30 35,-25", "30,30"},
      {6, "-20,-20 20,-20 20,20 | -20,20 0,-20", "0,0 -20,-20 | 20,20 30,30 | 30.02,30 35,-25 -20,20", "30,30"},
  };
  for (const Case& c : cases) {
    cardsim_reset();
    std::ofstream(config) << "laser_type = " << c.type << "\n";
    ASSERT_EQ(0u, cardsim_load_config(config.c_str()));
    Run(w);
    ASSERT_EQ(0u, cardsim_write_svg(path.c_str(), 0, 0, 0));
    const Picture p = Parse(ReadFile(path));
    EXPECT_EQ(std::tuple(c.marks, c.jumps, c.dots), std::tuple(p.marks, p.jumps, p.dots)) << c.type;
  }
}

TEST_F(CardsimSvg, ARunGoingOnAsFarAsItWentAndWhatIsRefused) {
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  Run(Job(100, 100, 0));
  ASSERT_EQ(0u, cardsim_step_us(45));  // in the square, laser 0 on
  ASSERT_EQ(0u, cardsim_write_svg(path.c_str(), 0, 0, 0));
  const Picture p = Parse(ReadFile(path));
  EXPECT_EQ(std::tuple("-20,-20 20,-20 20,20", "0,0 -20,-20", ""), std::tuple(p.marks, p.jumps, p.dots));
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::string bad = dir.File("bad.svg"), noFolder = dir.File("no/such.svg");
  struct Refused { const char* path; double fx, fy, r; } refused[] = {
      {nullptr, 0, 0, 0}, {"", 0, 0, 0}, {bad.c_str(), -1, 0, 0}, {bad.c_str(), 0, nan, 0},
      {bad.c_str(), 0, 0, inf}, {noFolder.c_str(), 0, 0, 0}};
  for (const Refused& r : refused) EXPECT_EQ(1u, cardsim_write_svg(r.path, r.fx, r.fy, r.r)) << r.fx << r.fy << r.r;
  EXPECT_FALSE(plat::FileExists(bad));
}

TEST_F(CardsimSvg, NumbersKeepTheDotUnderACommaLocale) {
  Run(Job(80, 60, 0));
  ASSERT_EQ(0u, cardsim_write_svg(path.c_str(), 80, 60, 0));
  const std::string saved = std::setlocale(LC_ALL, nullptr), comma = dir.File("de.svg");
  char probe[16] = "";
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"}) {
    if (std::setlocale(LC_ALL, name) && std::snprintf(probe, sizeof probe, "%.1f", 0.5) && probe == std::string("0,5"))
      break;
  }
  const uint32_t rc = probe == std::string("0,5") ? cardsim_write_svg(comma.c_str(), 80, 60, 0) : 99;
  std::setlocale(LC_ALL, saved.c_str());
  if (rc == 99) GTEST_SKIP() << "no locale with a comma as decimal separator";
  EXPECT_EQ(0u, rc);
  EXPECT_EQ(ReadFile(path), ReadFile(comma));
  EXPECT_NE(std::string::npos, ReadFile(comma).find("stroke-width=\"0.16\""));  // 2 x 80 / 1000
}

TEST_F(CardsimSvg, TheConfigurationsFileIsWrittenAtTheEndOfEachRun) {
  const std::string config = dir.File("card.cfg"), picture = dir.File("run.svg");
  std::ofstream(config) << "svg = run.svg\nfield_mm = 80, 60\nhalf_range_mm = 2.5\n";
  plat::SetEnvVar("CARDSIM_CONFIG", config);
  cardsim_reset();
  plat::SetEnvVar("CARDSIM_CONFIG", "");
  struct Case {
    std::vector<Timed> words;  // without the end word
    uint32_t endWord, flag;    // what ends the run
    uint32_t endCode;
    const char *viewBox, *dots;
  } cases[] = {
      {Job(80, 60, 0, false), kEnd, 0, 1, "-41.6 -31.6 83.2 63.2", "30,30"},
      {Job(80, 60, 0, false), 0, kFlagStop, 2, "-41.6 -31.6 83.2 63.2", "30,30"},
      {Job(0, 0, 2.5, false), 0, kFlagFlush, 4, "-2.6 -2.6 5.2 5.2", "1.5,1.5"},  // a data break
  };
  for (const Case& c : cases) {
    plat::DeleteFilePath(picture);
    Stream s = Run(c.words);
    EXPECT_FALSE(plat::FileExists(picture)) << c.endCode << ": the run has not ended";
    if (c.endWord) SendBytes(s.At(200, c.endWord).Blocks());
    if (c.flag) Flag(c.flag);
    ASSERT_EQ((std::pair<uint32_t, uint32_t>{c.endCode, 0}), EndCodes());
    const Picture p = Parse(ReadFile(picture));
    EXPECT_EQ(std::tuple(c.viewBox, c.dots), std::tuple(p.viewBox, p.dots)) << c.endCode;
  }

  // Sizes that are no sizes; an empty svg turns the picture off, the lines before a bad one hold.
  struct Bad { const char* text; uint32_t rc; } bad[] = {
      {"field_mm = abc\n", 1}, {"field_mm = 80, 0\n", 1}, {"half_range_mm = -1\n", 1}, {"laser_type = 8\n", 1},
      {"svg =\nfield_mm = 1,5\nhalf_range_mm = 1,5\n", 3}};
  for (const Bad& b : bad) {
    std::ofstream(config) << b.text;
    EXPECT_EQ(b.rc, cardsim_load_config(config.c_str())) << b.text;
  }
  plat::DeleteFilePath(picture);
  Run(Job(100, 100, 0));
  EXPECT_FALSE(plat::FileExists(picture));
  ASSERT_EQ(0u, cardsim_write_svg(picture.c_str(), 0, 0, 0));
  EXPECT_EQ("-0.6 -2.6 1.2 5.2", Parse(ReadFile(picture)).viewBox);  // the field 1 x 5
}

}  // namespace
}  // namespace cardsim_test
