// CQGCELProxy: the simulated CQGCEL as another thread receives it.
//
// CoGetInterfaceAndReleaseStream gives the taking thread this proxy instead
// of the object (com/marshal.h). Every member first checks that it is called
// in the apartment that took the proxy (ComError RPC_E_WRONG_THREAD on any
// other thread, the object's own included) and then forwards to the object,
// which carries the call to its own thread as usual (servant.h); so a refused
// call is neither recorded nor served. Code on the object's thread, such as
// an event handler, must call the object itself, which serves it inline.
//
// A limit of this stand-in: the objects the proxy's calls return
// (configuration, collections, orders, requests, ...) are the objects
// themselves, not proxies of them. They obey the per-apartment grant
// (com/apartment.h), so any thread whose apartment took the client may call
// them, and they do not refuse the object's own thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/com/proxy_binding.h"
#include "zantrix/framework/cqg/cel.h"

namespace platform::cqgsim {

class CQGCELProxy final : public zantrix::framework::cqg::CQGCEL {
 public:
  CQGCELProxy(std::shared_ptr<zantrix::framework::cqg::CQGCEL> object, com::ProxyBinding binding);

  void Startup() override;
  void Shutdown() override;
  void GWLogon(const std::string& userName, const std::string& password) override;
  void GWLogoff() override;
  void NewInstrument(const std::string& symbol) override;
  void RemoveInstrument(std::shared_ptr<zantrix::framework::cqg::Instrument> instrument) override;
  std::shared_ptr<zantrix::framework::cqg::TimedBarsRequest> CreateTimedBarsRequest() override;
  std::shared_ptr<zantrix::framework::cqg::TimedBars> RequestTimedBars(
      std::shared_ptr<zantrix::framework::cqg::TimedBarsRequest> request) override;
  void RemoveTimedBars(std::shared_ptr<zantrix::framework::cqg::TimedBars> timedBars) override;
  std::shared_ptr<zantrix::framework::cqg::TicksRequest> CreateTicksRequest() override;
  std::shared_ptr<zantrix::framework::cqg::Ticks> RequestTicks(
      std::shared_ptr<zantrix::framework::cqg::TicksRequest> request) override;
  void RemoveTicks(std::shared_ptr<zantrix::framework::cqg::Ticks> ticks) override;
  std::shared_ptr<zantrix::framework::cqg::Order> CreateOrder(
      zantrix::framework::cqg::eOrderType type,
      std::shared_ptr<zantrix::framework::cqg::Instrument> instrument,
      std::shared_ptr<zantrix::framework::cqg::Account> account, long quantity,
      zantrix::framework::cqg::eOrderSide side, std::optional<double> limitPrice,
      std::optional<double> stopPrice) override;
  std::shared_ptr<zantrix::framework::cqg::APIConfiguration> APIConfiguration() override;
  zantrix::framework::cqg::eAccountSubscriptionLevel AccountSubscriptionLevel() override;
  void put_AccountSubscriptionLevel(
      zantrix::framework::cqg::eAccountSubscriptionLevel value) override;
  std::shared_ptr<zantrix::framework::cqg::Accounts> Accounts() override;
  std::shared_ptr<zantrix::framework::cqg::Instruments> Instruments() override;
  std::shared_ptr<zantrix::framework::cqg::Orders> Orders() override;
  std::shared_ptr<zantrix::framework::cqg::TimedBarsCollection> AllTimedBars() override;
  std::shared_ptr<zantrix::framework::cqg::TicksCollection> AllTicks() override;

  com::IConnectionPoint<zantrix::framework::cqg::ICQGCELEvents>& FindConnectionPoint() override;

 private:
  // The object, checked for the caller's apartment first.
  zantrix::framework::cqg::CQGCEL& Object() const;

  const std::shared_ptr<zantrix::framework::cqg::CQGCEL> object_;
  const com::ProxyBinding binding_;
};

}  // namespace platform::cqgsim
