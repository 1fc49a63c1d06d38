#include "platform/telegram/updater.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/telegram/errors.h"
#include "platform/telegram/report.h"

namespace platform::telegram {

using namespace std::chrono_literals;

namespace {

// Whether a refusal may pass by itself: every 4xx but an unknown token.
bool may_pass(const TelegramError& e) {
  return e.status() >= 400 && e.status() < 500 && e.status() != 401 && e.status() != 404;
}

// The line that opens an episode of refusals. The service refuses getUpdates
// with 409 while a webhook is set, and its description says so.
std::string refusal_line(const TelegramError& e) {
  const std::string what = e.what();
  if (e.status() == 409 && what.find("webhook") != std::string::npos) {
    return "Telegram: the service refuses getUpdates while a webhook is set for this bot (" + what +
           "); trying again with back-off until the webhook is deleted";
  }
  return "Telegram: " + what + "; trying again with back-off until it is accepted";
}

// "250 ms", "1 s", "1.5 s", "30 s".
std::string duration_text(std::chrono::milliseconds d) {
  const auto ms = d.count();
  if (ms < 1000) return std::to_string(ms) + " ms";
  const auto tenths = (ms + 50) / 100;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text + " s";
}

// How the fetcher tries again during an outage.
std::string retry_text(const RetryPolicy& retry) {
  const auto first = std::min(retry.first_delay, retry.max_delay);
  if (first == retry.max_delay) return "retrying every " + duration_text(first);
  return "retrying after " + duration_text(first) + ", backing off to every " +
         duration_text(retry.max_delay);
}

std::vector<Update> readable(std::vector<Update> batch) {
  std::erase_if(batch, [](const Update& update) { return update.unreadable.has_value(); });
  return batch;
}

}  // namespace

template <class Call>
auto Updater::with_retries(Call&& call, Clock::time_point deadline)
    -> std::optional<decltype(call())> {
  Backoff backoff(options_.retry);
  bool refused = false;  // reported once for the whole episode
  // The back-off delay, shortened so that the last attempt falls on the
  // deadline; absent once the deadline has passed.
  const auto within_deadline = [&]() -> std::optional<std::chrono::milliseconds> {
    const auto delay = backoff.next();
    const auto now = Clock::now();
    if (now >= deadline) return std::nullopt;
    if (deadline - now >= delay) return delay;
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
  };
  for (;;) {
    std::optional<std::chrono::milliseconds> delay;
    try {
      auto result = call();
      answered();
      return result;
    } catch (const Aborted&) {
      return std::nullopt;
    } catch (const RetryAfter& e) {
      answered();
      delay = e.retry_after();
      if (Clock::now() + *delay > deadline) throw;
    } catch (const TransientError& e) {
      unanswered(e, deadline);
      delay = within_deadline();
      if (!delay) throw;
    } catch (const TelegramError& e) {
      answered();
      if (!may_pass(e)) throw;
      if (!refused) report(refusal_line(e));
      refused = true;
      delay = within_deadline();
      if (!delay) throw;
    }
    if (!pause(*delay)) return std::nullopt;
  }
}

void Updater::unanswered(const TelegramError& error, Clock::time_point deadline) {
  {
    const std::lock_guard lock(mutex_);
    if (outage_since_) return;
    outage_since_ = Clock::now();
  }
  const std::string& address = bot_->base_url();
  std::string line = error.status() == 0 ? "Telegram: no answer from the Bot API at " + address
                                         : "Telegram: the Bot API at " + address + " is failing";
  line += " (" + std::string(error.what()) + "); " + retry_text(options_.retry);
  if (deadline == Clock::time_point::max()) {
    line += ", until it answers";
  } else {
    line += ", for up to " +
            duration_text(std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now()));
  }
  report(line);
}

void Updater::answered() {
  Clock::duration out_for{};
  {
    const std::lock_guard lock(mutex_);
    if (!outage_since_) return;
    out_for = Clock::now() - *outage_since_;
    outage_since_.reset();
  }
  report("Telegram: the Bot API at " + bot_->base_url() + " answers again, after " +
         duration_text(std::chrono::round<std::chrono::milliseconds>(out_for)));
}

Updater::Updater(std::unique_ptr<Bot> bot, UpdaterOptions options)
    : bot_(std::move(bot)), dispatcher_(*bot_), options_(options) {}

Updater::~Updater() {
  stop();
}

void Updater::start_polling() {
  const std::lock_guard join(join_mutex_);
  const std::lock_guard lock(mutex_);
  if (running_ || stopping_ || thread_.joinable()) return;
  running_ = true;
  thread_ = std::thread([this] { run(); });
  fetcher_id_ = thread_.get_id();
}

void Updater::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    call_stop_.request_stop();
    // From a callback: the fetcher ends once the callback returns; whoever
    // stops it next from outside joins it and confirms.
    if (std::this_thread::get_id() == fetcher_id_) return;
  }
  cv_.notify_all();
  const std::lock_guard join(join_mutex_);
  if (stopped_) return;
  if (thread_.joinable()) thread_.join();
  confirm();
  stopped_ = true;
}

bool Updater::running() const {
  const std::lock_guard lock(mutex_);
  return running_;
}

std::optional<std::string> Updater::error() const {
  const std::lock_guard lock(mutex_);
  return error_;
}

