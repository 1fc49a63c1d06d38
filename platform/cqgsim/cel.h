// The simulated CQGCEL.
//
// It lives on the thread that created it, which must pump its messages for
// calls from other threads to be served and for events to be delivered
// (servant.h). Startup answers OnCELStarted; Shutdown ends the client: later
// calls fail and no further event is delivered. Sinks attached through the
// connection point receive every event in attach order on the object's
// thread. Log-on, accounts, instruments, ticks, bars and orders are served by
// the client's venue (venue.h), which says what each request answers.
//
// Taken out of a stream on another thread, the object comes out as a proxy
// that serves that thread only (cel_proxy.h); the object itself is what its
// own thread calls, inline.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/apartment.h"
#include "platform/com/connection_point.h"
#include "platform/com/marshal.h"
#include "platform/com/proxy_binding.h"
#include "platform/cqgsim/api_configuration.h"
#include "platform/cqgsim/notification.h"
#include "platform/cqgsim/script.h"
#include "platform/cqgsim/servant.h"
#include "platform/cqgsim/venue.h"
#include "zantrix/framework/cqg/cel.h"

namespace platform::cqgsim {

// Something the simulator does to a client's venue, on the client's thread.
using Action = std::function<void(Venue&)>;

class CQGCEL final : public zantrix::framework::cqg::CQGCEL,
                     public com::IMarshal,
                     public std::enable_shared_from_this<CQGCEL> {
 public:
  CQGCEL(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script);
  // Connects the venue's events to this object; called once, right after
  // construction, by whoever made it.
  void Bind();

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

  // A new CQGCELProxy of this object for the taking apartment; any thread.
  std::shared_ptr<com::IDispatch> UnmarshalInterface(com::ProxyBinding taker) override;

  // The simulator's side. Raise queues `notification` for delivery on the
  // object's thread and returns at once; it throws the ComError of an object
  // whose thread no longer serves. Act queues `action` the same way; the
  // events it emits are delivered before the next message is served.
  // ActHere runs it at once and must be called on the object's thread. An
  // action's error is kept and rethrown by the next Sync, which returns once
  // everything queued before it has been done and delivered.
  void Raise(Notification notification);
  void Act(Action action);
  void ActHere(const Action& action);
  void Sync();

 private:
  // Raises what a served request of `member` answers (script.h).
  void Answer(std::string_view member, std::vector<Notification> usual);
  void Deliver(const Notification& notification);

  Servant servant_;
  com::ConnectionPoint<zantrix::framework::cqg::ICQGCELEvents> connectionPoint_;
  std::shared_ptr<cqgsim::APIConfiguration> configuration_;
  std::shared_ptr<Venue> venue_;
  // The first error of an action since the last Sync; the object's thread only.
  std::exception_ptr actionError_;
};

}  // namespace platform::cqgsim
