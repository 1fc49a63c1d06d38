// The simulated orders, their properties and their fills.
//
// An Order is made by CreateOrder with a GUID of the simulator's seeded
// sequence, so a replayed session gives the same GUIDs (a new one at Place
// when the client's quirks say so). Place hands it to the
// venue (venue.h), which reports its life through OnOrderChanged. Its
// Properties are read afresh on every call, as the order stands then: opGUID
// (text), opGWStatus (an eOrderStatus member, as long), opEventServerTimestamp
// (the DateTime of its latest event, with fractions of a second),
// opAverageFillPrice (double, the quantity-weighted average of its normal
// fills) and opFilledQuantity (long, their sum). Fills lists every fill the
// client holds for it, once each, however often an event carried it. Manual
// starts true, so an order the gateway leaves unmarked shows.
// Orders.ItemByGuid fails with a ComError for a GUID the client does not
// hold, whatever the configuration says about missing items; with the
// itemByGuidFollowsConfiguration quirk it gives a null order instead unless
// the configuration says CollectionsThrowException.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/cqgsim/account.h"
#include "platform/cqgsim/collection.h"
#include "platform/cqgsim/instrument.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/order.h"
#include "zantrix/framework/cqg/variant.h"
#include "zantrix/framework/datetime.h"

namespace platform::cqgsim {

class Venue;

class OrderProperty final : public zantrix::framework::cqg::OrderProperty {
 public:
  OrderProperty(Servant servant, zantrix::framework::cqg::eOrderProperty property,
                zantrix::framework::cqg::Variant value)
      : property(property), value(std::move(value)), servant_(std::move(servant)) {}

  zantrix::framework::cqg::Variant Value() override;

  zantrix::framework::cqg::eOrderProperty key() const { return property; }

  const zantrix::framework::cqg::eOrderProperty property;
  const zantrix::framework::cqg::Variant value;

 private:
  Servant servant_;
};

inline constexpr CollectionNames ORDERPROPERTIES_NAMES{"OrderProperties", "OrderProperties.Count",
                                                       "OrderProperties.Item",
                                                       "OrderProperties.ItemByIndex"};
using OrderProperties = Collection<zantrix::framework::cqg::OrderProperties, OrderProperty,
                                   zantrix::framework::cqg::eOrderProperty, ORDERPROPERTIES_NAMES>;

// What CreateOrder was asked for.
struct OrderTicket {
  zantrix::framework::cqg::eOrderType type;
  std::shared_ptr<Instrument> instrument;
  std::shared_ptr<Account> account;
  long quantity;
  zantrix::framework::cqg::eOrderSide side;
  std::optional<double> limitPrice;
  std::optional<double> stopPrice;
};

class Fill;
inline constexpr CollectionNames FILLS_NAMES{"Fills", "Fills.Count", "Fills.Item",
                                             "Fills.ItemByIndex"};
using Fills = Collection<zantrix::framework::cqg::Fills, Fill, std::string, FILLS_NAMES>;

class Order final : public zantrix::framework::cqg::Order,
                    public std::enable_shared_from_this<Order> {
 public:
  Order(Servant servant, std::weak_ptr<Venue> venue, std::string guid, OrderTicket ticket)
      : guid(std::move(guid)),
        ticket(std::move(ticket)),
        fills(std::make_shared<cqgsim::Fills>(servant)),
        servant_(std::move(servant)),
        venue_(std::move(venue)) {}

  std::string GUID() override;
  void Place() override;
  void Cancel() override;
  bool Manual() override;
  void put_Manual(bool value) override;
  std::shared_ptr<zantrix::framework::cqg::OrderProperties> Properties() override;
  std::shared_ptr<zantrix::framework::cqg::Fills> Fills() override;

  const std::string& key() const { return guid; }
  // Whether the order can still trade or be cancelled.
  bool Working() const;

  std::string guid;
  const OrderTicket ticket;
  const std::shared_ptr<cqgsim::Fills> fills;
  // A property the event being delivered misreports, and the value it shows.
  std::optional<
      std::pair<zantrix::framework::cqg::eOrderProperty, zantrix::framework::cqg::Variant>>
      misreported;
  bool manual = true;
  bool placed = false;
  // A fill has been decided and not yet reported.
  bool fillPending = false;
  zantrix::framework::cqg::eOrderStatus status = zantrix::framework::cqg::osNotSent;
  double averageFillPrice = 0;
  long filledQuantity = 0;
  zantrix::framework::DateTime eventTime = {};

 private:
  std::shared_ptr<Venue> RequireVenue() const;

  Servant servant_;
  std::weak_ptr<Venue> venue_;
};

inline constexpr CollectionNames ORDERS_NAMES{"Orders", "Orders.Count", "Orders.Item",
                                              "Orders.ItemByIndex"};
class Orders final
    : public Collection<zantrix::framework::cqg::Orders, Order, std::string, ORDERS_NAMES> {
 public:
  using Collection::Collection;

  std::shared_ptr<zantrix::framework::cqg::Order> ItemByGuid(const std::string& guid) override;
};

class Fill final : public zantrix::framework::cqg::Fill {
 public:
  Fill(Servant servant, std::string id, zantrix::framework::cqg::eFillStatus status,
       const std::shared_ptr<cqgsim::Order>& order, double price, long quantity,
       zantrix::framework::DateTime timestamp)
      : id(std::move(id)),
        status(status),
        order(order),
        price(price),
        quantity(quantity),
        timestamp(timestamp),
        servant_(std::move(servant)) {}

  std::string Id() override;
  zantrix::framework::cqg::eFillStatus Status() override;
  std::shared_ptr<zantrix::framework::cqg::Order> Order() override;
  double Price() override;
  long Quantity() override;
  zantrix::framework::DateTime Timestamp() override;

  const std::string& key() const { return id; }

  const std::string id;
  const zantrix::framework::cqg::eFillStatus status;
  const std::weak_ptr<cqgsim::Order> order;
  const double price;
  const long quantity;
  const zantrix::framework::DateTime timestamp;
  // False while an event that misreports its fill is delivered: Order() is
  // null then.
  bool namesOrder = true;

 private:
  Servant servant_;
};

}  // namespace platform::cqgsim
