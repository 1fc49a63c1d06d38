// The delays between attempts after a failure that may pass by itself (a 5xx
// answer, a dropped connection, a time-out): the first delay, then twice the
// previous one, never more than the limit. 1 s doubling to 30 s unless the
// caller chooses others (tests use milliseconds).
#pragma once

#include <algorithm>
#include <chrono>

namespace platform::telegram {

struct RetryPolicy {
  std::chrono::milliseconds first_delay{1000};
  std::chrono::milliseconds max_delay{30000};
};

class Backoff {
 public:
  explicit Backoff(RetryPolicy policy = {}) : policy_(policy), next_(policy.first_delay) {}

  // The delay before the next attempt; each call doubles the one after it.
  std::chrono::milliseconds next() {
    const auto delay = std::min(next_, policy_.max_delay);
    next_ = std::min(delay * 2, policy_.max_delay);
    return delay;
  }

 private:
  RetryPolicy policy_;
  std::chrono::milliseconds next_;
};

}  // namespace platform::telegram
