#pragma once
// A unit test's own library folder: the linked core takes a fresh folder as its own (with "ini/"),
// boxes go to "boxes.txt", the logs to "info.log" and "error.log"; all is put back afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qztest {

class LibFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void WriteFile(const std::string& rel, const std::string& text) const;
  std::vector<std::string> Boxes() const;
  std::vector<std::string> InfoLines() const;
  std::vector<std::string> ErrorLines() const;
  void ClearLogs() const;

  TempDir dir;
};

// Whether one of the lines contains `text`.
bool HasLine(const std::vector<std::string>& lines, const std::string& text);

}  // namespace qztest
