// VexGate: placing and cancelling orders, and the order events that become
// the gateway's order updates and deals.
//
// The hand-over: place_order learns the new order's GUID from the client
// before it sends the order, keeps it as the pending GUID, and waits; the
// arrival (ctAdded) of that order, and of no other, moves the GUID into the
// slot order_id_ and then sets eventOrderPlaced. Any other arrival (an order
// entered by hand, or one whose placement already timed out) is "not placed
// by algo". Both sides take order_mutex_ only around the slot.
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
const T& value_as(const cel::Variant& value, std::string_view name) {
  if (const auto* typed = std::get_if<T>(&value)) return *typed;
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
  const std::string cqg_symbol = the_gateway().get_cqg_symbol_from_zx_security(order.security);
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

  const auto placed = client().CreateOrder(type, instrument, account, std::lround(order.quantity),
                                           side, limit_price, stop_price);
  placed->put_Manual(false);
  // Asked before the lock is taken: the worker, which serves the call, takes
  // the lock in OnOrderChanged.
  std::string guid = placed->GUID();
  {
    const std::lock_guard guard(order_mutex_);
    pending_guid_ = std::move(guid);
    order_id_.reset();
  }
  eventOrderPlaced.clear();
  bool arrived = false;
  std::exception_ptr failure;
  try {
    placed->Place();
    arrived = eventOrderPlaced.wait(wait_timeout);
  } catch (...) {
    failure = std::current_exception();
  }
  // From here on the order's arrival, if it is still to come, is not ours.
  std::optional<std::string> orderid;
  {
    const std::lock_guard guard(order_mutex_);
    pending_guid_.reset();
    orderid = std::exchange(order_id_, std::nullopt);
  }
  if (failure) std::rethrow_exception(failure);
  AssertMessage(arrived, "Order placing timeout!\n" + framework::to_string(order) + " ");
  if (!orderid) {
    throw framework::ValueError("Order id can not be obtained!\n" + framework::to_string(order));
  }
  return *orderid;
}

void VexGate::cancel_order(const std::string& orderid) {
  const auto order = client().Orders()->ItemByGuid(orderid);
  if (!order) throw framework::ValueError("Order " + orderid + " can not be found!");
  order->Cancel();
}

std::optional<std::string> VexGate::order_id() const {
  const std::lock_guard guard(order_mutex_);
  return order_id_;
}

void VexGate::OnOrderChanged(cel::eChangeType changeType, std::shared_ptr<cel::Order> cqgOrder,
                             std::shared_ptr<cel::OrderProperties> /*oldProperties*/,
                             std::shared_ptr<cel::Fill> cqgFill,
                             std::shared_ptr<cel::Error> cqgError) {
  if (cqgError) return;
  const auto properties = cqgOrder->Properties();
  const auto gw_status = property_value(*properties, cel::opGWStatus, "opGWStatus");
  const auto guid = property_value(*properties, cel::opGUID, "opGUID");
  const auto server_time =
      property_value(*properties, cel::opEventServerTimestamp, "opEventServerTimestamp");
  const auto average_fill_price =
      property_value(*properties, cel::opAverageFillPrice, "opAverageFillPrice");
  const auto filled_quantity =
      property_value(*properties, cel::opFilledQuantity, "opFilledQuantity");
  const framework::DateTime updated_time =
      detail::whole_seconds(value_as<framework::DateTime>(server_time, "opEventServerTimestamp"));

  const auto status = convert_orderstatus_cqg2zx(
      static_cast<cel::eOrderStatus>(value_as<long>(gw_status, "opGWStatus")));
  const std::string& orderid = value_as<std::string>(guid, "opGUID");

  switch (changeType) {
    case cel::ctAdded: {
      bool ours = false;
      {
        const std::lock_guard guard(order_mutex_);
        if (pending_guid_ == orderid) {
          pending_guid_.reset();
          order_id_ = orderid;
          ours = true;
        }
      }
      if (!ours) {
        detail::print_line("orderid " + orderid + " is not placed by algo");
        return;
      }
      eventOrderPlaced.set();
      break;
    }
    case cel::ctChanged:
    case cel::ctRemoved:
      the_gateway().process_order(
          {.order_id = orderid,
           .updated_time = updated_time,
           .filled_avg_price = number_of(average_fill_price, "opAverageFillPrice"),
           .filled_quantity = number_of(filled_quantity, "opFilledQuantity"),
           .status = status});
      break;
  }

  if (!cqgFill || cqgFill->Status() != cel::fsNormal) return;
  the_gateway().process_deal({.deal_id = cqgFill->Id(),
                              .order_id = cqgFill->Order()->GUID(),
                              .updated_time = detail::whole_seconds(cqgFill->Timestamp()),
                              .filled_avg_price = cqgFill->Price(),
                              .filled_quantity = static_cast<double>(cqgFill->Quantity())});
}

}  // namespace zantrix::gateways::cqg
