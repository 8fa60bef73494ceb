#include "support/staged_library.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "frame/ini_cfg.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace qztest {

std::string LibraryFileName() {
#if defined(_WIN32)
  return "QZMark.dll";
#else
  return "libqzmark.so";
#endif
}

namespace {

void CopyOrThrow(const std::string& from, const std::string& to) {
  if (!plat::CopyFilePath(from, to)) throw std::runtime_error("cannot copy " + from + " to " + to);
}

}  // namespace

bool CopyCompanions(std::initializer_list<const char*> bases, const std::string& folder) {
  for (const char* base : bases) {
    const std::string file = plat::CompanionFileName(base);
    if (!plat::CopyFilePath(NativePath(QZ_DEPLOY_DIR) + plat::kPathSep + file, folder + file)) return false;
  }
  return true;
}

StagedLibrary::StagedLibrary(char cardChar) : cardChar_(cardChar) {
#if !defined(_WIN32)
  // The system-wide mutexes of the card are files in the temporary folder: a folder of this test's
  // own keeps test runs of other build trees on the same machine from taking the same card.
  plat::SetEnvVar("TMPDIR", root_.Path());
#endif
  libDir_ = root_.Path() + (cardChar ? std::string("QuenloDLL") + cardChar : std::string("bin")) +
            plat::kPathSep;
  if (!plat::CreateFolders(libDir_)) throw std::runtime_error("cannot create " + libDir_);
  CopyOrThrow(NativePath(QZ_DEPLOY_DIR) + plat::kPathSep + LibraryFileName(), libDir_ + LibraryFileName());
}

std::string StagedLibrary::ConfigDir() const {
  std::string p = ResolveConfigPath(libDir_, "x");
  return p.substr(0, p.size() - 1);
}

std::string StagedLibrary::LogDir() const { return ResolveLogDir(libDir_); }

std::string StagedLibrary::TodaysLog(const std::string& prefix, const std::string& suffix) const {
  const plat::LocalTime t = plat::SystemClock().Local();
  char day[16];
  std::snprintf(day, sizeof day, "%02d_%02d", t.month, t.day);
  return LogDir() + prefix + day + suffix;
}

void StagedLibrary::AddStandIn(const std::string& module, const std::string& variant) {
  const std::string file = plat::CompanionFileName(module);
  CopyOrThrow(NativePath(QZ_TEST_MODULES_DIR) + plat::kPathSep + variant + plat::kPathSep + file,
              libDir_ + file);
}

void StagedLibrary::AddCaliModules() {
  if (!CopyCompanions({"Corrix", "Gridel"}, libDir_)) throw std::runtime_error("cannot copy the calibration modules");
}

void* StagedLibrary::ModuleSymbol(const std::string& module, const char* name) {
  // Loading the file again gives the module the library already holds (one more reference, kept for good).
  plat::ModuleHandle m = plat::LoadModule(libDir_ + plat::CompanionFileName(module));
  if (!m) return nullptr;
  companions_.push_back(m);
  return plat::FindSymbol(m, name);
}

void StagedLibrary::AddSimCard(int cardType) {
  simCardType_ = cardType;
  if (!CopyCompanions({"Portlane", "PortlanePCIE"}, libDir_)) throw std::runtime_error("cannot copy the simulated card");
}

void* StagedLibrary::SimSymbol(const char* name) {
  // Loading the library's variant again gives the module the library already holds.
  if (!sim_) sim_ = plat::LoadModule(libDir_ + plat::CompanionFileName(simCardType_ ? "PortlanePCIE" : "Portlane"));
  return sim_ ? plat::FindSymbol(sim_, name) : nullptr;
}

void StagedLibrary::WriteConfig(const std::string& name, const std::string& content) const {
  plat::CreateFolders(ConfigDir());
  if (!plat::WriteWholeFile(ConfigDir() + name, content)) throw std::runtime_error("cannot write " + name);
}

void StagedLibrary::AddExampleLanguageFiles() const {
  for (const char* name : {"QZ_zh.txt", "QZ_en.txt"}) {
    std::string text;
    if (!plat::ReadWholeFile(NativePath(std::string(QZ_SOURCE_DIR) + "/examples/ini/" + name), text))
      throw std::runtime_error(std::string("cannot read the example ") + name);
    WriteConfig(name, text);
  }
}

bool StagedLibrary::Load() {
  plat::SetEnvVar("QZMARK_MSGBOX_LOG", BoxLogPath());
  module_ = plat::LoadModule(libDir_ + LibraryFileName());
  return module_ != nullptr;
}

void StagedLibrary::Free() {
  if (module_) plat::FreeModule(module_);
  module_ = nullptr;
}

void* StagedLibrary::Symbol(const char* name) const { return module_ ? plat::FindSymbol(module_, name) : nullptr; }

std::vector<std::string> StagedLibrary::Boxes() const { return ReadLines(BoxLogPath()); }

std::vector<std::string> ReadLines(const std::string& path) {
  std::string text;
  std::vector<std::string> lines;
  if (!plat::ReadWholeFile(path, text)) return lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line); lines.push_back(line))
    if (!line.empty() && line.back() == '\r') line.pop_back();
  return lines;
}

}  // namespace qztest
