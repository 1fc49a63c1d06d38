// Outbox: messages handed over now and delivered in order on a thread of its
// own, so that a slow or failing send never holds up the caller.
//
// Each message is tried until it is sent or given up: after a 429 answer the
// outbox waits the answer's retry_after and sends again; after a 5xx answer, a
// dropped connection or a time-out it backs off (RetryPolicy) and sends again;
// a message still unsent after `attempts` tries, or refused for good (any
// other 4xx), is reported as one line on standard output with its chat and
// text, never dropped silently. A send that fails after the service received
// it (the connection dropped before the answer) is sent again, so such a
// message may arrive twice; none is lost.
//
// All members are safe to call from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/telegram/backoff.h"

namespace platform::telegram {

struct OutboxOptions {
  RetryPolicy retry{};
  int attempts = 4;  // tries per message, counting the first
};

class Outbox {
 public:
  // Sends one message or throws the errors of errors.h; must give up with
  // Aborted when `stop` is requested.
  using Send =
      std::function<void(std::int64_t chat_id, const std::string& text, std::stop_token stop)>;

  Outbox(Send send, OutboxOptions options = {});
  // Stops at once: the message being sent is aborted, and it and every
  // message still waiting are reported as not sent.
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Queues `text` for `chat_id` behind the messages already queued.
  void post(std::int64_t chat_id, std::string text);

  // Waits until every message queued so far has been sent or reported, at most
  // `limit`; returns whether that happened.
  bool flush(std::chrono::milliseconds limit);

  // How many messages have been given up (and reported) so far.
  std::size_t unsent() const;

 private:
  struct Item {
    std::int64_t chat_id;
    std::string text;
  };

  void run(std::stop_token stop);
  // Sends `item`, retrying as described; returns whether it was sent.
  bool deliver(const Item& item, const std::stop_token& stop);
  // Sleeps for `delay` unless stopped first; returns whether it slept it out.
  bool pause(std::chrono::milliseconds delay, const std::stop_token& stop);

  Send send_;
  OutboxOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable_any cv_;
  std::deque<Item> queue_;
  bool busy_ = false;  // a message has been taken off the queue and is in flight
  std::size_t unsent_ = 0;
  std::jthread thread_;  // last: started after, and stopped before, the rest
};

}  // namespace platform::telegram
