// TelegramBot: control of a running trading engine through a Telegram chat.
//
// The bot never calls the engine. A chat command records a request in the
// bot's request state (request_state.h) and acknowledges it in the chat; the
// engine polls the state through the properties below, carries the request
// out, answers with send_message and resets the request through the same
// properties. "/stop" turns zantrix_status from "Running" to "Terminated".
//
// Construction creates the bot client and its update fetcher, registers the
// commands (commands.h) and starts long polling on the fetcher's thread,
// where every command runs; the constructor returns at once. Only the owner's
// chat (TELEGRAM_CHAT_ID) is served, and when a list of users is configured
// (TELEGRAM_USER_IDS) only their messages in it: every member of a group may
// write in the group's chat, but not every member may steer the engine. A
// message from any other chat or user gets no answer, changes nothing and is
// recorded as one line on standard output.
//
// Every property reads or writes the bot client's field under the lock that
// the commands hold while they record, so a command's fields are seen
// together. Every member is safe to call from any thread, except that
// get_updates, get_chat_id and close must not be called from a command
// callback (they wait for the fetcher's thread).
#pragma once

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/telegram/bot.h"
#include "platform/telegram/types.h"
#include "platform/telegram/updater.h"
#include "zantrix/plugins/telegram/customed_ext_bot.h"
#include "zantrix/plugins/telegram/request_state.h"

namespace zantrix::plugins::telegram {

class TelegramBot {
 public:
  // The documentation of the chat commands.
  static constexpr std::string_view help_text =
      "\n"
      "    <Zantrix TelegramBot> Available commands:\"\n"
      "    1. /stop\n"
      "    2. /balance\n"
      "    3. /positions\n"
      "    4. /orders\n"
      "    5. /deals\n"
      "    6. /cancel_order\n"
      "    7. /cancel_orders\n"
      "    8. /send_order\n"
      "    9. /close_positions\n"
      "    10. /help\n"
      "    ";

  struct Options {
    std::string api_url = std::string(platform::telegram::kDefaultBaseUrl);
    // The owner's chat: the default chat of send_message and the only chat
    // served. Without one, every chat is refused.
    std::optional<std::int64_t> chat_id{};
    // The users whose messages in the owner's chat are served; absent: every
    // user of that chat. A message without a sender (one sent on behalf of a
    // chat) is refused when the list is given.
    std::optional<std::vector<std::int64_t>> user_ids{};
    platform::telegram::BotOptions bot{};
    platform::telegram::UpdaterOptions updater{};
    // Whether the constructor starts long polling.
    bool start_polling = true;
    // How long close waits for the answers still being sent.
    std::chrono::milliseconds close_timeout{5000};

    // TELEGRAM_API_URL, TELEGRAM_CHAT_ID and TELEGRAM_USER_IDS of
    // zantrix_config(), read now.
    static Options from_config();
  };

  explicit TelegramBot(std::string token, Options options = Options::from_config());
  // Closes.
  ~TelegramBot();
  TelegramBot(const TelegramBot&) = delete;
  TelegramBot& operator=(const TelegramBot&) = delete;

  platform::telegram::Updater& updater() { return updater_; }
  // The bot client (updater().bot()), which carries the request state.
  CustomedExtBot& client() { return client_; }

  std::string zantrix_status() const;
  void set_zantrix_status(std::string value);
  void set_zantrix_status(std::nullptr_t) = delete;
  template <std::integral T>
  void set_zantrix_status(T) = delete;  // a status is text

  bool get_balance() const;
  void set_get_balance(bool value);
  bool get_positions() const;
  void set_get_positions(bool value);
  bool get_orders() const;
  void set_get_orders(bool value);
  bool active_orders() const;
  void set_active_orders(bool value);
  bool get_deals() const;
  void set_get_deals(bool value);
  bool cancel_order() const;
  void set_cancel_order(bool value);
  bool cancel_orders() const;
  void set_cancel_orders(bool value);
  bool send_order() const;
  void set_send_order(bool value);
  bool close_positions() const;
  void set_close_positions(bool value);

  std::int64_t num_orders_displayed() const;
  void set_num_orders_displayed(std::int64_t value);
  std::int64_t num_deals_displayed() const;
  void set_num_deals_displayed(std::int64_t value);
  std::optional<std::string> cancel_order_id() const;
  void set_cancel_order_id(std::optional<std::string> value);
  std::optional<std::string> gateway_name() const;
  void set_gateway_name(std::optional<std::string> value);
  std::string order_string() const;
  void set_order_string(std::string value);
  std::optional<std::string> close_positions_gateway_name() const;
  void set_close_positions_gateway_name(std::optional<std::string> value);

  // Every field, read at one moment.
  RequestState request_state() const;
  // Every field at one moment, while clearing every request flag and
  // active_orders in the same step: a request recorded after this call is
  // seen by the next one, never cleared unseen.
  RequestState take_requests();

  // Sends `msg` to `chat_id`, by default the owner's chat. The message is
  // queued and sent in order with the answers of the commands; one that
  // cannot be sent is reported on standard output. Without an owner's chat,
  // the one-argument form is a ValueError.
  void send_message(std::string msg);
  void send_message(std::string msg, std::int64_t chat_id);
  void send_message(std::nullptr_t) = delete;
  void send_message(std::nullptr_t, std::int64_t) = delete;
  template <std::integral T, class... Rest>
  void send_message(T, Rest...) = delete;  // a message is text

  // Takes the pending updates through the update fetcher (never a second
  // poll beside it) into `updates`, and writes the first one's text form on
  // standard output. A polling bot still serves the updates taken, so a
  // command pending meanwhile is carried out all the same. With nothing
  // pending, `updates` becomes empty and a run-time error says so.
  void get_updates();
  // get_updates, then the id of the sender of the first update's message.
  std::int64_t get_chat_id();
  // The updates taken by the last get_updates; absent before it.
  std::optional<std::vector<platform::telegram::Update>> updates() const;

  // Stops the update fetcher and waits, at most close_timeout, for the
  // answers still being sent. Safe to call more than once.
  void close();

  // The error that ended the update fetching, if one did.
  std::optional<std::string> error() const { return updater_.error(); }

 private:
  template <class Field>
  Field read(Field RequestState::*field) const;
  template <class Field>
  void write(Field RequestState::*field, Field value);

  platform::telegram::Updater updater_;
  CustomedExtBot& client_;
  const std::optional<std::int64_t> chat_id_;
  const std::chrono::milliseconds close_timeout_;
  mutable std::mutex updates_mutex_;
  std::optional<std::vector<platform::telegram::Update>> updates_;
};

// The process-wide bot, created at the first call from TELEGRAM_TOKEN,
// TELEGRAM_API_URL, TELEGRAM_CHAT_ID and TELEGRAM_USER_IDS of
// zantrix_config(); polling starts then. Never created before it is asked
// for. A program need not close it: it is closed and destroyed when the
// process exits, before the libraries it uses are torn down; it must not be
// used once exit has begun.
TelegramBot& bot();

// The self-check: finds the chat of the first pending message, answers it
// "Yes I am here!", closes the bot and writes "Closed.". Uses the
// process-wide bot when it exists; otherwise a bot of its own that does not
// poll, so that its one getUpdates is what takes the pending message. Writes
// the chat id it found. Throws when no message is pending.
void self_check();

}  // namespace zantrix::plugins::telegram