std::vector<Update> Updater::take_pending(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::unique_lock lock(mutex_);
  if (std::this_thread::get_id() == fetcher_id_) {
    throw std::logic_error("take_pending cannot be called from an update callback");
  }
  if (!cv_.wait_until(lock, deadline, [this] { return !take_.wanted; })) {
    throw std::runtime_error("Telegram: another caller is still taking the pending updates");
  }
  if (!running_) {
    lock.unlock();
    auto batch = fetch(0s, std::stop_token(), deadline, /*consume=*/true);
    if (!batch) throw std::runtime_error("Telegram: the update fetcher was stopped");
    return readable(std::move(*batch));
  }
  take_ = Take{.wanted = true};
  call_stop_.request_stop();  // cut a long poll short: the fetcher polls again with time-out 0
  const bool answered = cv_.wait_until(lock, deadline, [this] { return take_.done; });
  Take result = std::move(take_);
  take_ = Take{};
  lock.unlock();
  cv_.notify_all();
  if (!answered) throw std::runtime_error("Telegram: getUpdates was not answered in time");
  if (result.error) std::rethrow_exception(result.error);
  return std::move(result.updates);
}

void Updater::run() {
  try {
    if (identify()) {
      while (poll_once()) {
      }
    }
  } catch (const std::exception& e) {
    fail(e.what(), std::current_exception());
  }
  {
    const std::lock_guard lock(mutex_);
    running_ = false;
    if (take_.wanted && !take_.done) {
      take_.error =
          std::make_exception_ptr(std::runtime_error("Telegram: the update fetcher was stopped"));
      take_.done = true;
    }
  }
  cv_.notify_all();
}

bool Updater::identify() {
  for (;;) {
    const auto stop = begin_call();
    if (!stop) return false;
    if (with_retries([&] { return bot_->get_me(*stop); }, Clock::time_point::max())) return true;
  }
}

std::optional<std::stop_token> Updater::begin_call() {
  const std::lock_guard lock(mutex_);
  if (stopping_) return std::nullopt;
  call_stop_ = std::stop_source();
  return call_stop_.get_token();
}

bool Updater::poll_once() {
  bool taking = false;
  {
    const std::lock_guard lock(mutex_);
    taking = take_.wanted && !take_.done;
  }
  const auto stop = begin_call();
  if (!stop) return false;
  auto batch = fetch(taking ? 0s : options_.poll_timeout, *stop, Clock::time_point::max(),
                     /*consume=*/false);
  if (!batch) return true;  // cut short: look again at what is wanted
  {
    const std::lock_guard lock(mutex_);
    if (take_.wanted && !take_.done) {
      take_.updates = readable(*batch);
      take_.done = true;
      cv_.notify_all();
    }
  }
  serve(*batch);  // what was taken is served all the same
  return true;
}

void Updater::serve(const std::vector<Update>& batch) {
  for (const Update& update : batch) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;  // the rest stays unconfirmed and comes again at the next start
    }
    if (!update.unreadable) dispatcher_.process_update(update);
    const std::lock_guard lock(mutex_);
    offset_ = update.update_id + 1;
  }
}

std::optional<std::vector<Update>> Updater::fetch(std::chrono::seconds timeout,
                                                  const std::stop_token& stop,
                                                  Clock::time_point deadline, bool consume) {
  auto batch = with_retries(
      [&] {
        const std::lock_guard poll(poll_mutex_);
        std::int64_t offset = 0;
        {
          const std::lock_guard lock(mutex_);
          offset = offset_;
        }
        std::vector<Update> batch = bot_->get_updates({.offset = offset, .timeout = timeout}, stop);
        // The service never repeats a confirmed update; should one come, it is not served again.
        std::erase_if(batch, [offset](const Update& update) { return update.update_id < offset; });
        std::ranges::stable_sort(batch, {}, &Update::update_id);
        const std::lock_guard lock(mutex_);
        confirmed_ = std::max(confirmed_, offset);
        if (consume && !batch.empty()) offset_ = std::max(offset_, batch.back().update_id + 1);
        return batch;
      },
      deadline);
  if (!batch) return batch;
  for (const Update& update : *batch) {
    if (update.unreadable) {
      report("Telegram: skipped update " + std::to_string(update.update_id) +
             ", which could not be read (" + *update.unreadable + "): " + update.json);
    }
  }
  return batch;
}

bool Updater::pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !cv_.wait_for(lock, delay, [this] { return stopping_; });
}

void Updater::confirm() {
  const std::lock_guard poll(poll_mutex_);
  std::int64_t offset = 0;
  {
    const std::lock_guard lock(mutex_);
    if (offset_ <= confirmed_) return;
    offset = offset_;
  }
  // The long poll that stop aborted may reach the service after this call,
  // which the service then ends with 409 as the older of two polls; asked
  // once more, it ends the aborted poll instead.
  for (int attempt = 1;; ++attempt) {
    try {
      bot_->get_updates({.offset = offset,
                         .timeout = 0s,
                         .limit = 1,
                         .request_timeout = options_.confirm_timeout});
      const std::lock_guard lock(mutex_);
      confirmed_ = std::max(confirmed_, offset);
      return;
    } catch (const std::exception& e) {
      const auto* refusal = dynamic_cast<const TelegramError*>(&e);
      if (refusal != nullptr && refusal->status() == 409 && attempt == 1) continue;
      report("Telegram: could not confirm the updates served up to " + std::to_string(offset - 1) +
             " (" + e.what() + "); the service may send them again");
      return;
    }
  }
}

void Updater::fail(const std::string& message, std::exception_ptr error) {
  report("Telegram: the update fetcher stopped: " + message);
  const std::lock_guard lock(mutex_);
  error_ = message;
  if (take_.wanted && !take_.done) {
    take_.error = std::move(error);
    take_.done = true;
  }
}

}  // namespace platform::telegram
