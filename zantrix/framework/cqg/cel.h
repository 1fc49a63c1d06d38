// CQGCEL: the client object of the CQG client library, and its API
// configuration.
//
// One CQGCEL exists per process. It lives on the thread that created it and
// raises its events there (events.h); a call made from another thread is
// carried to that thread and served while it pumps messages, so any member
// may block until then, and fails with an error once the object can no
// longer be served. Requests start work whose outcome arrives as events:
// Startup -> OnCELStarted (or OnDataError), GWLogon / GWLogoff ->
// OnGWConnectionStatusChanged, NewInstrument -> OnInstrumentResolved and then
// OnInstrumentChanged, RequestTicks -> OnTicksResolved and OnTicksAdded,
// RequestTimedBars -> OnTimedBars..., Order::Place -> OnOrderChanged,
// AccountSubscriptionLevel -> OnAccountChanged. Errors of the library pass to
// the caller as exceptions.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "zantrix/framework/cqg/account.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/error.h"
#include "zantrix/framework/cqg/events.h"
#include "zantrix/framework/cqg/instrument.h"
#include "zantrix/framework/cqg/order.h"
#include "zantrix/framework/cqg/ticks.h"
#include "zantrix/framework/cqg/timed_bars.h"

namespace zantrix::framework::cqg {

class APIConfiguration : public platform::com::IDispatch {
 public:
  // Whether a collection throws for a missing item instead of returning null.
  virtual bool CollectionsThrowException() = 0;
  virtual void put_CollectionsThrowException(bool value) = 0;
  virtual bool NewInstrumentChangeMode() = 0;
  virtual void put_NewInstrumentChangeMode(bool value) = 0;
  virtual long ReadyStatusCheck() = 0;
  virtual void put_ReadyStatusCheck(long value) = 0;
  virtual eTimeZone TimeZoneCode() = 0;
  virtual void put_TimeZoneCode(eTimeZone value) = 0;
  virtual bool IncludeOrderTransactions() = 0;
  virtual void put_IncludeOrderTransactions(bool value) = 0;
  virtual bool UseOrderSide() = 0;
  virtual void put_UseOrderSide(bool value) = 0;
};

class CQGCEL : public platform::com::IDispatch,
               public platform::com::IConnectionPointContainer<ICQGCELEvents> {
 public:
  virtual void Startup() = 0;
  virtual void Shutdown() = 0;

  virtual void GWLogon(const std::string& userName, const std::string& password) = 0;
  virtual void GWLogoff() = 0;

  virtual void NewInstrument(const std::string& symbol) = 0;
  virtual void RemoveInstrument(std::shared_ptr<Instrument> instrument) = 0;

  virtual std::shared_ptr<TimedBarsRequest> CreateTimedBarsRequest() = 0;
  virtual std::shared_ptr<TimedBars> RequestTimedBars(
      std::shared_ptr<TimedBarsRequest> request) = 0;
  virtual void RemoveTimedBars(std::shared_ptr<TimedBars> timedBars) = 0;

  virtual std::shared_ptr<TicksRequest> CreateTicksRequest() = 0;
  virtual std::shared_ptr<Ticks> RequestTicks(std::shared_ptr<TicksRequest> request) = 0;
  virtual void RemoveTicks(std::shared_ptr<Ticks> ticks) = 0;

  // A market order takes no prices, a limit order the limit price, a stop
  // order the limit price and then the stop price; an absent price is not
  // passed to the library at all.
  virtual std::shared_ptr<cqg::Order> CreateOrder(eOrderType type,
                                                  std::shared_ptr<Instrument> instrument,
                                                  std::shared_ptr<Account> account, long quantity,
                                                  eOrderSide side, std::optional<double> limitPrice,
                                                  std::optional<double> stopPrice) = 0;

  virtual std::shared_ptr<cqg::APIConfiguration> APIConfiguration() = 0;
  virtual eAccountSubscriptionLevel AccountSubscriptionLevel() = 0;
  virtual void put_AccountSubscriptionLevel(eAccountSubscriptionLevel value) = 0;
  virtual std::shared_ptr<cqg::Accounts> Accounts() = 0;
  virtual std::shared_ptr<cqg::Instruments> Instruments() = 0;
  virtual std::shared_ptr<cqg::Orders> Orders() = 0;
  virtual std::shared_ptr<TimedBarsCollection> AllTimedBars() = 0;
  virtual std::shared_ptr<TicksCollection> AllTicks() = 0;
};

}  // namespace zantrix::framework::cqg
