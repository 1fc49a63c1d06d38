// VexGate: placing and cancelling orders, and the order events that become
// the gateway's order updates and deals.
//
// The hand-over: place_order reads the GUID of the order it created, marks
// it pending in the ledger and places it; the arrival (ctAdded) of that GUID
// moves it into the slot order_id_ and sets eventOrderPlaced, and
// place_order returns it. Nothing is asked of the client after Place, as such
// a call would queue behind the order's own events. Both sides take
// order_mutex_ only around the bookkeeping, never while calling the client or
// the gateway object.
//
// An event hands on an order update for every change and removal, and for
// an arrival that carries a fill or that comes after its placement ended
// unconfirmed; then, when it carries a normal fill not handed on before, the
// deal. The two parts stand apart: an order part that fails (a status
// outside the table, an order object missing) is traced, and the fill is
// still handed on.
#include <cmath>
#include <exception>
#include <limits>
#include <string>
#include <variant>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

namespace {

using Placement = OrderLedger::Placement;

// The value of one order property, of the kind the client hands it over in.
cel::Variant property_value(cel::OrderProperties& properties, cel::eOrderProperty property,
                            std::string_view name) {
  const auto item = properties.Item(property);
  if (!item) throw framework::KeyError(std::string(name));
  return item->Value();
}

bool holds_nothing(const cel::Variant& value) {
  return std::holds_alternative<std::monostate>(value);
}

template <class T>
T value_as(const cel::Variant& value, std::string_view name) {
  if (const auto* typed = std::get_if<T>(&value)) return *typed;
  throw framework::TypeError(std::string(name) + " has a value of an unexpected kind");
}

// A number handed over as an integer or as a floating-point value.
double number_of(const cel::Variant& value, std::string_view name) {
  if (const auto* whole = std::get_if<long>(&value)) return static_cast<double>(*whole);
  return value_as<double>(value, name);
}

// The text form of an order type, also for a value outside the enumeration.
std::string order_type_text(framework::OrderType type) {
  switch (type) {
    case framework::OrderType::MARKET:
    case framework::OrderType::LIMIT:
    case framework::OrderType::STOP:
      return framework::repr(type);
  }
  return "OrderType." + std::to_string(static_cast<int>(type));
}

std::string direction_text(framework::Direction direction) {
  switch (direction) {
    case framework::Direction::LONG:
    case framework::Direction::SHORT:
    case framework::Direction::NET:
      return framework::repr(direction);
  }
  return "Direction." + std::to_string(static_cast<int>(direction));
}

bool positive(double value) {
  return std::isfinite(value) && value > 0;
}

// The lots the client is asked for: a whole positive number that a long
// holds, or a ValueError naming the quantity. Nothing is rounded.
long whole_lots(double quantity) {
  if (!positive(quantity) || quantity != std::floor(quantity) ||
      quantity > static_cast<double>(std::numeric_limits<long>::max())) {
    throw framework::ValueError("Order quantity " + framework::format_number(quantity) +
                                " is not a whole positive number of lots");
  }
  return static_cast<long>(quantity);
}

// The text form of the order as placed under `guid`.
std::string placed_text(framework::Order order, const std::string& guid) {
  order.order_id = guid;
  return framework::to_string(order);
}

}  // namespace

framework::OrderStatus convert_orderstatus_cqg2zx(cel::eOrderStatus status) {
  using framework::OrderStatus;
  switch (status) {
    case cel::osActiveAt:
    case cel::osContingent:
    case cel::osInCancel:
    case cel::osInClient:
    case cel::osInModify:
    case cel::osInTransit:
    case cel::osNotSent:
    case cel::osParked:
      return OrderStatus::UNKNOWN;
    case cel::osInOrderBook:
      return OrderStatus::SUBMITTED;
    case cel::osFilled:
    case cel::osBusted:
      return OrderStatus::FILLED;
    case cel::osCanceled:
      return OrderStatus::CANCELLED;
    case cel::osRejectFCM:
    case cel::osRejectGW:
    case cel::osDisconnected:
    case cel::osExpired:
    case cel::osInTransitTimeout:
      return OrderStatus::FAILED;
  }
  throw framework::ValueError("Order status " + std::to_string(static_cast<long>(status)) +
                              " is not valid to be handled by zantrix.");
}

