#pragma once
// Shared<T>: a setting that a host thread rewrites in place (opening a card, applying the parameter
// file, QZ_SetFlyPara) while other threads read it (the monitor and the watchdog, the immediate and
// fly exports, a job's end after its task was released). One relaxed atomic word that copies,
// assigns and converts like the plain field it stands for, so a record of them stays a plain record
// for its readers: each read gives either the old or the new value, never a torn one. A reader that
// needs several fields consistent with each other takes a snapshot under the writer's lock instead.
#include <atomic>
#include <cstdint>

template <class T>
class Shared {
  static_assert(std::atomic<T>::is_always_lock_free);

 public:
  constexpr Shared() = default;
  constexpr Shared(T v) : v_(v) {}  // NOLINT: converts like the plain field it stands for
  Shared(const Shared& o) : v_(o.load()) {}
  Shared& operator=(const Shared& o) {
    store(o.load());
    return *this;
  }
  Shared& operator=(T v) {
    store(v);
    return *this;
  }
  operator T() const { return load(); }  // NOLINT
  T load() const { return v_.load(std::memory_order_relaxed); }
  void store(T v) { v_.store(v, std::memory_order_relaxed); }

 private:
  std::atomic<T> v_{};
};
static_assert(sizeof(Shared<int32_t>) == 4 && sizeof(Shared<double>) == 8 && sizeof(Shared<uint16_t>) == 2);

using SharedInt32 = Shared<int32_t>;
