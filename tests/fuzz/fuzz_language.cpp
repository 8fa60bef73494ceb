// The language file and the error texts read from it (the file named by [OTHER] languageFile,
// here the default "QZ_zh.txt").
// Oracle: codes 0 and 2 keep their fixed texts; every other code's text is its key's value in the
// file (at most 255 bytes, within one line), and GetErrText answers it; a code without a text
// answers the empty text.
#include <cstdlib>

#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool boxes = [] {  // the "no language File" box of an empty folder goes to a file
    qzfuzz::LibraryFolder();
    return plat::WriteWholeFile(qzfuzz::IniFile("QZMarkPara.cfg"), "[OTHER]\nlanguageFile=QZ_zh.txt\n");
  }();
  FUZZ_CHECK(boxes, "cannot stage the configuration");
  FUZZ_CHECK(plat::WriteWholeFile(qzfuzz::IniFile("QZ_zh.txt"), qzfuzz::Bytes(data, size)), "cannot stage the file");
  InitLanguage();
  g_mapErrText.clear();
  InitErrorTexts();
  FUZZ_CHECK(GetErrText(0) == "OK" && GetErrText(2) == "Error", "the fixed texts changed");
  for (int32_t code = -2; code < 80; ++code) {
    const std::string text = GetErrText(code);
    const char* key = code >= 0 ? ErrTextKey(static_cast<uint32_t>(code)) : nullptr;
    if (code == 0 || code == 2) continue;
    if (!key) {
      FUZZ_CHECK(text.empty() || g_mapErrText.count(code), "code %d without a key has the text \"%s\"", code, text.c_str());
      continue;
    }
    FUZZ_CHECK(text == GetLanguageString(key), "code %d: \"%s\" is not the file's", code, text.c_str());
    FUZZ_CHECK(text.size() <= 255 && text.find('\n') == std::string::npos, "code %d: a text of %zu bytes",
               code, text.size());
  }
  return 0;
}