std::string VexGate::place_order(const framework::Order& order) {
  refuse_on_worker("place_order");
  const std::string cqg_symbol = [&] {
    const auto guard = hold_gateway();
    return the_gateway(guard).get_cqg_symbol_from_zx_security(order.security);
  }();
  const auto instrument = get_instrument_from_cqg_symbol(cqg_symbol);
  if (!instrument) {
    throw framework::ValueError("cqg_symbol " + cqg_symbol + " has not been subscribed.");
  }
  cel::eOrderType type;
  std::optional<double> limit_price;
  std::optional<double> stop_price;
  switch (order.order_type) {
    case framework::OrderType::MARKET:
      type = cel::otMarket;
      break;
    case framework::OrderType::LIMIT:
      type = cel::otLimit;
      limit_price = order.price;
      break;
    case framework::OrderType::STOP:
      type = cel::otStop;
      limit_price = order.price;
      stop_price = order.stop_price;
      break;
    default:
      throw framework::ValueError("Unsupported order type " + order_type_text(order.order_type));
  }
  cel::eOrderSide side;
  switch (order.direction) {
    case framework::Direction::LONG:
      side = cel::osdBuy;
      break;
    case framework::Direction::SHORT:
      side = cel::osdSell;
      break;
    default:
      throw framework::ValueError("Unsupported order side " + direction_text(order.direction));
  }
  const long lots = whole_lots(order.quantity);
  // A price of 0 is no price: a sell limit at 0 would trade at any bid.
  if (type == cel::otLimit && !positive(order.price)) {
    throw framework::ValueError("A LIMIT order needs a positive price, not " +
                                framework::format_number(order.price));
  }
  if (type == cel::otStop) {
    if (!stop_price || !positive(*stop_price)) {
      throw framework::ValueError(
          "A STOP order needs a positive stop_price, not " +
          (stop_price ? framework::format_number(*stop_price) : std::string("None")));
    }
    if (!std::isfinite(order.price) || order.price < 0) {
      throw framework::ValueError("A STOP order's price must be a number of 0 or more, not " +
                                  framework::format_number(order.price));
    }
  }
  const auto account = require_account(selected_account_id());

  const auto placed = detail::returned(
      client()->CreateOrder(type, instrument, account, lots, side, limit_price, stop_price),
      "CQGCEL.CreateOrder");
  placed->put_Manual(false);
  // The client keeps the GUID an order is created with: its events, its
  // fills and Orders know it by that GUID from now on.
  const std::string guid = placed->GUID();
  if (guid.empty()) throw std::runtime_error("CQGCEL.CreateOrder made an order without a GUID");
  {
    const std::lock_guard guard(order_mutex_);
    order_id_.reset();
    pending_guid_ = guid;
    ledger_.order(guid).placement = Placement::Pending;
  }
  eventOrderPlaced.clear();
  std::exception_ptr failure;
  try {
    placed->Place();
  } catch (...) {
    failure = std::current_exception();
  }
  const bool arrived = !failure && eventOrderPlaced.wait(wait_timeout);
  std::optional<std::string> orderid;
  {
    const std::lock_guard guard(order_mutex_);
    pending_guid_.reset();
    orderid = std::exchange(order_id_, std::nullopt);
    if (!orderid || failure) {
      // From here on the order's arrival, if it is still to come, is late.
      auto& state = ledger_.order(guid);
      if (state.placement == Placement::Pending) state.placement = Placement::Unconfirmed;
      state.ended = failure ? "failed" : "timed out";
    }
  }
  if (failure) {
    // The client's error stays nested under the one that names the order.
    const auto carrying = [&](const std::string& why) {
      return framework::OrderPlacingError(
          "Order placing failed: " + why + "\n" + placed_text(order, guid) + " ", guid);
    };
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& error) {
      std::throw_with_nested(carrying(error.what()));
    } catch (...) {
      std::throw_with_nested(carrying("unknown error"));
    }
  }
  if (!arrived || !orderid) {
    throw framework::OrderPlacingError("Order placing timeout!\n" + placed_text(order, guid) + " ",
                                       guid);
  }
  return *orderid;
}

