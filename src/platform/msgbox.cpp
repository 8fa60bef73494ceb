// Message boxes: the box log (QZMARK_MSGBOX_LOG / QZMARK_MSGBOX_ANSWER) on every platform, the
// system's box otherwise.
#include "platform/msgbox.h"

#include "platform/detail.h"
#include "platform/module.h"

namespace plat {

std::string MessageBoxLogLine(const std::string& text, BoxButtons buttons, bool topmost) {
  std::string line = topmost ? "topmost " : "plain ";
  line += buttons == BoxButtons::Ok ? "ok: " : "yesno: ";
  line.reserve(line.size() + text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '\\': line += "\\\\"; break;
      case '\r': line += "\\r"; break;
      case '\n': line += "\\n"; break;
      default: line += c;
    }
  }
  return line;
}

BoxAnswer ShowMessageBox(const std::string& text, BoxButtons buttons, bool topmost) {
  // Read at every box, so that a test may switch the log on and off while the library is loaded.
  const std::string log = GetEnvVar("QZMARK_MSGBOX_LOG");
  if (log.empty()) return detail::ShowSystemBox(text, buttons, topmost);

  // A log that cannot be written still never lets the box block: the answer is given anyway.
  detail::AppendToFile(log, MessageBoxLogLine(text, buttons, topmost) + "\n");
  if (buttons == BoxButtons::Ok) return BoxAnswer::Ok;
  return GetEnvVar("QZMARK_MSGBOX_ANSWER") == "yes" ? BoxAnswer::Yes : BoxAnswer::No;
}

}  // namespace plat
