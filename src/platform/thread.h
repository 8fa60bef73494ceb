#pragma once
// A joinable thread owned by whoever started it; joined when stopped or destroyed, never detached.
#include <functional>
#include <thread>

namespace plat {

class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread. False when the thread could not be created (nothing runs then);
  // the fault point may refuse the thread (platform/fault_point.h).
  bool Start(std::function<void()> body);
  // Waits for the thread to end; does nothing when none was started or it was joined already.
  // Once the process is ending (ProcessEnding), a started thread is let go without a wait.
  void Join();
  bool Running() const { return t_.joinable(); }

 private:
  std::thread t_;
};

// Called by the library's entry when the system ends the process: the system has ended every
// other thread already, and a wait for one of them under the system's loader lock could last
// forever. From then on, joins let the ended threads go instead of waiting for them.
void SetProcessEnding();
bool ProcessEnding();

}  // namespace plat
