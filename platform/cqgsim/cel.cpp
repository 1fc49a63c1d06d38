#include "platform/cqgsim/cel.h"

#include <utility>

#include "platform/cqgsim/cel_proxy.h"

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

CQGCEL::CQGCEL(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script)
    : servant_(std::move(apartment), std::move(script), std::make_shared<ClientState>()),
      configuration_(std::make_shared<cqgsim::APIConfiguration>(servant_)),
      venue_(std::make_shared<Venue>(servant_)) {
  servant_.state()->configuration = configuration_;
}

void CQGCEL::Bind() {
  std::weak_ptr<CQGCEL> weak = weak_from_this();
  venue_->Bind({.post =
                    [weak](Notification notification) {
                      if (const auto self = weak.lock()) self->Raise(std::move(notification));
                    },
                .deliver =
                    [weak](const Notification& notification) {
                      if (const auto self = weak.lock()) self->Deliver(notification);
                    }});
}

void CQGCEL::Startup() {
  servant_.Serve("CQGCEL.Startup", {}, [this] { Answer("CQGCEL.Startup", {CELStarted()}); });
}

void CQGCEL::Shutdown() {
  servant_.Serve("CQGCEL.Shutdown", {}, [this] { servant_.state()->shutDown = true; });
}

void CQGCEL::GWLogon(const std::string& userName, const std::string& password) {
  servant_.Serve("CQGCEL.GWLogon", {userName, password}, [this] { venue_->GWLogon(); });
}

void CQGCEL::GWLogoff() {
  servant_.Serve("CQGCEL.GWLogoff", {}, [this] { venue_->GWLogoff(); });
}

void CQGCEL::NewInstrument(const std::string& symbol) {
  servant_.Serve("CQGCEL.NewInstrument", {symbol},
                 [this, &symbol] { venue_->NewInstrument(symbol); });
}

void CQGCEL::RemoveInstrument(std::shared_ptr<cqg::Instrument> instrument) {
  servant_.Serve("CQGCEL.RemoveInstrument", {std::shared_ptr<com::IDispatch>(instrument)},
                 [this, &instrument] { venue_->RemoveInstrument(instrument); });
}

std::shared_ptr<cqg::TimedBarsRequest> CQGCEL::CreateTimedBarsRequest() {
  return servant_.Serve("CQGCEL.CreateTimedBarsRequest", {},
                        [this]() -> std::shared_ptr<cqg::TimedBarsRequest> {
                          return venue_->CreateTimedBarsRequest();
                        });
}

std::shared_ptr<cqg::TimedBars> CQGCEL::RequestTimedBars(
    std::shared_ptr<cqg::TimedBarsRequest> request) {
  return servant_.Serve("CQGCEL.RequestTimedBars", {std::shared_ptr<com::IDispatch>(request)},
                        [this, &request]() -> std::shared_ptr<cqg::TimedBars> {
                          return venue_->RequestTimedBars(request);
                        });
}

void CQGCEL::RemoveTimedBars(std::shared_ptr<cqg::TimedBars> timedBars) {
  servant_.Serve("CQGCEL.RemoveTimedBars", {std::shared_ptr<com::IDispatch>(timedBars)},
                 [this, &timedBars] { venue_->RemoveTimedBars(timedBars); });
}

std::shared_ptr<cqg::TicksRequest> CQGCEL::CreateTicksRequest() {
  return servant_.Serve(
      "CQGCEL.CreateTicksRequest", {},
      [this]() -> std::shared_ptr<cqg::TicksRequest> { return venue_->CreateTicksRequest(); });
}

std::shared_ptr<cqg::Ticks> CQGCEL::RequestTicks(std::shared_ptr<cqg::TicksRequest> request) {
  return servant_.Serve(
      "CQGCEL.RequestTicks", {std::shared_ptr<com::IDispatch>(request)},
      [this, &request]() -> std::shared_ptr<cqg::Ticks> { return venue_->RequestTicks(request); });
}

void CQGCEL::RemoveTicks(std::shared_ptr<cqg::Ticks> ticks) {
  servant_.Serve("CQGCEL.RemoveTicks", {std::shared_ptr<com::IDispatch>(ticks)},
                 [this, &ticks] { venue_->RemoveTicks(ticks); });
}

