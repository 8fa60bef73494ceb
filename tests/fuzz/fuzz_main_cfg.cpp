// "QZMarkPara.cfg" through the whole configuration read of a parameter-file application
// (ApplyParameterFile: the system parameters, the FIFO's buffer keys, the lasers' keys and the
// light path; the fuzz targets' fault point refuses the worker threads it would start).
// Oracle: the file is the one read: a file that opens with [Main] CardVertion=n reads n; reading
// settles the file: a second read writes nothing more into it and reads the same laser count,
// scanner word and buffer keys as the first.
#include <charconv>

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
  const std::string file = qzfuzz::Bytes(data, size);
  FUZZ_CHECK(plat::WriteWholeFile(path, file), "cannot stage the file");
  Seen first{}, second{};
  try {
    first = ReadAll();
  } catch (const MyException&) {
    return 0;  // a refusal (with its own report) is an answer
  }
  const std::string version = qzfuzz::OpeningValue(file, "Main", "CardVertion");
  int32_t n = 0;
  if (const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), n);
      ec == std::errc() && end == version.data() + version.size())
    FUZZ_CHECK(g_SystemPara.CardVertion == n, "CardVertion=%s read as %d", version.c_str(),
               static_cast<int>(g_SystemPara.CardVertion));
  std::string once, twice;
  FUZZ_CHECK(plat::ReadWholeFile(path, once), "the file is gone");
  second = ReadAll();
  FUZZ_CHECK(plat::ReadWholeFile(path, twice) && twice == once, "a second read changed the file");
  FUZZ_CHECK(first == second, "a second read read other values");
  return 0;
}
