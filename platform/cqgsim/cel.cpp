#include "platform/cqgsim/cel.h"

#include <utility>

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

CQGCEL::CQGCEL(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script)
    : servant_(std::move(apartment), std::move(script), std::make_shared<ClientState>()),
      configuration_(std::make_shared<cqgsim::APIConfiguration>(servant_)) {}

void CQGCEL::Startup() {
  servant_.Serve("CQGCEL.Startup", {}, [this] { Answer("CQGCEL.Startup", {CELStarted()}); });
}

void CQGCEL::Shutdown() {
  servant_.Serve("CQGCEL.Shutdown", {}, [this] { servant_.state()->shutDown = true; });
}

void CQGCEL::GWLogon(const std::string& userName, const std::string& password) {
  servant_.Serve("CQGCEL.GWLogon", {userName, password}, [] { NotSimulated("CQGCEL.GWLogon"); });
}

void CQGCEL::GWLogoff() {
  servant_.Serve("CQGCEL.GWLogoff", {}, [] { NotSimulated("CQGCEL.GWLogoff"); });
}

void CQGCEL::NewInstrument(const std::string& symbol) {
  servant_.Serve("CQGCEL.NewInstrument", {symbol}, [] { NotSimulated("CQGCEL.NewInstrument"); });
}

void CQGCEL::RemoveInstrument(std::shared_ptr<cqg::Instrument> instrument) {
  servant_.Serve("CQGCEL.RemoveInstrument", {std::shared_ptr<com::IDispatch>(instrument)},
                 [] { NotSimulated("CQGCEL.RemoveInstrument"); });
}

std::shared_ptr<cqg::TimedBarsRequest> CQGCEL::CreateTimedBarsRequest() {
  return servant_.Serve("CQGCEL.CreateTimedBarsRequest", {},
                        []() -> std::shared_ptr<cqg::TimedBarsRequest> {
                          NotSimulated("CQGCEL.CreateTimedBarsRequest");
                        });
}

std::shared_ptr<cqg::TimedBars> CQGCEL::RequestTimedBars(
    std::shared_ptr<cqg::TimedBarsRequest> request) {
  return servant_.Serve(
      "CQGCEL.RequestTimedBars", {std::shared_ptr<com::IDispatch>(request)},
      []() -> std::shared_ptr<cqg::TimedBars> { NotSimulated("CQGCEL.RequestTimedBars"); });
}

void CQGCEL::RemoveTimedBars(std::shared_ptr<cqg::TimedBars> timedBars) {
  servant_.Serve("CQGCEL.RemoveTimedBars", {std::shared_ptr<com::IDispatch>(timedBars)},
                 [] { NotSimulated("CQGCEL.RemoveTimedBars"); });
}

std::shared_ptr<cqg::TicksRequest> CQGCEL::CreateTicksRequest() {
  return servant_.Serve(
      "CQGCEL.CreateTicksRequest", {},
      []() -> std::shared_ptr<cqg::TicksRequest> { NotSimulated("CQGCEL.CreateTicksRequest"); });
}

std::shared_ptr<cqg::Ticks> CQGCEL::RequestTicks(std::shared_ptr<cqg::TicksRequest> request) {
  return servant_.Serve(
      "CQGCEL.RequestTicks", {std::shared_ptr<com::IDispatch>(request)},
      []() -> std::shared_ptr<cqg::Ticks> { NotSimulated("CQGCEL.RequestTicks"); });
}

void CQGCEL::RemoveTicks(std::shared_ptr<cqg::Ticks> ticks) {
  servant_.Serve("CQGCEL.RemoveTicks", {std::shared_ptr<com::IDispatch>(ticks)},
                 [] { NotSimulated("CQGCEL.RemoveTicks"); });
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
  return servant_.Serve(
      "CQGCEL.CreateOrder", std::move(arguments),
      []() -> std::shared_ptr<cqg::Order> { NotSimulated("CQGCEL.CreateOrder"); });
}

std::shared_ptr<cqg::APIConfiguration> CQGCEL::APIConfiguration() {
  return servant_.Serve(
      "CQGCEL.APIConfiguration", {},
      [this]() -> std::shared_ptr<cqg::APIConfiguration> { return configuration_; });
}

cqg::eAccountSubscriptionLevel CQGCEL::AccountSubscriptionLevel() {
  return servant_.Serve(
      "CQGCEL.AccountSubscriptionLevel", {},
      []() -> cqg::eAccountSubscriptionLevel { NotSimulated("CQGCEL.AccountSubscriptionLevel"); });
}

void CQGCEL::put_AccountSubscriptionLevel(cqg::eAccountSubscriptionLevel value) {
  servant_.Serve("CQGCEL.put_AccountSubscriptionLevel", {static_cast<long>(value)},
                 [] { NotSimulated("CQGCEL.put_AccountSubscriptionLevel"); });
}

std::shared_ptr<cqg::Accounts> CQGCEL::Accounts() {
  return servant_.Serve("CQGCEL.Accounts", {}, []() -> std::shared_ptr<cqg::Accounts> {
    NotSimulated("CQGCEL.Accounts");
  });
}

std::shared_ptr<cqg::Instruments> CQGCEL::Instruments() {
  return servant_.Serve("CQGCEL.Instruments", {}, []() -> std::shared_ptr<cqg::Instruments> {
    NotSimulated("CQGCEL.Instruments");
  });
}

std::shared_ptr<cqg::Orders> CQGCEL::Orders() {
  return servant_.Serve("CQGCEL.Orders", {},
                        []() -> std::shared_ptr<cqg::Orders> { NotSimulated("CQGCEL.Orders"); });
}

std::shared_ptr<cqg::TimedBarsCollection> CQGCEL::AllTimedBars() {
  return servant_.Serve(
      "CQGCEL.AllTimedBars", {},
      []() -> std::shared_ptr<cqg::TimedBarsCollection> { NotSimulated("CQGCEL.AllTimedBars"); });
}

std::shared_ptr<cqg::TicksCollection> CQGCEL::AllTicks() {
  return servant_.Serve("CQGCEL.AllTicks", {}, []() -> std::shared_ptr<cqg::TicksCollection> {
    NotSimulated("CQGCEL.AllTicks");
  });
}

com::IConnectionPoint<cqg::ICQGCELEvents>& CQGCEL::FindConnectionPoint() {
  return connectionPoint_;
}

void CQGCEL::Raise(Notification notification) {
  servant_.apartment()->Post([self = shared_from_this(), notification = std::move(notification)] {
    self->Deliver(notification);
  });
}

void CQGCEL::Sync() {
  servant_.apartment()->Call([] {});
}

void CQGCEL::Answer(std::string_view member, std::vector<Notification> usual) {
  for (auto& notification : servant_.script()->Answer(member, std::move(usual))) {
    Raise(std::move(notification));
  }
}

void CQGCEL::Deliver(const Notification& notification) {
  if (servant_.state()->shutDown) return;
  servant_.script()->RecordEvent({notification.name, com::GetCurrentThreadId()});
  connectionPoint_.Fire(notification.name, notification.deliver);
}

}  // namespace platform::cqgsim
