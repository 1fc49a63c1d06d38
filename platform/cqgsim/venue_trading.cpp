// The venue's accounts and orders: account data, positions, and the life of
// an order from Place to its last status.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/com/error.h"
#include "platform/com/guid.h"
#include "platform/cqgsim/venue.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

namespace {

[[noreturn]] void Refuse(const std::string& why) {
  throw com::ComError(com::E_INVALIDARG, "CreateOrder: " + why);
}

// The property an event with `defect` shows wrong, and the value it shows.
std::optional<std::pair<cqg::eOrderProperty, cqg::Variant>> MisreportedProperty(
    std::optional<OrderEventDefect> defect) {
  if (!defect) return std::nullopt;
  switch (*defect) {
    case OrderEventDefect::EmptyStatus:
      return std::pair{cqg::opGWStatus, cqg::Variant{}};
    case OrderEventDefect::EmptyGuid:
      return std::pair{cqg::opGUID, cqg::Variant{}};
    case OrderEventDefect::StatusOutsideTable:
      return std::pair{cqg::opGWStatus, cqg::Variant{999L}};
    case OrderEventDefect::EmptyTimestamp:
      return std::pair{cqg::opEventServerTimestamp, cqg::Variant{}};
    case OrderEventDefect::EmptyAveragePrice:
      return std::pair{cqg::opAverageFillPrice, cqg::Variant{}};
    case OrderEventDefect::EmptyFilledQuantity:
      return std::pair{cqg::opFilledQuantity, cqg::Variant{}};
    case OrderEventDefect::NullOrder:
    case OrderEventDefect::FillWithoutOrder:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

// With the accountsReload quirk the accounts leave the client's list while
// account data is off, and come back when the reload is delivered; the
// reload may report fills again (venue_misbehaviour.cpp).
void Venue::SetAccountSubscriptionLevel(cqg::eAccountSubscriptionLevel level) {
  accountLevel = level;
  const Quirks& quirks = servant_.state()->quirks;
  if (level == cqg::aslNone && quirks.accountsReload) {
    for (const auto& account : accounts->items()) unloaded_.push_back(account);
    for (const auto& account : unloaded_) accounts->Remove(account.get());
  }
  std::vector<Notification> usual;
  if (level == cqg::aslAccountUpdatesAndOrders) {
    Notification reloaded = AccountChanged(cqg::actAccountsReloaded, nullptr, nullptr);
    reloaded.prepare = [weak = weak_from_this()] {
      const auto venue = weak.lock();
      if (!venue) return;
      for (auto& account : std::exchange(venue->unloaded_, {})) {
        if (!venue->accounts->Find(account->key())) venue->accounts->Add(std::move(account));
      }
      venue->RepeatFillsAfterReload();
    };
    usual.push_back(std::move(reloaded));
  } else if (level == cqg::aslNone && quirks.reloadOnSwitchOff) {
    usual.push_back(AccountChanged(cqg::actAccountsReloaded, nullptr, nullptr));
  }
  Answer("CQGCEL.put_AccountSubscriptionLevel", std::move(usual));
}

std::shared_ptr<Account> Venue::RequireAccount(long accountId) {
  if (auto account = accounts->Find(accountId)) return account;
  for (const auto& account : unloaded_) {
    if (account->key() == accountId) return account;
  }
  throw std::invalid_argument("no account has the id " + std::to_string(accountId));
}

void Venue::AddAccount(const AccountSetup& setup) {
  if (accounts->Find(setup.id)) {
    throw std::invalid_argument("an account with the id " + std::to_string(setup.id) +
                                " exists already");
  }
  auto account = std::make_shared<Account>(servant_, setup.id, setup.name);
  account->summary->figures = setup.summary;
  if (setup.startingCash) {
    books_.push_back({.account = account, .startingCash = *setup.startingCash});
    Summarize(books_.back());
  }
  accounts->Add(std::move(account));
}

void Venue::SetSummary(long accountId, const SummarySetup& figures) {
  RequireAccount(accountId)->summary->figures = figures;
}

void Venue::SetPosition(long accountId, const PositionSetup& setup) {
  const auto account = RequireAccount(accountId);
  auto position = account->positions->Find(setup.instrumentName);
  const bool added = !position;
  if (added) {
    position = std::make_shared<Position>(servant_, setup.instrumentName);
    account->positions->Add(position);
  }
  position->averagePrice = setup.averagePrice;
  position->quantity = setup.quantity;
  position->ote = setup.ote;
  position->profitLoss = setup.profitLoss;
  if (setup.side) {
    position->side = *setup.side;
  } else if (setup.quantity != 0) {
    position->side = setup.quantity > 0 ? cqg::osdBuy : cqg::osdSell;
  }
  EmitPositionChange(account, position, added);
}

void Venue::EmitPositionChange(const std::shared_ptr<Account>& account,
                               const std::shared_ptr<Position>& position, bool added) {
  if (accountLevel != cqg::aslAccountUpdatesAndOrders ||
      account->positionLevel != cqg::pslSnapshotAndUpdates) {
    return;
  }
  Emit(AccountChanged(added ? cqg::actPositionAdded : cqg::actPositionChanged, account, position));
}

std::string Venue::NextGuid() {
  com::GUID guid;
  const auto high = random_();
  const auto low = random_();
  guid.Data1 = static_cast<std::uint32_t>(high >> 32);
  guid.Data2 = static_cast<std::uint16_t>(high >> 16);
  guid.Data3 = static_cast<std::uint16_t>(high);
  for (std::size_t i = 0; i < guid.Data4.size(); ++i) {
    guid.Data4[i] = static_cast<std::uint8_t>(low >> (8 * i));
  }
  return com::to_string(guid);
}

std::shared_ptr<Order> Venue::CreateOrder(cqg::eOrderType type,
                                          const std::shared_ptr<cqg::Instrument>& instrument,
                                          const std::shared_ptr<cqg::Account>& account,
                                          long quantity, cqg::eOrderSide side,
                                          std::optional<double> limitPrice,
                                          std::optional<double> stopPrice) {
  if (!instrument) Refuse("no instrument");
  if (!account) Refuse("no account");
  if (quantity <= 0) Refuse("the quantity must be positive");
  if (side != cqg::osdBuy && side != cqg::osdSell) Refuse("the side must be buy or sell");
  switch (type) {
    case cqg::otMarket:
      if (limitPrice || stopPrice) Refuse("a market order takes no price");
      break;
    case cqg::otLimit:
      if (!limitPrice || stopPrice) Refuse("a limit order takes a limit price only");
      break;
    case cqg::otStop:
      if (!limitPrice || !stopPrice) Refuse("a stop order takes a limit and a stop price");
      break;
    default:
      Refuse("unknown order type " + std::to_string(type));
  }
  OrderTicket ticket{.type = type,
                     .instrument = std::dynamic_pointer_cast<Instrument>(instrument),
                     .account = std::dynamic_pointer_cast<Account>(account),
                     .quantity = quantity,
                     .side = side,
                     .limitPrice = limitPrice,
                     .stopPrice = stopPrice};
  if (!ticket.instrument || !ticket.account) Refuse("an object of another client");
  return std::make_shared<Order>(servant_, weak_from_this(), NextGuid(), std::move(ticket));
}

std::shared_ptr<Order> Venue::RequireOrder(const std::string& guid) {
  if (auto order = orders->Find(guid)) return order;
  throw std::invalid_argument("no order has the GUID " + guid);
}

void Venue::Place(const std::shared_ptr<Order>& order) {
  if (order->placed) throw com::ComError(com::E_UNEXPECTED, "Order.Place: placed already");
  if (servant_.state()->quirks.guidChangesOnPlace) order->guid = NextGuid();
  Submit(order, true, true);
  // The order is at the venue and its events follow, whatever the caller
  // hears now.
  if (std::exchange(failNextPlace_, false) || Chance(misbehaviour_.placeFailsAfterArrival)) {
    throw com::ComError(com::RPC_E_DISCONNECTED,
                        "Order.Place: the connection was lost after the order was sent");
  }
}

void Venue::PlaceManualOrder(const ManualOrderSetup& setup) {
  const auto account = RequireAccount(setup.accountId);
  const std::string fullName = RequireListing(setup.symbol).fullName;
  auto instrument = instruments->Find(fullName);
  if (!instrument) instrument = std::make_shared<Instrument>(servant_, fullName);
  auto order = std::make_shared<Order>(servant_, weak_from_this(), NextGuid(),
                                       OrderTicket{.type = cqg::otMarket,
                                                   .instrument = std::move(instrument),
                                                   .account = account,
                                                   .quantity = setup.quantity,
                                                   .side = setup.side,
                                                   .limitPrice = std::nullopt,
                                                   .stopPrice = std::nullopt});
  Submit(order, false, setup.announced);
}

// The order is in the client's Orders from now on; its arrival (ctAdded) and
// its acceptance by the venue follow as two events, answered through the
// script for a request, emitted for an order entered by hand. With the
// fillOnArrival quirk an order that can trade is accepted and filled in its
// arrival, which carries the fill, and no acceptance follows.
void Venue::Submit(const std::shared_ptr<Order>& order, bool answered, bool announced) {
  order->placed = true;
  order->status = cqg::osInTransit;
  orders->Add(order);
  std::vector<Notification> events;
  if (announced) {
    const bool fillOnArrival = servant_.state()->quirks.fillOnArrival;
    events.push_back(
        OrderEvent(cqg::ctAdded, order, [order, fillOnArrival](Venue& venue, OrderReport& report) {
          order->eventTime = venue.Stamp();
          if (!fillOnArrival) return;
          report.fill = venue.FillOnArrival(order);
          if (!report.fill) venue.Emit(venue.Acceptance(order));
        }));
    if (!fillOnArrival) events.push_back(Acceptance(order));
  } else {
    events.push_back(Acceptance(order));
  }
  if (answered) {
    Answer("Order.Place", std::move(events));
  } else {
    for (auto& event : events) Emit(std::move(event));
  }
}

Notification Venue::Acceptance(const std::shared_ptr<Order>& order) {
  return OrderEvent(cqg::ctChanged, order,
                    [order](Venue& venue, OrderReport&) { venue.Accept(order); });
}

void Venue::Accept(const std::shared_ptr<Order>& order) {
  if (order->status != cqg::osInTransit) return;
  order->eventTime = Stamp();
  if (rejectNext_) {
    rejectNext_ = false;
    order->status = cqg::osRejectGW;
    return;
  }
  order->status = cqg::osInOrderBook;
  book_.push_back(order);
  if (const auto price = FillPrice(*order)) {
    EmitFill(order, *price, cqg::fsNormal, TradeQuantity(*order));
  }
}

std::shared_ptr<Fill> Venue::FillOnArrival(const std::shared_ptr<Order>& order) {
  if (rejectNext_) return nullptr;
  const auto price = FillPrice(*order);
  if (!price) return nullptr;
  order->status = cqg::osInOrderBook;
  book_.push_back(order);
  auto fill = MakeFill(order, *price, cqg::fsNormal, TradeQuantity(*order));
  ApplyFill(*order, fill);
  return fill;
}

void Venue::RejectNextOrder() {
  rejectNext_ = true;
}

void Venue::MatchOrders(const Listing& listing) {
  std::erase_if(book_, [](const auto& order) { return order->status != cqg::osInOrderBook; });
  for (const auto& order : book_) {
    if (order->status != cqg::osInOrderBook || order->fillPending ||
        order->ticket.instrument->fullName != listing.fullName) {
      continue;
    }
    if (const auto price = FillPrice(*order)) {
      EmitFill(order, *price, cqg::fsNormal, TradeQuantity(*order));
    }
  }
}

std::optional<double> Venue::FillPrice(const Order& order) const {
  const Listing* listing = nullptr;
  for (const auto& candidate : listings_) {
    if (candidate.fullName == order.ticket.instrument->fullName) listing = &candidate;
  }
  if (!listing) return std::nullopt;
  const bool buy = order.ticket.side == cqg::osdBuy;
  const double price = buy ? listing->ask : listing->bid;
  if (price <= 0) return std::nullopt;
  switch (order.ticket.type) {
    case cqg::otMarket:
      return price;
    case cqg::otLimit:
      if (buy ? price <= *order.ticket.limitPrice : price >= *order.ticket.limitPrice) return price;
      return std::nullopt;
    case cqg::otStop:
      if (buy ? price >= *order.ticket.stopPrice : price <= *order.ticket.stopPrice) return price;
      return std::nullopt;
  }
  return std::nullopt;
}

// A normal fill adds to the order's filled quantity and moves the position;
// a fill of any other status is only reported.
void Venue::EmitFill(const std::shared_ptr<Order>& order, double price, cqg::eFillStatus fillStatus,
                     long quantity) {
  const auto fill = MakeFill(order, price, fillStatus, quantity);
  if (fillStatus == cqg::fsNormal) {
    // Decided now, made when the fill is reported; until then no other
    // change of the market may fill the order again.
    order->fillPending = true;
    Emit(OrderEvent(cqg::ctChanged, order, [order, fill](Venue& venue, OrderReport& report) {
      report.fill = fill;
      venue.ApplyFill(*order, fill);
    }));
  } else {
    Emit(OrderEvent(cqg::ctChanged, order, [order, fill](Venue&, OrderReport& report) {
      report.fill = fill;
      order->eventTime = fill->timestamp;
      order->fills->Add(fill);
    }));
  }
}

std::shared_ptr<Fill> Venue::MakeFill(const std::shared_ptr<Order>& order, double price,
                                      cqg::eFillStatus fillStatus, long quantity) {
  return std::make_shared<cqgsim::Fill>(servant_, "fill-" + std::to_string(nextFill_++), fillStatus,
                                        order, price, quantity, Stamp());
}

// The order stays in the book until it is filled in full. Its average price
// is the first fill's own price until a second one comes, so that an order
// filled at once reports exactly its fill's price.
void Venue::ApplyFill(Order& order, const std::shared_ptr<Fill>& reported) {
  const Fill& fill = *reported;
  order.fills->Add(reported);
  order.fillPending = false;
  const long filled = order.filledQuantity + fill.quantity;
  if (order.filledQuantity == 0) {
    order.averageFillPrice = fill.price;
  } else if (filled > 0) {
    order.averageFillPrice = (order.averageFillPrice * static_cast<double>(order.filledQuantity) +
                              fill.price * static_cast<double>(fill.quantity)) /
                             static_cast<double>(filled);
  }
  order.filledQuantity = filled;
  if (filled >= order.ticket.quantity) order.status = cqg::osFilled;
  order.eventTime = fill.timestamp;
  JournalFill(order, fill);
  MovePosition(order, fill);
}

// The defect asked for is taken when the event is made; the defect drawn at
// random, when it is delivered. Either is shown only while it is delivered.
Notification Venue::OrderEvent(cqg::eChangeType changeType, const std::shared_ptr<Order>& order,
                               OrderChange change) {
  auto report = std::make_shared<OrderReport>();
  if (!orderDefects_.empty()) {
    report->defect = orderDefects_.front();
    orderDefects_.pop_front();
  }
  Notification event{"OnOrderChanged", [changeType, order, report](cqg::ICQGCELEvents& sink) {
                       const auto defect = report->defect;
                       order->misreported = MisreportedProperty(defect);
                       const auto& fill = report->fill;
                       if (fill && defect == OrderEventDefect::FillWithoutOrder) {
                         fill->namesOrder = false;
                       }
                       sink.OnOrderChanged(changeType,
                                           defect == OrderEventDefect::NullOrder ? nullptr : order,
                                           nullptr, fill, report->error);
                       order->misreported.reset();
                       if (fill) fill->namesOrder = true;
                     }};
  event.prepare = [weak = weak_from_this(), order, report, change = std::move(change)] {
    const auto venue = weak.lock();
    if (!venue) return;
    if (change) change(*venue, *report);
    venue->Misbehave(order, *report);
  };
  event.lost = [weak = weak_from_this()] {
    const auto venue = weak.lock();
    return venue && venue->gatewayDown_;
  };
  return event;
}

void Venue::FillOrder(const std::string& guid, double price, cqg::eFillStatus fillStatus) {
  const auto order = RequireOrder(guid);
  EmitFill(order, price, fillStatus, order->ticket.quantity - order->filledQuantity);
}

void Venue::MovePosition(const Order& order, const Fill& fill) {
  const auto& account = order.ticket.account;
  auto position = account->positions->Find(order.ticket.instrument->fullName);
  const bool added = !position;
  if (added) {
    position = std::make_shared<Position>(servant_, order.ticket.instrument->fullName);
    account->positions->Add(position);
  }
  const long before = position->quantity;
  const long change = order.ticket.side == cqg::osdBuy ? fill.quantity : -fill.quantity;
  const long after = before + change;
  Books* books = FindBooks(*account);
  const Listing* listing = books ? FindListing(position->instrumentName) : nullptr;
  if (listing) Realize(*books, *position, *listing, change, fill.price);
  if (before == 0 || (before > 0) == (change > 0)) {
    position->averagePrice =
        (std::labs(before) * position->averagePrice + fill.quantity * fill.price) /
        static_cast<double>(std::labs(after));
  } else if (std::labs(change) > std::labs(before)) {
    position->averagePrice = fill.price;
  }
  position->quantity = after;
  if (after != 0) position->side = after > 0 ? cqg::osdBuy : cqg::osdSell;
  if (listing) {
    books->lastFill.insert_or_assign(position->instrumentName, fill.price);
    Revalue(*books, *position, *listing);
  }
  EmitPositionChange(account, position, added);
}

void Venue::JournalFill(const Order& order, const Fill& fill) {
  servant_.script()->RecordFill({.orderGuid = order.guid,
                                 .fillId = fill.id,
                                 .instrument = order.ticket.instrument->fullName,
                                 .side = order.ticket.side,
                                 .price = fill.price,
                                 .quantity = fill.quantity,
                                 .timestamp = fill.timestamp});
}

void Venue::Cancel(const std::shared_ptr<Order>& order) {
  Answer("Order.Cancel",
         {OrderEvent(cqg::ctChanged, order, [order](Venue& venue, OrderReport& report) {
           if (!order->Working()) {
             report.error =
                 MakeError(ORDER_NOT_WORKING_ERROR,
                           "The order " + order->guid + " can not be cancelled: it is not working");
             return;
           }
           order->status = cqg::osCanceled;
           order->eventTime = venue.Stamp();
         })});
}

void Venue::SetOrderStatus(const std::string& guid, cqg::eOrderStatus status) {
  const auto order = RequireOrder(guid);
  Emit(OrderEvent(cqg::ctChanged, order, [order, status](Venue& venue, OrderReport&) {
    order->status = status;
    order->eventTime = venue.Stamp();
    if (status == cqg::osInOrderBook &&
        std::find(venue.book_.begin(), venue.book_.end(), order) == venue.book_.end()) {
      venue.book_.push_back(order);
    }
  }));
}

void Venue::RemoveOrder(const std::string& guid) {
  const auto order = RequireOrder(guid);
  Emit(OrderEvent(cqg::ctRemoved, order, [order](Venue& venue, OrderReport&) {
    order->eventTime = venue.Stamp();
    venue.orders->Remove(order.get());
    std::erase(venue.book_, order);
  }));
}

std::vector<OrderSnapshot> Venue::OrderSnapshots() const {
  std::vector<OrderSnapshot> snapshots;
  snapshots.reserve(orders->items().size());
  for (const auto& order : orders->items()) {
    snapshots.push_back({.guid = order->guid,
                         .manual = order->manual,
                         .instrument = order->ticket.instrument->fullName,
                         .side = order->ticket.side,
                         .quantity = order->ticket.quantity,
                         .filledQuantity = order->filledQuantity,
                         .status = order->status});
  }
  return snapshots;
}

// The accounts dropped while account data is off hold positions too.
std::vector<PositionSnapshot> Venue::PositionSnapshots() const {
  std::vector<PositionSnapshot> snapshots;
  const auto add = [&snapshots](const Account& account) {
    for (const auto& position : account.positions->items()) {
      snapshots.push_back({.accountId = account.id,
                           .instrument = position->instrumentName,
                           .quantity = position->quantity});
    }
  };
  for (const auto& account : accounts->items()) add(*account);
  for (const auto& account : unloaded_) add(*account);
  return snapshots;
}

}  // namespace platform::cqgsim
