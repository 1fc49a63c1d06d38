// Notification: one event of the simulated CQGCEL, ready to be raised: the
// event's name, the call that delivers it, with its arguments, to a sink, and
// the change of the client's state that the event reports.
//
// The simulated object raises notifications on its own thread, to every
// attached sink in attach order. Tests build them for any event:
//   Notification{"OnIdle", [](ICQGCELEvents& sink) { sink.OnIdle(); }}
// and the functions below build the ones the simulator itself raises.
//
// `prepare` runs once, on the client's thread, just before the first sink
// receives the event: an order's status changes when the event announcing it
// is delivered, so a sink reading the order sees the state the event reports,
// and an answer that a test holds back changes nothing until it is released.
// `lost`, asked on delivery, says that the client reports the event to no
// sink and records no event; its `prepare` runs all the same, for what the
// event reports still happens.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "zantrix/framework/cqg/account.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/cqg/error.h"
#include "zantrix/framework/cqg/events.h"
#include "zantrix/framework/cqg/instrument.h"
#include "zantrix/framework/cqg/order.h"
#include "zantrix/framework/cqg/ticks.h"
#include "zantrix/framework/cqg/timed_bars.h"

namespace platform::cqgsim {

struct Notification {
  std::string name;
  std::function<void(zantrix::framework::cqg::ICQGCELEvents&)> deliver;
  std::function<void()> prepare = {};
  std::function<bool()> lost = {};
};

Notification CELStarted();
Notification DataError(std::shared_ptr<zantrix::framework::cqg::Error> cqgError,
                       std::string errorDescription);
Notification GWConnectionStatusChanged(zantrix::framework::cqg::eConnectionStatus newStatus);
Notification DataConnectionStatusChanged(zantrix::framework::cqg::eConnectionStatus newStatus);
Notification AccountChanged(zantrix::framework::cqg::eAccountChangeType changeType,
                            std::shared_ptr<zantrix::framework::cqg::Account> cqgAccount,
                            std::shared_ptr<zantrix::framework::cqg::Position> cqgPosition);
Notification InstrumentResolved(std::string symbol,
                                std::shared_ptr<zantrix::framework::cqg::Instrument> cqgInstrument,
                                std::shared_ptr<zantrix::framework::cqg::Error> cqgError);
Notification InstrumentChanged(std::shared_ptr<zantrix::framework::cqg::Instrument> cqgInstrument,
                               std::shared_ptr<zantrix::framework::cqg::Quotes> cqgQuotes);
Notification TicksResolved(std::shared_ptr<zantrix::framework::cqg::Ticks> cqgTicks,
                           std::shared_ptr<zantrix::framework::cqg::Error> cqgError);
Notification TicksAdded(std::shared_ptr<zantrix::framework::cqg::Ticks> cqgTicks,
                        long addedTicksCount);
Notification TimedBarsResolved(std::shared_ptr<zantrix::framework::cqg::TimedBars> cqgTimedBars,
                               std::shared_ptr<zantrix::framework::cqg::Error> cqgError);
Notification TimedBarsAdded(std::shared_ptr<zantrix::framework::cqg::TimedBars> cqgTimedBars);
Notification TimedBarsUpdated(std::shared_ptr<zantrix::framework::cqg::TimedBars> cqgTimedBars,
                              long index);

// The order's previous properties are not handed over (null).
Notification OrderChanged(zantrix::framework::cqg::eChangeType changeType,
                          std::shared_ptr<zantrix::framework::cqg::Order> cqgOrder,
                          std::shared_ptr<zantrix::framework::cqg::Fill> cqgFill,
                          std::shared_ptr<zantrix::framework::cqg::Error> cqgError);

// An error object as the library hands it to events.
std::shared_ptr<zantrix::framework::cqg::Error> MakeError(long code, std::string description);

}  // namespace platform::cqgsim
