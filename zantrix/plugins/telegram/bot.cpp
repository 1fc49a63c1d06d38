#include "zantrix/plugins/telegram/bot.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/telegram/handlers.h"
#include "platform/telegram/report.h"
#include "zantrix/framework/config.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/telegram/commands.h"

namespace zantrix::plugins::telegram {

namespace pt = platform::telegram;

namespace {

// Takes every message that may not steer the engine, ahead of the other
// handlers, so that it is answered by none of them: one from a chat other
// than the owner's, and, when the owner names the users allowed, one from
// any other user (in a group chat every member writes in the owner's chat).
class StrangerGuard : public pt::Handler {
 public:
  StrangerGuard(std::optional<std::int64_t> owner, std::optional<std::vector<std::int64_t>> users)
      : Handler([owner](const Update& update, CallbackContext&) { refuse(update, owner); }),
        owner_(owner),
        users_(std::move(users)) {}

  bool check_update(const Update& update, const pt::Bot&) const override {
    const pt::Chat* chat = update.effective_chat();
    return chat != nullptr && (chat->id != owner_ || !allowed(sender(update)));
  }

 private:
  static std::optional<std::int64_t> sender(const Update& update) {
    const auto& user = update.message->from_user;
    return user ? std::optional(user->id) : std::nullopt;
  }

  bool allowed(std::optional<std::int64_t> user) const {
    return !users_ || (user && std::ranges::find(*users_, *user) != users_->end());
  }

  static void refuse(const Update& update, std::optional<std::int64_t> owner) {
    const std::string chat = std::to_string(update.effective_chat()->id);
    if (update.effective_chat()->id != owner) {
      pt::report("Telegram: refused a message from chat " + chat +
                 ": only the chat configured as TELEGRAM_CHAT_ID is served");
      return;
    }
    const auto user = sender(update);
    pt::report("Telegram: refused a message from " +
               (user ? "user " + std::to_string(*user) : std::string("no user")) + " in chat " +
               chat + ": only the users configured as TELEGRAM_USER_IDS are served");
  }

