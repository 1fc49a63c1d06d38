#include "zantrix/framework/event.h"

namespace zantrix::framework {

void Event::set() {
  {
    const std::lock_guard lock(mutex_);
    flag_ = true;
  }
  cv_.notify_all();
}

void Event::clear() {
  const std::lock_guard lock(mutex_);
  flag_ = false;
}

bool Event::is_set() const {
  const std::lock_guard lock(mutex_);
  return flag_;
}

bool Event::wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return flag_; });
  return true;
}

bool Event::wait(std::chrono::duration<double> timeout) {
  std::unique_lock lock(mutex_);
  const auto limit = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
  return cv_.wait_until(lock, limit, [this] { return flag_; });
}

}  // namespace zantrix::framework
