// Message boxes, debug output and the timer resolution on POSIX.
#include <unistd.h>

#include <cerrno>

#include "platform/debug_out.h"
#include "platform/detail.h"
#include "platform/module.h"

namespace plat {

namespace {

void WriteStderr(std::string text) {
  if (text.empty() || text.back() != '\n') text += '\n';
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

namespace detail {

BoxAnswer ShowSystemBox(const std::string& text, BoxButtons buttons, bool /*topmost*/) {
  // No one can answer here: the text goes to standard error and a question is answered No.
  WriteStderr(text);
  return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::No;
}

}  // namespace detail

void DebugOutput(const std::string& text) {
  if (!GetEnvVar("QZMARK_DEBUG_OUT").empty()) WriteStderr(text);
}

void TimerResolutionBegin(unsigned /*ms*/) {}
void TimerResolutionEnd(unsigned /*ms*/) {}

}  // namespace plat