void VexGate::cancel_order(const std::string& orderid) {
  refuse_proxy_on_worker("cancel_order");
  const auto order = detail::returned(client()->Orders(), "CQGCEL.Orders")->ItemByGuid(orderid);
  if (!order) throw framework::ValueError("Order " + orderid + " can not be found!");
  order->Cancel();
}

std::optional<std::string> VexGate::order_id() const {
  const std::lock_guard guard(order_mutex_);
  return order_id_;
}

// Any event of the order being placed hands it over, in case its arrival
// was lost; only an arrival can be late, taken for another or foreign.
VexGate::Standing VexGate::arrival_of(const std::string& guid, bool added) {
  const std::lock_guard guard(order_mutex_);
  auto* state = ledger_.find(guid);
  if (pending_guid_ == guid) {
    pending_guid_.reset();
    order_id_ = guid;
    ledger_.order(guid).placement = Placement::Arrived;
    return Standing::Placed;
  }
  if (!added) return Standing::Known;
  if (state != nullptr && state->placement == Placement::Unconfirmed) {
    state->placement = Placement::Arrived;
    return Standing::Late;
  }
  if (state != nullptr && state->placement != Placement::None) return Standing::Known;
  if (pending_guid_) {
    // The client reported another order while ours was being placed: the one
    // arrival of a placement is the placed order.
    pending_guid_.reset();
    order_id_ = guid;
    ledger_.order(guid).placement = Placement::Arrived;
    return Standing::Substituted;
  }
  return Standing::NotPlacedByAlgo;
}

// The order part of an event, from the order object: a status always
// reaches the gateway; a property the client left empty is made up as the
// ledger says (the last status, price or quantity handed on, the fills booked,
// the time of arrival), traced once per order and property.
framework::OrderUpdate VexGate::make_update(cel::OrderProperties& properties,
                                            const std::string& orderid, double fresh_fill,
                                            framework::DateTime arrival) {
  const auto gw_status = property_value(properties, cel::opGWStatus, "opGWStatus");
  const auto server_time =
      property_value(properties, cel::opEventServerTimestamp, "opEventServerTimestamp");
  const auto average_fill_price =
      property_value(properties, cel::opAverageFillPrice, "opAverageFillPrice");
  const auto filled_quantity =
      property_value(properties, cel::opFilledQuantity, "opFilledQuantity");

  std::optional<framework::OrderStatus> status;
  if (!holds_nothing(gw_status)) {
    status = convert_orderstatus_cqg2zx(
        static_cast<cel::eOrderStatus>(value_as<long>(gw_status, "opGWStatus")));
  }
  std::vector<std::string> traced;
  framework::OrderUpdate update{.order_id = orderid,
                                .updated_time = arrival,
                                .filled_avg_price = 0,
                                .filled_quantity = 0,
                                .status = framework::OrderStatus::UNKNOWN};
  {
    const std::lock_guard guard(order_mutex_);
    auto& state = ledger_.order(orderid);
    const auto empty = [&](bool& flag, const char* what) {
      if (!flag) traced.push_back(what);
      flag = true;
    };
    if (status) {
      update.status = *status;
    } else {
      update.status = state.status.value_or(framework::OrderStatus::UNKNOWN);
      empty(state.empty_status, "opGWStatus holds no value: its last status stands in");
    }
    if (holds_nothing(server_time)) {
      empty(state.empty_time,
            "opEventServerTimestamp holds no value: the time of arrival stands in");
    } else {
      update.updated_time = detail::whole_seconds(
          value_as<framework::DateTime>(server_time, "opEventServerTimestamp"));
    }
    const double booked = state.booked_quantity + fresh_fill;
    if (holds_nothing(filled_quantity)) {
      update.filled_quantity = std::max(state.filled_quantity, booked);
      empty(state.empty_quantity,
            "opFilledQuantity holds no value: the quantity filled so far stands in");
    } else {
      update.filled_quantity = number_of(filled_quantity, "opFilledQuantity");
    }
    if (holds_nothing(average_fill_price)) {
      update.filled_avg_price = state.filled_avg_price;
      empty(state.empty_price, "opAverageFillPrice holds no value: its last price stands in");
    } else {
      update.filled_avg_price = number_of(average_fill_price, "opAverageFillPrice");
    }
    state.status = update.status;
    state.filled_avg_price = update.filled_avg_price;
    state.filled_quantity = update.filled_quantity;
  }
  for (const auto& line : traced) Trace("order " + orderid + ": " + line);
  return update;
}

