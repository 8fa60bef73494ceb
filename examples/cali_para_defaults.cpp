// A step of the build, not an example host: writes "CaliPara.cl" into <folder>/ini/ with the
// calibration block the library takes at load when the file is missing (its defaults), through the
// library's own writer, byte for byte as the library would save it. The example configuration ships
// it beside Default.box, so that a card of either calibration method finds what it reads.
//   qz_cali_para_defaults <folder>
#include <cstdio>
#include <string>

#include "calibration/box_para.h"
#include "platform/fault_point.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

std::string g_folder;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qz_cali_para_defaults <folder>\n");
    return 2;
  }
  g_folder = argv[1];
  // The library's folder is <folder>: its configuration folder is <folder>/ini.
  static const plat::FaultPoint libraryFolder{.moduleDir = [] { return g_folder; }};
  plat::SetFaultPoint(&libraryFolder);
  if (!plat::CreateFolders(g_folder + plat::kPathSep + "ini")) return 1;
  BoxParaBlock defaults;
  SetBoxParaDefaults(defaults);
  StoreBoxPara(defaults);
  return CCaliLink::WritePara() ? 0 : 1;
}