  std::optional<std::int64_t> owner_;
  std::optional<std::vector<std::int64_t>> users_;
};

struct Instance {
  std::mutex mutex;
  std::unique_ptr<TelegramBot> bot;
  bool exit_hook_registered = false;
};

Instance& instance() {
  static Instance the;
  return the;
}

// Closes and destroys the process-wide bot when the process exits: stops
// fetching, confirms what was served, sends what is queued and closes the
// connections. The libraries under the bot client (libcurl, and the TLS
// library under it) register exit-time clean-ups of their own when the first
// client initialises them; exit runs such functions, and the destructors of
// static objects, in the reverse order of their registration, so this one,
// registered after the client was created, runs while those libraries still
// work. Without it the bot would go with the destructor of the instance,
// after their clean-up, and its last network calls would run on a torn-down
// TLS library.
void close_at_exit() {
  Instance& the = instance();
  const std::lock_guard lock(the.mutex);
  the.bot.reset();
}

std::unique_ptr<CustomedExtBot> make_client(std::string token, TelegramBot::Options& options) {
  if (token.empty()) throw framework::ValueError("The Telegram bot token is empty");
  return std::make_unique<CustomedExtBot>(std::move(token), options.api_url, options.bot);
}

}  // namespace

TelegramBot::Options TelegramBot::Options::from_config() {
  const auto& config = framework::zantrix_config();
  Options options;
  options.api_url = config.TELEGRAM_API_URL();
  options.chat_id = config.TELEGRAM_CHAT_ID();
  options.user_ids = config.TELEGRAM_USER_IDS();
  return options;
}

TelegramBot::TelegramBot(std::string token, Options options)
    : updater_(make_client(std::move(token), options), options.updater),
      client_(static_cast<CustomedExtBot&>(updater_.bot())),
      chat_id_(options.chat_id),
      close_timeout_(options.close_timeout) {
  // The callbacks by their namespace: several share a name with a property.
  namespace commands = zantrix::plugins::telegram;
  auto& dispatcher = updater_.dispatcher();
  dispatcher.add_handler(std::make_unique<StrangerGuard>(chat_id_, std::move(options.user_ids)));
  dispatcher.add_handler(std::make_unique<pt::MessageHandler>(&commands::echo));
  const std::pair<const char*, pt::Callback> handlers[] = {
      {"stop", &commands::stop},
      {"balance", &commands::balance},
      {"positions", &commands::positions},
      {"orders", &commands::orders},
      {"deals", &commands::deals},
      {"cancel_order", &commands::cancel_order},
      {"cancel_orders", &commands::cancel_orders},
      {"send_order", &commands::send_order},
      {"close_positions", &commands::close_positions},
  };
  for (const auto& [name, callback] : handlers) {
    dispatcher.add_handler(std::make_unique<pt::CommandHandler>(name, callback));
  }
  if (options.start_polling) updater_.start_polling();
}

TelegramBot::~TelegramBot() {
  close();
}

template <class Field>
Field TelegramBot::read(Field RequestState::*field) const {
  return client_.update([field](const RequestState& s) { return s.*field; });
}

template <class Field>
void TelegramBot::write(Field RequestState::*field, Field value) {
  client_.update([&](RequestState& s) { s.*field = std::move(value); });
}

std::string TelegramBot::zantrix_status() const {
  return read(&RequestState::zantrix_status);
}
void TelegramBot::set_zantrix_status(std::string value) {
  write(&RequestState::zantrix_status, std::move(value));
}

bool TelegramBot::get_balance() const {
  return read(&RequestState::get_balance);
}
void TelegramBot::set_get_balance(bool value) {
  write(&RequestState::get_balance, value);
}
bool TelegramBot::get_positions() const {
  return read(&RequestState::get_positions);
}
void TelegramBot::set_get_positions(bool value) {
  write(&RequestState::get_positions, value);
}
bool TelegramBot::get_orders() const {
  return read(&RequestState::get_orders);
}
void TelegramBot::set_get_orders(bool value) {
  write(&RequestState::get_orders, value);
}
bool TelegramBot::active_orders() const {
  return read(&RequestState::active_orders);
}
void TelegramBot::set_active_orders(bool value) {
  write(&RequestState::active_orders, value);
}
bool TelegramBot::get_deals() const {
  return read(&RequestState::get_deals);
}
void TelegramBot::set_get_deals(bool value) {
  write(&RequestState::get_deals, value);
}
bool TelegramBot::cancel_order() const {
  return read(&RequestState::cancel_order);
}
void TelegramBot::set_cancel_order(bool value) {
  write(&RequestState::cancel_order, value);
}
bool TelegramBot::cancel_orders() const {
  return read(&RequestState::cancel_orders);
}
void TelegramBot::set_cancel_orders(bool value) {
  write(&RequestState::cancel_orders, value);
}
bool TelegramBot::send_order() const {
  return read(&RequestState::send_order);
}
void TelegramBot::set_send_order(bool value) {
  write(&RequestState::send_order, value);
}
bool TelegramBot::close_positions() const {
  return read(&RequestState::close_positions);
}
void TelegramBot::set_close_positions(bool value) {
  write(&RequestState::close_positions, value);
}

std::int64_t TelegramBot::num_orders_displayed() const {
  return read(&RequestState::num_orders_displayed);
}
void TelegramBot::set_num_orders_displayed(std::int64_t value) {
  write(&RequestState::num_orders_displayed, value);
}
std::int64_t TelegramBot::num_deals_displayed() const {
  return read(&RequestState::num_deals_displayed);
}
void TelegramBot::set_num_deals_displayed(std::int64_t value) {
  write(&RequestState::num_deals_displayed, value);
}
std::optional<std::string> TelegramBot::cancel_order_id() const {
  return read(&RequestState::cancel_order_id);
}
void TelegramBot::set_cancel_order_id(std::optional<std::string> value) {
  write(&RequestState::cancel_order_id, std::move(value));
}
std::optional<std::string> TelegramBot::gateway_name() const {
  return read(&RequestState::gateway_name);
}
void TelegramBot::set_gateway_name(std::optional<std::string> value) {
  write(&RequestState::gateway_name, std::move(value));
}
std::string TelegramBot::order_string() const {
  return read(&RequestState::order_string);
}
void TelegramBot::set_order_string(std::string value) {
  write(&RequestState::order_string, std::move(value));
}
std::optional<std::string> TelegramBot::close_positions_gateway_name() const {
  return read(&RequestState::close_positions_gateway_name);
}
void TelegramBot::set_close_positions_gateway_name(std::optional<std::string> value) {
  write(&RequestState::close_positions_gateway_name, std::move(value));
}

RequestState TelegramBot::request_state() const {
  return client_.state();
}

RequestState TelegramBot::take_requests() {
  return client_.update([](RequestState& s) {
    const RequestState seen = s;
    s.get_balance = s.get_positions = s.get_orders = s.active_orders = s.get_deals = false;
    s.cancel_order = s.cancel_orders = s.send_order = s.close_positions = false;
    return seen;
  });
}

void TelegramBot::send_message(std::string msg) {
  if (!chat_id_) throw framework::ValueError("No default chat: TELEGRAM_CHAT_ID is not set");
  send_message(std::move(msg), *chat_id_);
}

void TelegramBot::send_message(std::string msg, std::int64_t chat_id) {
  client_.post_message(chat_id, std::move(msg));
}

void TelegramBot::get_updates() {
  std::vector<pt::Update> taken = updater_.take_pending();
  const std::string first = taken.empty() ? std::string() : to_string(taken.front());
  {
    const std::lock_guard lock(updates_mutex_);
    updates_ = std::move(taken);
  }
  if (first.empty()) {
    throw std::runtime_error("There is no pending update: send the bot a message first");
  }
  pt::report(first);
}

std::int64_t TelegramBot::get_chat_id() {
  get_updates();
  const std::lock_guard lock(updates_mutex_);
  const pt::Update& first = updates_->front();
  if (!first.message || !first.message->from_user) {
    throw std::runtime_error("The first pending update has no sender");
  }
  return first.message->from_user->id;
}

std::optional<std::vector<pt::Update>> TelegramBot::updates() const {
  const std::lock_guard lock(updates_mutex_);
  return updates_;
}

void TelegramBot::close() {
  updater_.stop();
  client_.flush_messages(close_timeout_);
}

TelegramBot& bot() {
  Instance& the = instance();
  const std::lock_guard lock(the.mutex);
  if (!the.bot) {
    the.bot = std::make_unique<TelegramBot>(framework::zantrix_config().TELEGRAM_TOKEN());
    if (!the.exit_hook_registered) the.exit_hook_registered = std::atexit(&close_at_exit) == 0;
  }
  return *the.bot;
}

void self_check() {
  TelegramBot* target = nullptr;
  {
    Instance& the = instance();
    const std::lock_guard lock(the.mutex);
    target = the.bot.get();
  }
  std::unique_ptr<TelegramBot> own;
  if (target == nullptr) {
    const auto& config = framework::zantrix_config();
    TelegramBot::Options options;
    options.api_url = config.TELEGRAM_API_URL();
    options.start_polling = false;  // the one getUpdates below takes the pending message
    own = std::make_unique<TelegramBot>(config.TELEGRAM_TOKEN(), std::move(options));
    target = own.get();
  }
  const std::size_t unsent_before = target->client().unsent_messages();
  const std::int64_t chat_id = target->get_chat_id();
  pt::report("Chat id: " + std::to_string(chat_id));
  target->send_message("Yes I am here!", chat_id);
  target->close();
  if (target->client().unsent_messages() != unsent_before) {
    throw std::runtime_error("The answer to chat " + std::to_string(chat_id) + " was not sent");
  }
  pt::report("Closed.");
}

}  // namespace zantrix::plugins::telegram
