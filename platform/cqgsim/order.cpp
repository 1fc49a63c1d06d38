#include "platform/cqgsim/order.h"

#include "platform/com/error.h"
#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

cqg::Variant OrderProperty::Value() {
  return servant_.Serve("OrderProperty.Value", {static_cast<long>(property)},
                        [this] { return value; });
}

std::string Order::GUID() {
  return servant_.Serve("Order.GUID", {}, [this] { return guid; });
}

void Order::Place() {
  servant_.Serve("Order.Place", {}, [this] { RequireVenue()->Place(shared_from_this()); });
}

void Order::Cancel() {
  servant_.Serve("Order.Cancel", {}, [this] { RequireVenue()->Cancel(shared_from_this()); });
}

bool Order::Manual() {
  return servant_.Serve("Order.Manual", {}, [this] { return manual; });
}

void Order::put_Manual(bool value) {
  servant_.Serve("Order.put_Manual", {value}, [this, value] { manual = value; });
}

std::shared_ptr<cqg::OrderProperties> Order::Properties() {
  return servant_.Serve("Order.Properties", {}, [this]() -> std::shared_ptr<cqg::OrderProperties> {
    auto properties = std::make_shared<OrderProperties>(servant_);
    const auto add = [&](cqg::eOrderProperty property, cqg::Variant value) {
      properties->Add(std::make_shared<OrderProperty>(servant_, property, std::move(value)));
    };
    add(cqg::opGUID, guid);
    add(cqg::opGWStatus, static_cast<long>(status));
    add(cqg::opEventServerTimestamp, eventTime);
    add(cqg::opAverageFillPrice, averageFillPrice);
    add(cqg::opFilledQuantity, filledQuantity);
    if (misreported) {
      properties->Remove(properties->Find(misreported->first).get());
      add(misreported->first, misreported->second);
    }
    return properties;
  });
}

std::shared_ptr<cqg::Fills> Order::Fills() {
  return servant_.Serve("Order.Fills", {},
                        [this]() -> std::shared_ptr<cqg::Fills> { return fills; });
}

bool Order::Working() const {
  return status == cqg::osInTransit || status == cqg::osInOrderBook;
}

std::shared_ptr<Venue> Order::RequireVenue() const {
  auto venue = venue_.lock();
  if (!venue) throw com::ComError(com::RPC_E_DISCONNECTED, "The order's client is gone.");
  return venue;
}

std::shared_ptr<cqg::Order> Orders::ItemByGuid(const std::string& guid) {
  return servant().Serve(
      "Orders.ItemByGuid", {guid}, [this, &guid]() -> std::shared_ptr<cqg::Order> {
        if (auto order = Find(guid)) return order;
        const auto& state = *servant().state();
        const auto configuration = state.configuration.lock();
        if (state.quirks.itemByGuidFollowsConfiguration && configuration &&
            !configuration->ThrowsForMissingItems()) {
          return nullptr;
        }
        throw com::ComError(com::E_INVALIDARG, "Orders.ItemByGuid: no order with GUID " + guid);
      });
}

std::string Fill::Id() {
  return servant_.Serve("Fill.Id", {}, [this] { return id; });
}

cqg::eFillStatus Fill::Status() {
  return servant_.Serve("Fill.Status", {}, [this] { return status; });
}

std::shared_ptr<cqg::Order> Fill::Order() {
  return servant_.Serve("Fill.Order", {}, [this]() -> std::shared_ptr<cqg::Order> {
    return namesOrder ? order.lock() : nullptr;
  });
}

double Fill::Price() {
  return servant_.Serve("Fill.Price", {}, [this] { return price; });
}

long Fill::Quantity() {
  return servant_.Serve("Fill.Quantity", {}, [this] { return quantity; });
}

zantrix::framework::DateTime Fill::Timestamp() {
  return servant_.Serve("Fill.Timestamp", {}, [this] { return timestamp; });
}

}  // namespace platform::cqgsim
