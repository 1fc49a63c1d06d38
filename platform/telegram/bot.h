// Bot: a client of the Telegram Bot API for one bot token, over HTTPS.
//
// Each call is one POST of a JSON body to <base address>/bot<token>/<method>,
// answered with the Bot API's JSON envelope. A call returns the answer's
// result or throws one of the errors of errors.h, which say whether calling
// again can help; Bot itself never retries. The request address carries the
// token, so it never appears in an error message or anywhere else.
//
// Every call takes a stop token: requesting stop aborts the transfer at once,
// also in the middle of a long poll, and the call throws Aborted. Time-outs:
// connecting may take `connect_timeout`; a call may take `request_timeout`,
// and a long poll its own time-out plus `poll_grace`.
//
// `post_message` hands a message to the bot's outbox (outbox.h), which sends
// it in order on its own thread with retries; use it where a send must not
// hold up the caller, as when answering inside an update callback.
//
// All members are safe to call from any thread, also at the same time;
// connections are kept open between calls and reused.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/telegram/outbox.h"
#include "platform/telegram/types.h"

namespace platform::telegram {

inline constexpr std::string_view kDefaultBaseUrl = "https://api.telegram.org";

struct BotOptions {
  // A PEM file of the certificate authorities that HTTPS answers must be
  // signed by; absent: the file named by the environment variable
  // SSL_CERT_FILE when it is set, else libcurl's own.
  std::optional<std::string> ca_file{};
  std::chrono::milliseconds connect_timeout{10000};
  std::chrono::milliseconds request_timeout{15000};
  std::chrono::milliseconds poll_grace{10000};
  OutboxOptions outbox{};
};

// The parameters of getUpdates. Updates below `offset` are confirmed by the
// call and never sent again; `timeout` is the long-poll time (0 answers at
// once); `request_timeout`, when given, replaces the time the call may take.
struct GetUpdates {
  std::int64_t offset = 0;
  std::chrono::seconds timeout{0};
  int limit = 100;
  std::optional<std::chrono::milliseconds> request_timeout{};
};

class Bot {
 public:
  // `base_url` is the API's address without the /bot<token> part.
  explicit Bot(std::string token, std::string base_url = std::string(kDefaultBaseUrl),
               BotOptions options = {});
  virtual ~Bot();
  Bot(const Bot&) = delete;
  Bot& operator=(const Bot&) = delete;

  // getMe. Remembers the bot's username for `username`.
  User get_me(std::stop_token stop = {});
  // The username of the last successful get_me; absent before it.
  std::optional<std::string> username() const;
  // The API's address as given, without trailing slashes; it never holds the
  // token, so it may be shown.
  const std::string& base_url() const noexcept { return base_url_; }

  // getUpdates for messages, oldest first.
  std::vector<Update> get_updates(const GetUpdates& request, std::stop_token stop = {});

  // sendMessage of plain text.
  Message send_message(std::int64_t chat_id, std::string_view text, std::stop_token stop = {});

  // Queues a sendMessage on the outbox.
  void post_message(std::int64_t chat_id, std::string text);
  // Waits at most `limit` until the outbox has sent or reported everything
  // posted so far; returns whether it has.
  bool flush_messages(std::chrono::milliseconds limit);
  // How many posted messages have been given up (and reported) so far.
  std::size_t unsent_messages() const;

 private:
  class Channel;
  struct Result;  // the `result` member of a successful answer

  // Runs `method` with the JSON `body` on a channel of its own.
  Result call(std::string_view method, const std::string& body, std::chrono::milliseconds timeout,
              const std::stop_token& stop);
  // A channel for one call: an idle one, or a new one.
  std::unique_ptr<Channel> acquire();
  void release(std::unique_ptr<Channel> channel);

  const std::string token_;
  const std::string base_url_;
  const std::optional<std::string> ca_file_;
  const BotOptions options_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Channel>> idle_;
  std::optional<std::string> username_;
  Outbox outbox_;  // last: its thread calls send_message until it is destroyed
};

}  // namespace platform::telegram
