// The back-off schedule, and the outbox's delivery: order, retries, and what
// becomes of a message that cannot be sent.
#include "platform/telegram/outbox.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "platform/telegram/errors.h"
#include "tests/platform/telegram/fast_options.h"

namespace platform::telegram {
namespace {

using namespace std::chrono_literals;
using testing::kFastRetry;
using testing::kPrompt;

TEST(Backoff, DoublesFromOneSecondToThirtySeconds) {
  Backoff backoff;
  std::vector<long> delays;
  for (int i = 0; i < 8; ++i) delays.push_back(static_cast<long>(backoff.next().count()));
  EXPECT_EQ(delays, (std::vector<long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST(Backoff, FollowsTheGivenPolicy) {
  Backoff backoff({.first_delay = 3ms, .max_delay = 10ms});
  EXPECT_EQ(backoff.next(), 3ms);
  EXPECT_EQ(backoff.next(), 6ms);
  EXPECT_EQ(backoff.next(), 10ms);
  EXPECT_EQ(backoff.next(), 10ms);
}

// A Send that fails as scripted, per text, and records every attempt.
class ScriptedSend {
 public:
  // The first `failures.size()` attempts for `text` throw these, in order.
  void fail(const std::string& text, std::vector<std::exception_ptr> failures) {
    const std::lock_guard lock(mutex_);
    script_[text] = std::move(failures);
  }

  Outbox::Send function() {
    return [this](std::int64_t chat_id, const std::string& text, std::stop_token) {
      const std::lock_guard lock(mutex_);
      attempts_.push_back(text);
      auto& failures = script_[text];
      if (!failures.empty()) {
        const auto failure = failures.front();
        failures.erase(failures.begin());
        std::rethrow_exception(failure);
      }
      sent_.push_back(std::to_string(chat_id) + ":" + text);
    };
  }

  std::vector<std::string> attempts() const {
    const std::lock_guard lock(mutex_);
    return attempts_;
  }
  std::vector<std::string> sent() const {
    const std::lock_guard lock(mutex_);
    return sent_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::vector<std::exception_ptr>> script_;
  std::vector<std::string> attempts_;
  std::vector<std::string> sent_;
};

std::exception_ptr transient() {
  return std::make_exception_ptr(TransientError("HTTP 502", 502));
}

TEST(Outbox, SendsInTheOrderPosted) {
  ScriptedSend send;
  Outbox outbox(send.function(), {.retry = kFastRetry});
  outbox.post(1, "a");
  outbox.post(2, "b");
  outbox.post(1, "c");
  ASSERT_TRUE(outbox.flush(kPrompt));
  EXPECT_EQ(send.sent(), (std::vector<std::string>{"1:a", "2:b", "1:c"}));
}

TEST(Outbox, RetriesAfterTransientFailuresAndTooManyRequests) {
  ScriptedSend send;
  send.fail("a", {transient(), std::make_exception_ptr(RetryAfter("429", 0s)), transient()});
  Outbox outbox(send.function(), {.retry = kFastRetry, .attempts = 4});
  outbox.post(1, "a");
  outbox.post(1, "b");
  ASSERT_TRUE(outbox.flush(kPrompt));
  EXPECT_EQ(send.sent(), (std::vector<std::string>{"1:a", "1:b"}));
  EXPECT_EQ(send.attempts(), (std::vector<std::string>{"a", "a", "a", "a", "b"}));
  EXPECT_EQ(outbox.unsent(), 0u);
}

TEST(Outbox, GivesUpAfterItsAttemptsReportsAndGoesOn) {
  ScriptedSend send;
  send.fail("lost", {transient(), transient(), transient()});
  Outbox outbox(send.function(), {.retry = kFastRetry, .attempts = 3});
  ::testing::internal::CaptureStdout();
  outbox.post(7, "lost");
  outbox.post(7, "next");
  ASSERT_TRUE(outbox.flush(kPrompt));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Telegram: could not send a message to chat 7 (HTTP 502): lost\n");
  EXPECT_EQ(send.sent(), (std::vector<std::string>{"7:next"}));
  EXPECT_EQ(outbox.unsent(), 1u);
}

TEST(Outbox, DoesNotRetryARefusal) {
  ScriptedSend send;
  send.fail("blocked", {std::make_exception_ptr(TelegramError("HTTP 403: blocked", 403))});
  Outbox outbox(send.function(), {.retry = kFastRetry});
  ::testing::internal::CaptureStdout();
  outbox.post(7, "blocked");
  ASSERT_TRUE(outbox.flush(kPrompt));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Telegram: could not send a message to chat 7 (HTTP 403: blocked): blocked\n");
  EXPECT_EQ(send.attempts().size(), 1u);
}

TEST(Outbox, ClosingReportsWhatWasNotSent) {
  std::mutex mutex;
  bool sending = false;
  std::condition_variable started;
  ::testing::internal::CaptureStdout();
  {
    // Every send hangs until the outbox stops it.
    Outbox outbox(
        [&](std::int64_t, const std::string&, std::stop_token stop) {
          {
            const std::lock_guard lock(mutex);
            sending = true;
          }
          started.notify_all();
          std::condition_variable_any wake;
          std::unique_lock lock(mutex);
          wake.wait(lock, stop, [] { return false; });
          throw Aborted();
        },
        {.retry = kFastRetry});
    outbox.post(1, "in flight");
    outbox.post(1, "waiting");
    std::unique_lock lock(mutex);
    ASSERT_TRUE(started.wait_for(lock, kPrompt, [&] { return sending; }));
    lock.unlock();
    EXPECT_FALSE(outbox.flush(10ms));
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Telegram: could not send a message to chat 1 (the bot was closed): in flight\n"
            "Telegram: could not send a message to chat 1 (the bot was closed): waiting\n");
}

}  // namespace
}  // namespace platform::telegram
