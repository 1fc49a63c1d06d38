// The venue's accounts and orders: account data, positions, and the life of
// an order from Place to its last status.
#include <algorithm>
#include <cstdlib>
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

}  // namespace

// With the accountsReload quirk the accounts leave the client's list while
// account data is off, and come back when the reload is delivered.
void Venue::SetAccountSubscriptionLevel(cqg::eAccountSubscriptionLevel level) {
  accountLevel = level;
  const bool reloads = servant_.state()->quirks.accountsReload;
  if (level == cqg::aslNone && reloads) {
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
    };
    usual.push_back(std::move(reloaded));
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
    auto arrivalFill = std::make_shared<std::shared_ptr<Fill>>();
    Notification added = OrderEvent(cqg::ctAdded, order, arrivalFill, nullptr);
    added.prepare = [weak = weak_from_this(), order, arrivalFill, fillOnArrival] {
      const auto venue = weak.lock();
      if (!venue) return;
      order->eventTime = venue->Stamp();
      if (!fillOnArrival) return;
      *arrivalFill = venue->FillOnArrival(order);
      if (!*arrivalFill) venue->Emit(venue->Acceptance(order));
    };
    events.push_back(std::move(added));
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
  Notification accepted = OrderEvent(cqg::ctChanged, order, nullptr, nullptr);
  accepted.prepare = [weak = weak_from_this(), order] {
    if (const auto venue = weak.lock()) venue->Accept(order);
  };
  return accepted;
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
  if (const auto price = FillPrice(*order)) EmitFill(order, *price, cqg::fsNormal);
}

std::shared_ptr<Fill> Venue::FillOnArrival(const std::shared_ptr<Order>& order) {
  if (rejectNext_) return nullptr;
  const auto price = FillPrice(*order);
  if (!price) return nullptr;
  order->status = cqg::osInOrderBook;
  book_.push_back(order);
  auto fill = MakeFill(order, *price, cqg::fsNormal);
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
    if (const auto price = FillPrice(*order)) EmitFill(order, *price, cqg::fsNormal);
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

// A normal fill fills the order's remaining quantity and moves the position;
// a fill of any other status is only reported.
void Venue::EmitFill(const std::shared_ptr<Order>& order, double price,
                     cqg::eFillStatus fillStatus) {
  const auto fill = MakeFill(order, price, fillStatus);
  Notification filled =
      OrderEvent(cqg::ctChanged, order, std::make_shared<std::shared_ptr<Fill>>(fill), nullptr);
  if (fillStatus == cqg::fsNormal) {
    // Decided now, made when the fill is reported; until then no other
    // change of the market may fill the order again.
    order->fillPending = true;
    filled.prepare = [weak = weak_from_this(), order, fill] {
      if (const auto venue = weak.lock()) venue->ApplyFill(*order, fill);
    };
  } else {
    filled.prepare = [order, fill] {
      order->eventTime = fill->timestamp;
      order->fills->Add(fill);
    };
  }
  Emit(std::move(filled));
}

std::shared_ptr<Fill> Venue::MakeFill(const std::shared_ptr<Order>& order, double price,
                                      cqg::eFillStatus fillStatus) {
  const long quantity = order->ticket.quantity - order->filledQuantity;
  return std::make_shared<cqgsim::Fill>(servant_, "fill-" + std::to_string(nextFill_++), fillStatus,
                                        order, price, quantity, Stamp());
}

void Venue::ApplyFill(Order& order, const std::shared_ptr<Fill>& reported) {
  const Fill& fill = *reported;
  order.fills->Add(reported);
  order.fillPending = false;
  order.status = cqg::osFilled;
  order.filledQuantity += fill.quantity;
  order.averageFillPrice = fill.price;
  order.eventTime = fill.timestamp;
  JournalFill(order, fill);
  MovePosition(order, fill);
}

// The defect asked for is taken when the event is made, and shown only while
// it is delivered.
Notification Venue::OrderEvent(cqg::eChangeType changeType, const std::shared_ptr<Order>& order,
                               std::shared_ptr<std::shared_ptr<Fill>> fill,
                               std::shared_ptr<std::shared_ptr<cqg::Error>> error) {
  std::optional<OrderEventDefect> defect;
  if (!orderDefects_.empty()) {
    defect = orderDefects_.front();
    orderDefects_.pop_front();
  }
  return {"OnOrderChanged", [changeType, order, fill, error, defect](cqg::ICQGCELEvents& sink) {
            const std::shared_ptr<Fill> reported = fill ? *fill : nullptr;
            if (defect == OrderEventDefect::EmptyStatus) {
              order->misreported.emplace(cqg::opGWStatus, cqg::Variant{});
            } else if (defect == OrderEventDefect::EmptyGuid) {
              order->misreported.emplace(cqg::opGUID, cqg::Variant{});
            } else if (defect == OrderEventDefect::StatusOutsideTable) {
              order->misreported.emplace(cqg::opGWStatus, cqg::Variant{999L});
            }
            if (reported && defect == OrderEventDefect::FillWithoutOrder) {
              reported->namesOrder = false;
            }
            sink.OnOrderChanged(changeType, defect == OrderEventDefect::NullOrder ? nullptr : order,
                                nullptr, reported, error ? *error : nullptr);
            order->misreported.reset();
            if (reported) reported->namesOrder = true;
          }};
}

void Venue::FillOrder(const std::string& guid, double price, cqg::eFillStatus fillStatus) {
  EmitFill(RequireOrder(guid), price, fillStatus);
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
  auto error = std::make_shared<std::shared_ptr<cqg::Error>>();
  Notification cancelled = OrderEvent(cqg::ctChanged, order, nullptr, error);
  cancelled.prepare = [weak = weak_from_this(), order, error] {
    if (!order->Working()) {
      *error = MakeError(ORDER_NOT_WORKING_ERROR,
                         "The order " + order->guid + " can not be cancelled: it is not working");
      return;
    }
    order->status = cqg::osCanceled;
    if (const auto venue = weak.lock()) order->eventTime = venue->Stamp();
  };
  Answer("Order.Cancel", {std::move(cancelled)});
}

void Venue::SetOrderStatus(const std::string& guid, cqg::eOrderStatus status) {
  const auto order = RequireOrder(guid);
  Notification changed = OrderEvent(cqg::ctChanged, order, nullptr, nullptr);
  changed.prepare = [weak = weak_from_this(), order, status] {
    order->status = status;
    const auto venue = weak.lock();
    if (!venue) return;
    order->eventTime = venue->Stamp();
    if (status == cqg::osInOrderBook &&
        std::find(venue->book_.begin(), venue->book_.end(), order) == venue->book_.end()) {
      venue->book_.push_back(order);
    }
  };
  Emit(std::move(changed));
}

void Venue::RemoveOrder(const std::string& guid) {
  const auto order = RequireOrder(guid);
  Notification removed = OrderEvent(cqg::ctRemoved, order, nullptr, nullptr);
  removed.prepare = [weak = weak_from_this(), order] {
    const auto venue = weak.lock();
    if (!venue) return;
    order->eventTime = venue->Stamp();
    venue->orders->Remove(order.get());
    std::erase(venue->book_, order);
  };
  Emit(std::move(removed));
}

}  // namespace platform::cqgsim
