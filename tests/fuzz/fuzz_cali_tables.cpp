// The two box-correction tables built from a box parameter block (CCaliLink::CreateTableAll) with our
// box-correction module, whose half range R is a sixteenth of the block's real at byte 96. The input is
// laid over the default block.
// Oracle: R becomes the module's value when that is finite and above 0, else stays as it was; the build
// leaves the block as it was; table 0 does not depend on table 1's own fields (its extra offsets, scales
// and angle), and table 1 is table 0 when those are neutral (offsets 0, scales 1, no angle of its own).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/box_para.h"
#include "calibration/cali_link.h"
#include "calibration/cali_modules.h"
#include "fuzz_support.h"

namespace {

struct Built {
  std::vector<uint8_t> t0, t1;
  double r;
};

Built Build(const BoxParaBlock& block) {
  static const bool loaded = [] {
    std::string from = QZ_DEPLOY_DIR "/" + plat::CompanionFileName("Gridel");
    std::replace(from.begin(), from.end(), '/', plat::kPathSep);
    plat::CopyFilePath(from, qzfuzz::LibraryFolder() + plat::CompanionFileName("Gridel"));
    LoadGridelModule();
    return g_GridelModule.bLoaded != 0;
  }();
  FUZZ_CHECK(loaded, "the box-correction module does not load from %s", QZ_DEPLOY_DIR);
  CCaliLink::SetHalfRange(10.0);
  StoreBoxPara(block);
  CCaliLink::CreateTableAll();
  FUZZ_CHECK(CopyBoxPara() == block, "building the tables changed the block");
  Built b{std::vector<uint8_t>(CCaliLink::kTableBytes), std::vector<uint8_t>(CCaliLink::kTableBytes),
          CCaliLink::HalfRange()};
  CCaliLink::TableImage(0, b.t0.data());
  CCaliLink::TableImage(1, b.t1.data());
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BoxParaBlock block;
  SetBoxParaDefaults(block);
  std::memcpy(block.data(), data, std::min(size, block.size()));
  const Built a = Build(block);
  const double r = BoxGetF64(block, 96) / 16.0;
  FUZZ_CHECK(a.r == (std::isfinite(r) && r > 0.0 ? r : 10.0), "the module's range %g gave R %g", r, a.r);

  BoxParaBlock neutral = block;
  for (size_t at : {kBoxT1OffsetX, kBoxT1OffsetY}) BoxSetF64(neutral, at, 0.0);
  for (size_t at : {kBoxT1ScaleX, kBoxT1ScaleY}) BoxSetF64(neutral, at, 1.0);
  const uint32_t ext = BoxGetU32(block, kBoxExtension);
  if (ext >> 24 == 0xA5) BoxSetU32(neutral, kBoxExtension, ext & ~kBoxExtTable1Angle);
  const Built b = Build(neutral);
  FUZZ_CHECK(b.t0 == a.t0, "table 0 depends on table 1's own fields");
  FUZZ_CHECK(b.t1 == a.t0, "table 1 without fields of its own is not table 0");
  return 0;
}
