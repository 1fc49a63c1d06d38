#include "platform/telegram/outbox.h"

#include <utility>

#include "platform/telegram/errors.h"
#include "platform/telegram/report.h"

namespace platform::telegram {

namespace {

void report_unsent(std::int64_t chat_id, const std::string& text, std::string_view reason) {
  report("Telegram: could not send a message to chat " + std::to_string(chat_id) + " (" +
         std::string(reason) + "): " + text);
}

}  // namespace

Outbox::Outbox(Send send, OutboxOptions options)
    : send_(std::move(send)),
      options_(options),
      thread_([this](std::stop_token stop) { run(std::move(stop)); }) {}

Outbox::~Outbox() {
  thread_.request_stop();
  thread_.join();
  for (const Item& item : queue_) report_unsent(item.chat_id, item.text, "the bot was closed");
}

void Outbox::post(std::int64_t chat_id, std::string text) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back({chat_id, std::move(text)});
  }
  cv_.notify_all();
}

std::size_t Outbox::unsent() const {
  const std::lock_guard lock(mutex_);
  return unsent_;
}

bool Outbox::flush(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void Outbox::run(std::stop_token stop) {
  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      if (!cv_.wait(lock, stop, [this] { return !queue_.empty(); })) return;
      item = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    const bool sent = deliver(item, stop);
    {
      const std::lock_guard lock(mutex_);
      busy_ = false;
      if (!sent) ++unsent_;
    }
    cv_.notify_all();
  }
}

bool Outbox::deliver(const Item& item, const std::stop_token& stop) {
  const auto give_up = [&](std::string_view reason) {
    report_unsent(item.chat_id, item.text, reason);
    return false;
  };
  Backoff backoff(options_.retry);
  for (int attempt = 1;; ++attempt) {
    std::chrono::milliseconds delay;
    try {
      send_(item.chat_id, item.text, stop);
      return true;
    } catch (const Aborted&) {
      return give_up("the bot was closed");
    } catch (const RetryAfter& e) {
      if (attempt >= options_.attempts) return give_up(e.what());
      delay = e.retry_after();
    } catch (const TransientError& e) {
      if (attempt >= options_.attempts) return give_up(e.what());
      delay = backoff.next();
    } catch (const std::exception& e) {
      return give_up(e.what());
    }
    if (!pause(delay, stop)) return give_up("the bot was closed");
  }
}

bool Outbox::pause(std::chrono::milliseconds delay, const std::stop_token& stop) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, stop, delay, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace platform::telegram
