// plat::Thread: a std::thread kept by its owner and joined, never detached.
#include "platform/thread.h"

#include <atomic>
#include <system_error>
#include <utility>

#include "platform/fault_point.h"

namespace plat {

bool Thread::Start(std::function<void()> body) {
  // One body at a time: a thread that was started and not yet joined is kept as it is.
  if (t_.joinable() || !body || ThreadRefused()) return false;
  try {
    t_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

namespace {
std::atomic<bool> g_processEnding{false};
}  // namespace

void SetProcessEnding() { g_processEnding.store(true); }
bool ProcessEnding() { return g_processEnding.load(); }

void Thread::Join() {
  if (!t_.joinable()) return;
  // The system ended the thread with the process: only the object is left to let go.
  if (ProcessEnding()) {
    t_.detach();
    return;
  }
  // A thread cannot join itself; its owner joins it later.
  if (t_.get_id() != std::this_thread::get_id()) t_.join();
}

}  // namespace plat