std::shared_ptr<cqg::Order> CQGCEL::CreateOrder(cqg::eOrderType type,
                                                std::shared_ptr<cqg::Instrument> instrument,
                                                std::shared_ptr<cqg::Account> account,
                                                long quantity, cqg::eOrderSide side,
                                                std::optional<double> limitPrice,
                                                std::optional<double> stopPrice) {
  std::vector<cqg::Variant> arguments{
      static_cast<long>(type), std::shared_ptr<com::IDispatch>(instrument),
      std::shared_ptr<com::IDispatch>(account), quantity, static_cast<long>(side)};
  if (limitPrice) arguments.emplace_back(*limitPrice);
  if (stopPrice) arguments.emplace_back(*stopPrice);
  return servant_.Serve("CQGCEL.CreateOrder", arguments, [&]() -> std::shared_ptr<cqg::Order> {
    return venue_->CreateOrder(type, instrument, account, quantity, side, limitPrice, stopPrice);
  });
}

std::shared_ptr<cqg::APIConfiguration> CQGCEL::APIConfiguration() {
  return servant_.Serve(
      "CQGCEL.APIConfiguration", {},
      [this]() -> std::shared_ptr<cqg::APIConfiguration> { return configuration_; });
}

cqg::eAccountSubscriptionLevel CQGCEL::AccountSubscriptionLevel() {
  return servant_.Serve("CQGCEL.AccountSubscriptionLevel", {},
                        [this] { return venue_->accountLevel; });
}

void CQGCEL::put_AccountSubscriptionLevel(cqg::eAccountSubscriptionLevel value) {
  servant_.Serve("CQGCEL.put_AccountSubscriptionLevel", {static_cast<long>(value)},
                 [this, value] { venue_->SetAccountSubscriptionLevel(value); });
}

std::shared_ptr<cqg::Accounts> CQGCEL::Accounts() {
  return servant_.Serve("CQGCEL.Accounts", {},
                        [this]() -> std::shared_ptr<cqg::Accounts> { return venue_->accounts; });
}

std::shared_ptr<cqg::Instruments> CQGCEL::Instruments() {
  return servant_.Serve("CQGCEL.Instruments", {}, [this]() -> std::shared_ptr<cqg::Instruments> {
    return venue_->instruments;
  });
}

std::shared_ptr<cqg::Orders> CQGCEL::Orders() {
  return servant_.Serve("CQGCEL.Orders", {},
                        [this]() -> std::shared_ptr<cqg::Orders> { return venue_->orders; });
}

std::shared_ptr<cqg::TimedBarsCollection> CQGCEL::AllTimedBars() {
  return servant_.Serve(
      "CQGCEL.AllTimedBars", {},
      [this]() -> std::shared_ptr<cqg::TimedBarsCollection> { return venue_->allTimedBars; });
}

std::shared_ptr<cqg::TicksCollection> CQGCEL::AllTicks() {
  return servant_.Serve("CQGCEL.AllTicks", {}, [this]() -> std::shared_ptr<cqg::TicksCollection> {
    return venue_->allTicks;
  });
}

com::IConnectionPoint<cqg::ICQGCELEvents>& CQGCEL::FindConnectionPoint() {
  return connectionPoint_;
}

std::shared_ptr<com::IDispatch> CQGCEL::UnmarshalInterface(com::ProxyBinding taker) {
  return std::make_shared<CQGCELProxy>(shared_from_this(), std::move(taker));
}

void CQGCEL::Raise(Notification notification) {
  servant_.apartment()->Post([self = shared_from_this(), notification = std::move(notification)] {
    self->Deliver(notification);
  });
}

void CQGCEL::Act(Action action) {
  servant_.apartment()->Post(
      [self = shared_from_this(), action = std::move(action)] { self->ActHere(action); });
}

void CQGCEL::ActHere(const Action& action) {
  if (servant_.state()->shutDown) return;
  try {
    action(*venue_);
  } catch (...) {
    if (!actionError_) actionError_ = std::current_exception();
  }
  venue_->Flush();
}

void CQGCEL::Sync() {
  servant_.apartment()->Call([this] {
    if (actionError_) std::rethrow_exception(std::exchange(actionError_, nullptr));
  });
}

void CQGCEL::Answer(std::string_view member, std::vector<Notification> usual) {
  const bool now = servant_.state()->quirks.eventsDuringCalls;
  for (auto& notification : servant_.script()->Answer(member, std::move(usual))) {
    if (now) {
      Deliver(notification);
    } else {
      Raise(std::move(notification));
    }
  }
}

void CQGCEL::Deliver(const Notification& notification) {
  if (servant_.state()->shutDown) return;
  const bool reported = !notification.lost || !notification.lost();
  if (reported && servant_.script()->Recording()) {
    servant_.script()->RecordEvent({notification.name, com::GetCurrentThreadId()});
  }
  if (notification.prepare) {
    try {
      notification.prepare();
    } catch (...) {
      // The simulator's own fault: the next Sync reports it.
      if (!actionError_) actionError_ = std::current_exception();
      return;
    }
  }
  if (reported) connectionPoint_.Fire(notification.name, notification.deliver);
  venue_->Flush();
}

}  // namespace platform::cqgsim
