// VexGate: placing and cancelling orders, and the order events that become
// the gateway's order updates and deals.
//
// The hand-over: from Place until place_order has learnt the GUID Place gave
// the order, arrivals (ctAdded) are kept undecided; place_order then takes
// the one of its GUID, if it has come, and reports the others as "not placed
// by algo". Otherwise the GUID is pending, and its arrival moves it into the
// slot order_id_ and then sets eventOrderPlaced. A placement that times out
// is remembered, so that its late arrival is handed on as that order's
// update. Both sides take order_mutex_ only around this bookkeeping.
//
// An event hands on an order update for every change and removal, and for
// an arrival that carries a fill or that comes after its placement timed
// out; then, when it carries a normal fill, the deal. The two parts stand
// apart: an order part that fails (a property empty, a status outside the
// table) is traced, and the fill is still handed on.
#include <cmath>
#include <exception>
#include <string>
#include <variant>

#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

namespace {

// The value of one order property, of the kind the client hands it over in.
cel::Variant property_value(cel::OrderProperties& properties, cel::eOrderProperty property,
                            std::string_view name) {
  const auto item = properties.Item(property);
  if (!item) throw framework::KeyError(std::string(name));
  return item->Value();
}

template <class T>
T value_as(const cel::Variant& value, std::string_view name) {
  if (const auto* typed = std::get_if<T>(&value)) return *typed;
  if (std::holds_alternative<std::monostate>(value)) {
    throw framework::ValueError(std::string(name) + " holds no value");
  }
  throw framework::TypeError(std::string(name) + " has a value of an unexpected kind");
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

// A number handed over as an integer or as a floating-point value.
double number_of(const cel::Variant& value, std::string_view name) {
  if (const auto* whole = std::get_if<long>(&value)) return static_cast<double>(*whole);
  return value_as<double>(value, name);
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
  const auto account = require_account(selected_account_id());

  const auto placed = client()->CreateOrder(type, instrument, account, std::lround(order.quantity),
                                            side, limit_price, stop_price);
  placed->put_Manual(false);
  {
    const std::lock_guard guard(order_mutex_);
    placing_ = true;
    arrivals_.clear();
    pending_guid_.reset();
    order_id_.reset();
  }
  eventOrderPlaced.clear();
  bool arrived = false;
  std::exception_ptr failure;
  std::vector<std::string> foreign;
  try {
    placed->Place();
    // The GUID the client knows the order by from now on.
    const std::string guid = placed->GUID();
    bool here = false;
    {
      const std::lock_guard guard(order_mutex_);
      placing_ = false;
      for (auto& seen : std::exchange(arrivals_, {})) {
        if (seen.guid == guid) {
          here = true;
        } else if (seen.added) {
          foreign.push_back(std::move(seen.guid));
        }
      }
      if (here) {
        order_id_ = guid;
      } else {
        pending_guid_ = guid;
      }
    }
    if (here) eventOrderPlaced.set();
    for (const auto& other : foreign) {
      detail::print_line("orderid " + other + " is not placed by algo");
    }
    arrived = eventOrderPlaced.wait(wait_timeout);
  } catch (...) {
    failure = std::current_exception();
  }
  // From here on the order's arrival, if it is still to come, is late.
  std::optional<std::string> orderid;
  {
    const std::lock_guard guard(order_mutex_);
    placing_ = false;
    orderid = std::exchange(order_id_, std::nullopt);
    if (!orderid && pending_guid_) late_placements_.insert(*pending_guid_);
    for (auto& seen : std::exchange(arrivals_, {})) {
      if (seen.added) late_placements_.insert(std::move(seen.guid));
    }
    pending_guid_.reset();
  }
  if (failure) std::rethrow_exception(failure);
  AssertMessage(arrived || orderid, "Order placing timeout!\n" + framework::to_string(order) + " ");
  if (!orderid) {
    throw framework::ValueError("Order id can not be obtained!\n" + framework::to_string(order));
  }
  return *orderid;
}

void VexGate::cancel_order(const std::string& orderid) {
  const auto order = client()->Orders()->ItemByGuid(orderid);
  if (!order) throw framework::ValueError("Order " + orderid + " can not be found!");
  order->Cancel();
}

std::optional<std::string> VexGate::order_id() const {
  const std::lock_guard guard(order_mutex_);
  return order_id_;
}

VexGate::Standing VexGate::standing_of(const std::string& guid, bool added) {
  const std::lock_guard guard(order_mutex_);
  if (pending_guid_ == guid) {
    pending_guid_.reset();
    order_id_ = guid;
    return Standing::Placed;
  }
  if (placing_) {
    arrivals_.push_back({guid, added});
    return Standing::Undecided;
  }
  if (late_placements_.erase(guid) > 0) return added ? Standing::Late : Standing::Known;
  return added ? Standing::NotPlacedByAlgo : Standing::Known;
}

void VexGate::handle_order_change(framework::BaseGateway& target, cel::eChangeType changeType,
                                  const std::shared_ptr<cel::Order>& cqgOrder, bool carries_fill,
                                  std::optional<std::string>& orderid) {
  const auto order = detail::require(cqgOrder, "order");
  const auto properties = detail::require(order->Properties(), "order property collection");
  // The order's own GUID stands in for an opGUID that holds no text.
  const auto guid = property_value(*properties, cel::opGUID, "opGUID");
  const auto* text = std::get_if<std::string>(&guid);
  orderid = text != nullptr && !text->empty() ? *text : order->GUID();
  if (orderid->empty()) throw framework::ValueError("opGUID holds no value");

  const bool added = changeType == cel::ctAdded;
  if (!added && changeType != cel::ctChanged && changeType != cel::ctRemoved) return;
  // Any event of the order being placed hands it over, in case its arrival
  // was lost; only an arrival can be "not placed by algo".
  bool update = !added || carries_fill;
  switch (standing_of(*orderid, added)) {
    case Standing::Placed:
      eventOrderPlaced.set();
      break;
    case Standing::Late:
      Trace("orderid " + *orderid + " arrived after its placement timed out");
      update = true;
      break;
    case Standing::NotPlacedByAlgo:
      detail::print_line("orderid " + *orderid + " is not placed by algo");
      break;
    case Standing::Undecided:
    case Standing::Known:
      break;
  }
  if (!update) return;

  const auto gw_status = property_value(*properties, cel::opGWStatus, "opGWStatus");
  const auto server_time =
      property_value(*properties, cel::opEventServerTimestamp, "opEventServerTimestamp");
  const auto average_fill_price =
      property_value(*properties, cel::opAverageFillPrice, "opAverageFillPrice");
  const auto filled_quantity =
      property_value(*properties, cel::opFilledQuantity, "opFilledQuantity");
  const auto status = convert_orderstatus_cqg2zx(
      static_cast<cel::eOrderStatus>(value_as<long>(gw_status, "opGWStatus")));
  target.process_order({.order_id = *orderid,
                        .updated_time = detail::whole_seconds(
                            value_as<framework::DateTime>(server_time, "opEventServerTimestamp")),
                        .filled_avg_price = number_of(average_fill_price, "opAverageFillPrice"),
                        .filled_quantity = number_of(filled_quantity, "opFilledQuantity"),
                        .status = status});
}

void VexGate::OnOrderChanged(cel::eChangeType changeType, std::shared_ptr<cel::Order> cqgOrder,
                             std::shared_ptr<cel::OrderProperties> /*oldProperties*/,
                             std::shared_ptr<cel::Fill> cqgFill,
                             std::shared_ptr<cel::Error> cqgError) {
  if (cqgError) return;
  const auto guard = hold_gateway();
  auto& target = the_gateway(guard);
  const bool normal_fill = cqgFill && cqgFill->Status() == cel::fsNormal;

  std::optional<std::string> orderid;
  std::exception_ptr order_failure;
  try {
    handle_order_change(target, changeType, cqgOrder, normal_fill, orderid);
  } catch (...) {
    order_failure = std::current_exception();
  }
  if (normal_fill) {
    // The fill names its order; the event's order stands in when it does not.
    const auto filled = cqgFill->Order();
    std::string deal_order = filled ? filled->GUID() : orderid.value_or("");
    if (deal_order.empty()) {
      throw std::runtime_error("the fill " + cqgFill->Id() + " names no order");
    }
    target.process_deal({.deal_id = cqgFill->Id(),
                         .order_id = std::move(deal_order),
                         .updated_time = detail::whole_seconds(cqgFill->Timestamp()),
                         .filled_avg_price = cqgFill->Price(),
                         .filled_quantity = static_cast<double>(cqgFill->Quantity())});
  }
  if (order_failure) std::rethrow_exception(order_failure);
}

}  // namespace zantrix::gateways::cqg
