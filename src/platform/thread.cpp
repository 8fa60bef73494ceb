// plat::Thread: a std::thread kept by its owner and joined, never detached.
#include "platform/thread.h"

#include <atomic>
#include <system_error>
#include <utility>

namespace plat {

namespace {
std::atomic<bool> g_failCreation{false};
}  // namespace

bool Thread::Start(std::function<void()> body) {
  // One body at a time: a thread that was started and not yet joined is kept as it is.
  if (t_.joinable() || !body || g_failCreation.load()) return false;
  try {
    t_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Thread::Join() {
  // A thread cannot join itself; its owner joins it later.
  if (t_.joinable() && t_.get_id() != std::this_thread::get_id()) t_.join();
}

void Thread::FailCreationForTest(bool fail) { g_failCreation.store(fail); }

}  // namespace plat
