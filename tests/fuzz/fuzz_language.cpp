// The language file and the error texts read from it (the file named by [OTHER] languageFile,
// here "QZ_en.txt": not the default name, so that only a configuration that was read finds it).
// Oracle: the language is English; codes 0 and 2 keep their fixed texts; every other code's text is
// its key's value in the file (at most 255 bytes, within one line), and GetErrText answers it; a
// code without a text answers the empty text; a file that opens with [language] and code 1's key
// gives code 1 that value.
#include <cstdlib>

#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool boxes = [] {  // the "no language File" box of an empty folder goes to a file
    qzfuzz::LibraryFolder();
    return plat::WriteWholeFile(qzfuzz::IniFile("QZMarkPara.cfg"), "[OTHER]\nlanguageFile=QZ_en.txt\n");
  }();
  FUZZ_CHECK(boxes, "cannot stage the configuration");
  const std::string file = qzfuzz::Bytes(data, size);
  FUZZ_CHECK(plat::WriteWholeFile(qzfuzz::IniFile("QZ_en.txt"), file), "cannot stage the file");
  InitLanguage();
  g_mapErrText.clear();
  InitErrorTexts();
  FUZZ_CHECK(g_bLangZh == 0, "the configured language file was not the one read");
  FUZZ_CHECK(GetErrText(0) == "OK" && GetErrText(2) == "Error", "the fixed texts changed");
  const std::string opening = qzfuzz::OpeningValue(file, "language", ErrTextKey(1));
  FUZZ_CHECK(opening.empty() || GetErrText(1) == opening, "code 1 reads \"%s\", the file says \"%s\"",
             GetErrText(1).c_str(), opening.c_str());
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
