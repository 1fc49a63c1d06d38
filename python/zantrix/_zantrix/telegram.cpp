// The Telegram bot: TelegramBot with its request state and send_message, and
// the process-wide bot made on first use from the configuration.
//
// The bot's commands run on its own fetcher thread in C++ and never call
// Python: a Python engine polls the request properties from its own thread
// and answers with send_message. Every call that may wait for the fetcher
// (construction, close, send_message) runs with the interpreter lock
// released.
#include <pybind11/stl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/plugins/telegram/bot.h"

namespace zantrix::python {
namespace {

using plugins::telegram::TelegramBot;

template <class Value>
void flag(py::class_<TelegramBot>& bot, const char* name, Value (TelegramBot::*get)() const,
          void (TelegramBot::*set)(Value), const char* doc) {
  bot.def_property(name, get, set, doc);
}

}  // namespace

void bind_telegram(py::module_& module) {
  py::class_<TelegramBot> bot(
      module, "TelegramBot",
      "Control of a running engine through a Telegram chat: commands set the request state, "
      "the engine polls it and answers with send_message.");
  bot.def(py::init([](py::handle token, std::optional<std::string> api_url,
                      std::optional<std::int64_t> chat_id,
                      std::optional<std::vector<std::int64_t>> user_ids) {
            const std::string text = text_arg(token, "token");
            auto options = TelegramBot::Options::from_config();
            if (api_url) options.api_url = *api_url;
            if (chat_id) options.chat_id = chat_id;
            if (user_ids) options.user_ids = user_ids;
            const py::gil_scoped_release unlocked;
            return std::make_unique<TelegramBot>(text, std::move(options));
          }),
          "Starts a bot with this token serving the owner's chat; the options not given come "
          "from TELEGRAM_API_URL, TELEGRAM_CHAT_ID and TELEGRAM_USER_IDS of the configuration.",
          py::arg("token"), py::kw_only(), py::arg("api_url") = py::none(),
          py::arg("chat_id") = py::none(), py::arg("user_ids") = py::none())
      .def_property_readonly_static(
          "help_text", [](const py::object&) { return std::string(TelegramBot::help_text); },
          "The documentation of the chat commands.")
      .def_property(
          "zantrix_status", &TelegramBot::zantrix_status,
          [](TelegramBot& b, py::handle value) {
            b.set_zantrix_status(text_arg(value, "zantrix_status"));
          },
          "\"Running\" until a /stop makes it \"Terminated\".");
  flag(bot, "get_balance", &TelegramBot::get_balance, &TelegramBot::set_get_balance,
       "Whether /balance asks for the balance.");
  flag(bot, "get_positions", &TelegramBot::get_positions, &TelegramBot::set_get_positions,
       "Whether /positions asks for the positions.");
  flag(bot, "get_orders", &TelegramBot::get_orders, &TelegramBot::set_get_orders,
       "Whether /orders asks for the orders.");
  flag(bot, "active_orders", &TelegramBot::active_orders, &TelegramBot::set_active_orders,
       "Whether /orders asks for the working orders only.");
  flag(bot, "get_deals", &TelegramBot::get_deals, &TelegramBot::set_get_deals,
       "Whether /deals asks for the deals.");
  flag(bot, "cancel_order", &TelegramBot::cancel_order, &TelegramBot::set_cancel_order,
       "Whether /cancel_order asks to cancel the order cancel_order_id.");
  flag(bot, "cancel_orders", &TelegramBot::cancel_orders, &TelegramBot::set_cancel_orders,
       "Whether /cancel_orders asks to cancel every order of gateway_name.");
  flag(bot, "send_order", &TelegramBot::send_order, &TelegramBot::set_send_order,
       "Whether /send_order asks to place the order order_string describes.");
  flag(bot, "close_positions", &TelegramBot::close_positions, &TelegramBot::set_close_positions,
       "Whether /close_positions asks to close the positions of "
       "close_positions_gateway_name.");
  flag(bot, "num_orders_displayed", &TelegramBot::num_orders_displayed,
       &TelegramBot::set_num_orders_displayed, "How many orders /orders asks to show.");
  flag(bot, "num_deals_displayed", &TelegramBot::num_deals_displayed,
       &TelegramBot::set_num_deals_displayed, "How many deals /deals asks to show.");
  flag(bot, "cancel_order_id", &TelegramBot::cancel_order_id, &TelegramBot::set_cancel_order_id,
       "The order /cancel_order names, or None.");
  flag(bot, "gateway_name", &TelegramBot::gateway_name, &TelegramBot::set_gateway_name,
       "The gateway /cancel_orders names, or None.");
  flag(bot, "order_string", &TelegramBot::order_string, &TelegramBot::set_order_string,
       "The order /send_order describes, as the user wrote it.");
  flag(bot, "close_positions_gateway_name", &TelegramBot::close_positions_gateway_name,
       &TelegramBot::set_close_positions_gateway_name,
       "The gateway /close_positions names, or None.");
  bot.def(
         "send_message",
         [](TelegramBot& b, py::handle msg, std::optional<std::int64_t> chat_id) {
           std::string text = text_arg(msg, "msg");
           const py::gil_scoped_release unlocked;
           if (chat_id) {
             b.send_message(std::move(text), *chat_id);
           } else {
             b.send_message(std::move(text));
           }
         },
         "Queues the message for the chat, by default the owner's; sent in order with the "
         "commands' answers.",
         py::arg("msg"), py::arg("chat_id") = py::none())
      .def(
          "close",
          [](TelegramBot& b) {
            const py::gil_scoped_release unlocked;
            b.close();
          },
          "Stops polling and waits a little for the answers still being sent; safe to repeat.")
      .def_property_readonly("error", &TelegramBot::error,
                             "The error that ended the update fetching, or None.");

  module.def(
      "telegram_bot",
      [] {
        const py::gil_scoped_release unlocked;
        return &plugins::telegram::bot();
      },
      py::return_value_policy::reference,
      "The process-wide bot, made at the first call from TELEGRAM_TOKEN and the other "
      "TELEGRAM_ keys of the configuration.");
}

}  // namespace zantrix::python
