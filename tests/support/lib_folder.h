#pragma once
// A unit test's own library folder: the core linked into the test program takes a fresh folder as
// its own (GetModuleDir, with "ini/" for the configuration files), boxes are captured into
// "boxes.txt" and the daily and error logs are written to "info.log" and "error.log" in it. The
// folder, the main configuration, the logs, the box log and the language are put back afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qztest {

class LibFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file below the folder ('/' separates).
  void WriteFile(const std::string& rel, const std::string& text) const;
  std::vector<std::string> Boxes() const;
  std::vector<std::string> InfoLines() const;
  std::vector<std::string> ErrorLines() const;
  // Empties the box log and both logs.
  void ClearLogs() const;

  TempDir dir;
};

// Whether one of the lines contains `text`.
bool HasLine(const std::vector<std::string>& lines, const std::string& text);

}  // namespace qztest
