// Updater: fetches a bot's updates by long polling on a thread of its own and
// serves them through its dispatcher.
//
// The fetcher asks getUpdates for the updates after the last one it served
// (offset = last update_id + 1), waiting up to `poll_timeout` for new ones,
// and serves each update once, in order; the Bot API drops an update once a
// later call's offset has passed it. An update that cannot be read is not
// served: it is reported as one line on standard output and passed over like
// a served one, also when its update_id cannot be read (it is numbered by its
// place in the answer), so the updates behind it are served and the next
// call confirms past it.
//
// Faults: after a 429 answer the fetcher waits the answer's retry_after
// (errors.h) before its next call; after a 5xx answer, a connection that
// fails or drops (refused, name not resolved, TLS), a time-out or a
// malformed answer it backs off (RetryPolicy) and tries again, so an update
// is neither lost nor served twice. Such an outage is reported as one line on
// standard output when it starts (what failed, the API's address, how often
// the fetcher retries and, for take_pending, for how long) and one when the
// service answers again, however many calls fail in between. A refusal that
// may pass (409 Conflict, while another program polls with the same token or
// a webhook is set, and any other 4xx) is retried with the same back-off and
// reported once, as one line on standard output, however long it lasts. Only
// a token the service does not know (401, 404) ends the fetching, as does a
// base address libcurl cannot use: the error is kept for `error` and
// reported as one line on standard output (HTTP 401 says the token was
// refused). Before its first poll the fetcher calls getMe, which gives the
// username that commands addressed to this bot carry.
//
// Only one getUpdates is ever open at a time: the fetcher's, or the one of
// `take_pending` or of the final confirmation, never two together.
//
// `stop` aborts a long poll at once, waits for the callback in progress, and
// then confirms the served updates with a last getUpdates (the next offset,
// time-out 0, bounded by `confirm_timeout`; asked twice when the aborted poll
// reaches the service after it and makes it answer 409), so the service does
// not send them again at the next start. A stopped Updater does not start
// again.
//
// take_pending must not be called from a callback (it waits for the fetcher);
// stop may be, and fetching then ends once the callback returns, while the
// join and the confirmation fall to the next stop from another thread (the
// destructor's at the latest). Call start_polling before any other thread
// uses the Updater.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/telegram/backoff.h"
#include "platform/telegram/bot.h"
#include "platform/telegram/dispatcher.h"
#include "platform/telegram/errors.h"

namespace platform::telegram {

struct UpdaterOptions {
  std::chrono::seconds poll_timeout{30};
  RetryPolicy retry{};
  std::chrono::milliseconds confirm_timeout{2000};
};

class Updater {
 public:
  explicit Updater(std::unique_ptr<Bot> bot, UpdaterOptions options = {});
  // Stops.
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  Bot& bot() const { return *bot_; }
  Dispatcher& dispatcher() { return dispatcher_; }

  // Starts fetching in the background and returns at once. Does nothing when
  // fetching has started before.
  void start_polling();

  // Ends fetching (see above); returns within about a second, plus the
  // confirmation. Safe to call more than once.
  void stop();

  // Whether the fetcher thread is running.
  bool running() const;

  // The error that ended fetching; absent while fetching goes on or after a
  // plain stop.
  std::optional<std::string> error() const;

  // The updates pending now, oldest first: one getUpdates with time-out 0,
  // made by the fetcher (a long poll in progress is cut short for it) or,
  // when the fetcher is not running, by the caller. A running fetcher then
  // serves them as usual, so taking loses nothing; without one, the updates
  // taken count as served: they are not dispatched and are confirmed at the
  // next call. Waits at most `limit` for the answer, with the same retries as
  // the fetcher; a lasting fault is thrown. Returns an empty list when nothing
  // is pending. Updates that cannot be read are left out.
  std::vector<Update> take_pending(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  using Clock = std::chrono::steady_clock;

  // A request of take_pending to the fetcher.
  struct Take {
    bool wanted = false;
    bool done = false;
    std::vector<Update> updates{};
    std::exception_ptr error{};
  };

  void run();
  bool identify();
  bool poll_once();
  void serve(const std::vector<Update>& batch);
  // A stop token for the next call, cut by `stop` and by take requests; absent
  // once stopping.
  std::optional<std::stop_token> begin_call();
  // getUpdates from the current offset with retries; absent when aborted or
  // stopped. With `consume`, the offset moves past the updates returned.
  std::optional<std::vector<Update>> fetch(std::chrono::seconds timeout,
                                           const std::stop_token& stop, Clock::time_point deadline,
                                           bool consume);
  template <class Call>
  auto with_retries(Call&& call, Clock::time_point deadline) -> std::optional<decltype(call())>;
  // A call met `error`, which may pass: the first of an outage opens it with
  // one line; `deadline` is when the caller gives up.
  void unanswered(const TelegramError& error, Clock::time_point deadline);
  // A call was answered: ends an outage with one line.
  void answered();
  // Sleeps for `delay` unless stopped first; returns whether it slept it out.
  bool pause(std::chrono::milliseconds delay);
  void confirm();
  // Records and reports the error that ends fetching.
  void fail(const std::string& message, std::exception_ptr error);

  std::unique_ptr<Bot> bot_;
  Dispatcher dispatcher_;
  const UpdaterOptions options_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool stopping_ = false;
  bool running_ = false;
  std::thread::id fetcher_id_;
  std::stop_source call_stop_;
  std::int64_t offset_ = 0;     // the next update to serve
  std::int64_t confirmed_ = 0;  // the offset of the last successful getUpdates
  Take take_;
  std::optional<std::string> error_;
  // When the Bot API stopped answering; absent while it answers.
  std::optional<Clock::time_point> outage_since_;

  std::mutex poll_mutex_;  // held around every getUpdates
  std::mutex join_mutex_;  // held while starting the thread or stopping
  bool stopped_ = false;   // joined and confirmed
  std::thread thread_;
};

}  // namespace platform::telegram
