#include "platform/telegram/dispatcher.h"

#include <exception>

#include "platform/telegram/report.h"

namespace platform::telegram {

std::vector<std::string> Handler::arguments(const Update&) const {
  return {};
}

void Dispatcher::add_handler(std::unique_ptr<Handler> handler) {
  handlers_.push_back(std::move(handler));
}

bool Dispatcher::process_update(const Update& update) {
  for (const auto& handler : handlers_) {
    if (!handler->check_update(update, bot_)) continue;
    const auto failed = [&](std::string_view what) {
      report("Telegram: the callback for update " + std::to_string(update.update_id) +
             " failed: " + std::string(what));
    };
    try {
      CallbackContext context{bot_, handler->arguments(update)};
      handler->callback()(update, context);
    } catch (const std::exception& e) {
      failed(e.what());
    } catch (...) {
      failed("unknown error");
    }
    return true;
  }
  return false;
}

}  // namespace platform::telegram
