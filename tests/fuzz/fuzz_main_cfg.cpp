// "QZMarkPara.cfg" through the whole configuration read of a parameter-file application
// (ApplyParameterFile: the system parameters, the FIFO's buffer keys, the lasers' keys and the
// light path; the fuzz targets' fault point refuses the worker threads it would start).
// Oracle: reading settles the file: a second read writes nothing more into it and reads the same
// laser count, scanner word and buffer keys as the first.
#include "api/library_startup.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "fuzz_support.h"
#include "laser/laser.h"

namespace {

struct Seen {
  int32_t lasers;
  uint32_t galvoBits;
  uint32_t blockBytes;
  bool operator==(const Seen&) const = default;
};

Seen ReadAll() {
  ApplyParameterFile();
  const SystemPara& p = g_SystemPara;
  return Seen{p.nLaserCount, static_cast<uint32_t>(p.nBufDataCheckType), static_cast<uint32_t>(LasersInUse())};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qzfuzz::IniFile("QZMarkPara.cfg");
  FUZZ_CHECK(plat::WriteWholeFile(path, qzfuzz::Bytes(data, size)), "cannot stage the file");
  Seen first{}, second{};
  try {
    first = ReadAll();
  } catch (const MyException&) {
    return 0;  // a refusal (with its own report) is an answer
  }
  std::string once, twice;
  FUZZ_CHECK(plat::ReadWholeFile(path, once), "the file is gone");
  second = ReadAll();
  FUZZ_CHECK(plat::ReadWholeFile(path, twice) && twice == once, "a second read changed the file");
  FUZZ_CHECK(first == second, "a second read read other values");
  FUZZ_CHECK(LasersInUse() >= 1 && LasersInUse() <= 2, "%d lasers in use", LasersInUse());
  return 0;
}
