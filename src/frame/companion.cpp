#include "frame/companion.h"

#include "frame/ini_cfg.h"

CompanionModule LoadCompanion(const std::string& base, const std::vector<const char*>& names) {
  CompanionModule m;
  m.entries.assign(names.size(), nullptr);
  m.hModule = plat::LoadModule(GetModuleDir() + plat::CompanionFileName(base));
  m.bModuleLoaded = m.hModule != nullptr;
  if (!m.bModuleLoaded) return m;
  bool all = true;
  for (size_t i = 0; i < names.size(); ++i) {
    m.entries[i] = plat::FindSymbol(m.hModule, names[i]);
    all = all && m.entries[i] != nullptr;
  }
  m.bLoaded = all;
  return m;
}

void FreeCompanion(CompanionModule& m) {
  if (m.hModule) plat::FreeModule(m.hModule);
  m = CompanionModule();
}
