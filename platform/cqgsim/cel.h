// The simulated CQGCEL.
//
// It lives on the thread that created it, which must pump its messages for
// calls from other threads to be served and for events to be delivered
// (servant.h). Startup answers OnCELStarted; Shutdown ends the client: later
// calls fail and no further event is delivered. Sinks attached through the
// connection point receive every event in attach order on the object's
// thread. Members of the later stages (log-on, accounts, instruments, ticks,
// bars, orders) are recorded and then fail as not simulated yet.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/com/apartment.h"
#include "platform/com/connection_point.h"
#include "platform/cqgsim/api_configuration.h"
#include "platform/cqgsim/notification.h"
#include "platform/cqgsim/script.h"
#include "platform/cqgsim/servant.h"
#include "zantrix/framework/cqg/cel.h"

namespace platform::cqgsim {

class CQGCEL final : public zantrix::framework::cqg::CQGCEL,
                     public std::enable_shared_from_this<CQGCEL> {
 public:
  CQGCEL(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script);

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

  // The simulator's side. Raise queues `notification` for delivery on the
  // object's thread and returns at once; it throws the ComError of an object
  // whose thread no longer serves. Sync returns once everything queued before
  // it has been delivered.
  void Raise(Notification notification);
  void Sync();

 private:
  // Raises what a served request of `member` answers (script.h).
  void Answer(std::string_view member, std::vector<Notification> usual);
  void Deliver(const Notification& notification);

  Servant servant_;
  com::ConnectionPoint<zantrix::framework::cqg::ICQGCELEvents> connectionPoint_;
  std::shared_ptr<cqgsim::APIConfiguration> configuration_;
};

}  // namespace platform::cqgsim
