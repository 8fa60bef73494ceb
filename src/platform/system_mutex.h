#pragma once
// A named, system-wide mutex with "already exists" semantics: the first holder of a name gets it;
// any later attempt, from this process or another, is told that it already exists. A process that
// dies releases what it held.
#include <cstdint>
#include <string>

namespace plat {

class SystemMutex {
 public:
  enum class Result { Created, AlreadyExists, Failed };

  SystemMutex() = default;
  ~SystemMutex() { Close(); }
  SystemMutex(const SystemMutex&) = delete;
  SystemMutex& operator=(const SystemMutex&) = delete;

  // Creates and holds the mutex `name`. On AlreadyExists or Failed nothing is held.
  Result Create(const std::string& name);
  // Releases the mutex when held; harmless otherwise.
  void Close();
  bool IsHeld() const { return handle_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;
};

}  // namespace plat
