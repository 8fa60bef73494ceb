#pragma once
// A host's view of the library for end-to-end tests: the built library copied into a fresh folder
// (plain, or inside a per-card "QuenloDLL<c>" folder), its configuration written beside it, loaded
// the way a host loads it, and its exports resolved by name. Boxes are captured through
// QZMARK_MSGBOX_LOG into a file of the staging folder. Each test runs in its own process, so the
// library's load-time behaviour is fresh in every test; a loaded library stays loaded until the
// process ends.
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
  // The library's folder, ending with the separator.
  const std::string& LibDir() const { return libDir_; }
  // Where the library looks for its configuration files and writes its logs (ending with the
  // separator).
  std::string ConfigDir() const;
  std::string LogDir() const;

  // Copies a companion: a stand-in ("full" or "partial" export set) of Gridel, Corrix, Portlane or
  // PortlanePCIE.
  void AddStandIn(const std::string& module, const std::string& variant);
  // Copies our calibration modules (Corrix and Gridel) beside the library, as they are deployed.
  void AddCaliModules();
  // A control function of a companion loaded beside the library ("Corrix", "Gridel"): the same
  // module the library loaded, so the same state.
  void* ModuleSymbol(const std::string& module, const char* name);
  // Copies the simulated card (both variants) beside the library; cardType (0 USB, 1 PCIe) is the
  // card type the configuration names, so the variant the library loads.
  void AddSimCard(int cardType = 0);
  // A control function of the simulated card loaded beside the library (the same module the
  // library loaded, so the same card model).
  void* SimSymbol(const char* name);
  template <class F>
  F Sim(const char* name) {
    return reinterpret_cast<F>(SimSymbol(name));
  }
  // Writes a file of the configuration folder (created when missing).
  void WriteConfig(const std::string& name, const std::string& content) const;
  // The example language files of the project.
  void AddExampleLanguageFiles() const;

  // Loads the library; false when the system refused it.
  bool Load();
  void* Symbol(const char* name) const;
  // The host's call to free the library.
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

// Copies built companions (by base name: "Portlane", "Corrix", ...) into `folder` (ending with the
// separator); false when one cannot be copied.
bool CopyCompanions(std::initializer_list<const char*> bases, const std::string& folder);

// The lines of a text file (without line ends); empty when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace qztest