// The order's GUID: its opGUID, or the order's own GUID where that holds no
// text.
std::string VexGate::guid_of(cel::Order& order, cel::OrderProperties& properties) {
  const auto guid = property_value(properties, cel::opGUID, "opGUID");
  const auto* text = std::get_if<std::string>(&guid);
  std::string found = text != nullptr && !text->empty() ? *text : order.GUID();
  if (found.empty()) throw framework::ValueError("opGUID holds no value");
  return found;
}

void VexGate::OnOrderChanged(cel::eChangeType changeType, std::shared_ptr<cel::Order> cqgOrder,
                             std::shared_ptr<cel::OrderProperties> /*oldProperties*/,
                             std::shared_ptr<cel::Fill> cqgFill,
                             std::shared_ptr<cel::Error> cqgError) {
  if (cqgError) return;
  const auto arrival = detail::whole_seconds(framework::local_now());
  const auto guard = hold_gateway();
  auto& target = the_gateway(guard);

  // The fill first, so that the update can count it; it names its order, and
  // the event's order stands in when it does not (and the fill's order for a
  // missing event order).
  std::optional<framework::DealUpdate> deal;
  std::shared_ptr<cel::Order> order = cqgOrder;
  if (cqgFill && cqgFill->Status() == cel::fsNormal) {
    const auto filled = cqgFill->Order();
    if (!order) order = filled;
    std::string deal_order = filled ? filled->GUID() : order ? order->GUID() : "";
    if (deal_order.empty()) {
      throw std::runtime_error("the fill " + cqgFill->Id() + " names no order");
    }
    deal = framework::DealUpdate{.deal_id = cqgFill->Id(),
                                 .order_id = std::move(deal_order),
                                 .updated_time = detail::whole_seconds(cqgFill->Timestamp()),
                                 .filled_avg_price = cqgFill->Price(),
                                 .filled_quantity = static_cast<double>(cqgFill->Quantity())};
  }

  std::exception_ptr order_failure;
  try {
    handle_order_change(target, changeType, detail::require(order, "order"), deal, arrival);
  } catch (...) {
    order_failure = std::current_exception();
  }
  if (deal) hand_on_deal(target, *deal);
  if (order_failure) std::rethrow_exception(order_failure);
}

void VexGate::handle_order_change(framework::BaseGateway& target, cel::eChangeType changeType,
                                  const std::shared_ptr<cel::Order>& order,
                                  const std::optional<framework::DealUpdate>& deal,
                                  framework::DateTime arrival) {
  const auto properties = detail::require(order->Properties(), "order property collection");
  const std::string orderid = guid_of(*order, *properties);
  const bool added = changeType == cel::ctAdded;
  if (!added && changeType != cel::ctChanged && changeType != cel::ctRemoved) return;
  bool update = !added || deal.has_value();
  switch (arrival_of(orderid, added)) {
    case Standing::Placed:
      eventOrderPlaced.set();
      break;
    case Standing::Substituted:
      Trace("Error: orderid " + orderid +
            " arrived while another order was being placed; it is taken as the placed order");
      eventOrderPlaced.set();
      break;
    case Standing::Late: {
      std::string ended;
      {
        const std::lock_guard guard(order_mutex_);
        if (const auto* state = ledger_.find(orderid)) ended = state->ended;
      }
      Trace("orderid " + orderid + " arrived after its placement " + ended);
      update = true;
      break;
    }
    case Standing::NotPlacedByAlgo:
      detail::print_line("orderid " + orderid + " is not placed by algo");
      break;
    case Standing::Known:
      break;
  }
  if (!update) return;
  double fresh_fill = 0;
  if (deal && deal->order_id == orderid) {
    const std::lock_guard guard(order_mutex_);
    if (!ledger_.handed_on(deal->order_id, deal->deal_id)) fresh_fill = deal->filled_quantity;
  }
  target.process_order(make_update(*properties, orderid, fresh_fill, arrival));
}

