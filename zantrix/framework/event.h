// Event: a flag that one thread sets and another waits for.
//
// set() raises the flag and wakes every waiter; clear() lowers it; wait()
// returns as soon as the flag is raised, or when the time-out runs out, and
// reports whether the flag was raised. All members are safe to call from any
// thread at any time. This is the hand-over between the caller's thread and
// a worker thread: a request clears the event, sends its request, then waits;
// the worker's handler sets it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zantrix::framework {

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void clear();
  bool is_set() const;

  // Blocks until the flag is raised; returns true.
  bool wait();
  // Blocks until the flag is raised or `timeout` has passed; returns whether
  // the flag is raised.
  bool wait(std::chrono::duration<double> timeout);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool flag_ = false;
};

}  // namespace zantrix::framework
