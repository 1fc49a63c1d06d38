#include "platform/cqgsim/cel_proxy.h"

#include <utility>

namespace platform::cqgsim {

namespace cqg = zantrix::framework::cqg;

CQGCELProxy::CQGCELProxy(std::shared_ptr<cqg::CQGCEL> object, com::ProxyBinding binding)
    : object_(std::move(object)), binding_(std::move(binding)) {}

cqg::CQGCEL& CQGCELProxy::Object() const {
  binding_.CheckCaller();
  return *object_;
}

void CQGCELProxy::Startup() {
  Object().Startup();
}

void CQGCELProxy::Shutdown() {
  Object().Shutdown();
}

void CQGCELProxy::GWLogon(const std::string& userName, const std::string& password) {
  Object().GWLogon(userName, password);
}

void CQGCELProxy::GWLogoff() {
  Object().GWLogoff();
}

void CQGCELProxy::NewInstrument(const std::string& symbol) {
  Object().NewInstrument(symbol);
}

void CQGCELProxy::RemoveInstrument(std::shared_ptr<cqg::Instrument> instrument) {
  Object().RemoveInstrument(std::move(instrument));
}

std::shared_ptr<cqg::TimedBarsRequest> CQGCELProxy::CreateTimedBarsRequest() {
  return Object().CreateTimedBarsRequest();
}

std::shared_ptr<cqg::TimedBars> CQGCELProxy::RequestTimedBars(
    std::shared_ptr<cqg::TimedBarsRequest> request) {
  return Object().RequestTimedBars(std::move(request));
}

void CQGCELProxy::RemoveTimedBars(std::shared_ptr<cqg::TimedBars> timedBars) {
  Object().RemoveTimedBars(std::move(timedBars));
}

std::shared_ptr<cqg::TicksRequest> CQGCELProxy::CreateTicksRequest() {
  return Object().CreateTicksRequest();
}

std::shared_ptr<cqg::Ticks> CQGCELProxy::RequestTicks(std::shared_ptr<cqg::TicksRequest> request) {
  return Object().RequestTicks(std::move(request));
}

void CQGCELProxy::RemoveTicks(std::shared_ptr<cqg::Ticks> ticks) {
  Object().RemoveTicks(std::move(ticks));
}

std::shared_ptr<cqg::Order> CQGCELProxy::CreateOrder(cqg::eOrderType type,
                                                     std::shared_ptr<cqg::Instrument> instrument,
                                                     std::shared_ptr<cqg::Account> account,
                                                     long quantity, cqg::eOrderSide side,
                                                     std::optional<double> limitPrice,
                                                     std::optional<double> stopPrice) {
  return Object().CreateOrder(type, std::move(instrument), std::move(account), quantity, side,
                              limitPrice, stopPrice);
}

std::shared_ptr<cqg::APIConfiguration> CQGCELProxy::APIConfiguration() {
  return Object().APIConfiguration();
}

cqg::eAccountSubscriptionLevel CQGCELProxy::AccountSubscriptionLevel() {
  return Object().AccountSubscriptionLevel();
}

void CQGCELProxy::put_AccountSubscriptionLevel(cqg::eAccountSubscriptionLevel value) {
  Object().put_AccountSubscriptionLevel(value);
}

std::shared_ptr<cqg::Accounts> CQGCELProxy::Accounts() {
  return Object().Accounts();
}

std::shared_ptr<cqg::Instruments> CQGCELProxy::Instruments() {
  return Object().Instruments();
}

std::shared_ptr<cqg::Orders> CQGCELProxy::Orders() {
  return Object().Orders();
}

std::shared_ptr<cqg::TimedBarsCollection> CQGCELProxy::AllTimedBars() {
  return Object().AllTimedBars();
}

std::shared_ptr<cqg::TicksCollection> CQGCELProxy::AllTicks() {
  return Object().AllTicks();
}

com::IConnectionPoint<cqg::ICQGCELEvents>& CQGCELProxy::FindConnectionPoint() {
  return Object().FindConnectionPoint();
}

}  // namespace platform::cqgsim
