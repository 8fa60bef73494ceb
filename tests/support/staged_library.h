#pragma once
// A host's view of the library: the built library copied into a fresh folder (plain, or in a
// per-card "QuenloDLL<c>" folder), its configuration beside it, loaded as a host loads it, exports
// resolved by name, boxes captured through QZMARK_MSGBOX_LOG. It stays loaded until the process ends.
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/module.h"
#include "support/temp_dir.h"

namespace qztest {

class StagedLibrary {
 public:
  // cardChar 0: the library lies in <root>/bin/; otherwise in <root>/QuenloDLL<cardChar>/.
  explicit StagedLibrary(char cardChar = 0);

  const std::string& Root() const { return root_.Path(); }
  // The library's folder; where it reads its configuration and writes its logs (all ending with the
  // separator).
  const std::string& LibDir() const { return libDir_; }
  std::string ConfigDir() const;
  std::string LogDir() const;
  // Today's file of the log folder: prefix, month and day as "MM_DD", suffix.
  std::string TodaysLog(const std::string& prefix, const std::string& suffix) const;

  // Copies a stand-in companion ("full" or "partial" export set).
  void AddStandIn(const std::string& module, const std::string& variant);
  // Copies our calibration modules (Corrix and Gridel) beside the library, as they are deployed.
  void AddCaliModules();
  // A function of a companion beside the library ("Corrix"): the module the library loaded.
  void* ModuleSymbol(const std::string& module, const char* name);
  // Copies the simulated card (both variants); cardType (0 USB, 1 PCIe) picks the one the library loads.
  void AddSimCard(int cardType = 0);
  // A control function of the simulated card the library loaded.
  void* SimSymbol(const char* name);
  // Writes a file of the configuration folder (created when missing); the example language files.
  void WriteConfig(const std::string& name, const std::string& content) const;
  void AddExampleLanguageFiles() const;

  // Loads the library (false when refused); the host's call to free it.
  bool Load();
  void* Symbol(const char* name) const;
  void Free();
  template <class F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }

  // The boxes shown so far, one line each ("<topmost|plain> <ok|yesno>: <text>").
  std::vector<std::string> Boxes() const;
  std::string BoxLogPath() const { return root_.File("boxes.txt"); }

 private:
  TempDir root_;
  std::string libDir_;
  char cardChar_;
  plat::ModuleHandle module_ = nullptr;
  plat::ModuleHandle sim_ = nullptr;
  std::vector<plat::ModuleHandle> companions_;
  int simCardType_ = 0;
};

// The library's file name on this platform.
std::string LibraryFileName();

// Copies built companions (by base name: "Portlane", ...) into `folder`; false when one fails.
bool CopyCompanions(std::initializer_list<const char*> bases, const std::string& folder);

// The lines of a text file (without line ends); empty when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace qztest
