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

  // Starts `body` on a new thread. False when the thread could not be created (nothing runs then).
  bool Start(std::function<void()> body);
  // Waits for the thread to end; does nothing when none was started or it was joined already.
  void Join();
  bool Running() const { return t_.joinable(); }

  // Tests: make the next Start calls fail as if the system refused to create a thread.
  static void FailCreationForTest(bool fail);

 private:
  std::thread t_;
};

}  // namespace plat