// A fill handed on before is not booked again; the skip is traced.
void VexGate::hand_on_deal(framework::BaseGateway& target, const framework::DealUpdate& deal) {
  bool fresh;
  {
    const std::lock_guard guard(order_mutex_);
    fresh =
        ledger_.hand_on(deal.order_id, deal.deal_id, deal.filled_quantity, deal.filled_avg_price);
  }
  if (!fresh) {
    Trace("fill " + deal.deal_id + " of orderid " + deal.order_id +
          " was handed on before: it is not booked again");
    return;
  }
  target.process_deal(deal);
}

// After an outage the client's orders show what their lost events reported:
// each of the engine's orders whose status or filled quantity differs from
// what was handed on gets its update, then each of its normal fills not
// handed on becomes a deal.
void VexGate::reconcile_orders() {
  const auto hold = client_hold_.load();
  const auto client = hold ? hold->worker_client() : nullptr;
  if (!client) return;
  const auto guard = hold_gateway();
  if (guard.get() == nullptr) return;
  auto& target = *guard.get();
  const auto orders = client->Orders();
  if (!orders) {
    Trace("CQGCEL.Orders returned no object: the orders are not reconciled");
    return;
  }
  const auto arrival = detail::whole_seconds(framework::local_now());
  const long count = orders->Count();
  for (long i = 0; i < count; ++i) {
    const auto order = orders->ItemByIndex(i);
    if (!order) continue;
    try {
      reconcile_order(target, *order, arrival);
    } catch (const std::exception& error) {
      Trace("Exception while reconciling an order: " + std::string(error.what()));
    }
  }
}

void VexGate::reconcile_order(framework::BaseGateway& target, cel::Order& order,
                              framework::DateTime arrival) {
  const auto properties = detail::require(order.Properties(), "order property collection");
  const std::string orderid = guid_of(order, *properties);
  std::optional<framework::OrderStatus> last_status;
  double last_filled = 0;
  {
    const std::lock_guard guard(order_mutex_);
    const auto* state = ledger_.find(orderid);
    if (state == nullptr || state->placement == Placement::None) return;
    last_status = state->status;
    last_filled = state->filled_quantity;
  }
  std::vector<framework::DealUpdate> missed;
  double missed_quantity = 0;
  if (const auto fills = order.Fills()) {
    const long count = fills->Count();
    for (long i = 0; i < count; ++i) {
      const auto fill = fills->ItemByIndex(i);
      if (!fill || fill->Status() != cel::fsNormal) continue;
      framework::DealUpdate deal{.deal_id = fill->Id(),
                                 .order_id = orderid,
                                 .updated_time = detail::whole_seconds(fill->Timestamp()),
                                 .filled_avg_price = fill->Price(),
                                 .filled_quantity = static_cast<double>(fill->Quantity())};
      const std::lock_guard guard(order_mutex_);
      if (ledger_.handed_on(orderid, deal.deal_id)) continue;
      missed_quantity += deal.filled_quantity;
      missed.push_back(std::move(deal));
    }
  }
  const auto update = make_update(*properties, orderid, missed_quantity, arrival);
  if (update.status != last_status || update.filled_quantity != last_filled) {
    Trace("orderid " + orderid +
          " reconciled: " + std::string(framework::to_string(update.status)) + ", filled " +
          framework::format_number(update.filled_quantity));
    target.process_order(update);
  }
  for (const auto& deal : missed) hand_on_deal(target, deal);
}

}  // namespace zantrix::gateways::cqg
