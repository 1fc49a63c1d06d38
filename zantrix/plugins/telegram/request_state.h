// The bot's request state: what the chat commands ask of the engine.
//
// A command sets a request's flag and its values; the engine reads them, does
// what was asked, answers in the chat and resets the flag. The bot never
// resets anything itself, and "/stop" moves zantrix_status from "Running" to
// "Terminated" for good.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zantrix::plugins::telegram {

struct RequestState {
  std::string zantrix_status = "Running";
  bool get_balance = false;
  bool get_positions = false;
  bool get_orders = false;
  bool active_orders = false;
  std::int64_t num_orders_displayed = 1;
  bool get_deals = false;
  std::int64_t num_deals_displayed = 1;
  bool cancel_order = false;
  std::optional<std::string> cancel_order_id{};
  std::optional<std::string> gateway_name{};
  bool cancel_orders = false;
  bool send_order = false;
  std::string order_string{};
  bool close_positions = false;
  std::optional<std::string> close_positions_gateway_name{};

  friend bool operator==(const RequestState&, const RequestState&) = default;
};

}  // namespace zantrix::plugins::telegram
