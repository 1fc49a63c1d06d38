// Notification: one event of the simulated CQGCEL, ready to be raised: the
// event's name and the call that delivers it, with its arguments, to a sink.
//
// The simulated object raises notifications on its own thread, to every
// attached sink in attach order. Tests build them for any event:
//   Notification{"OnIdle", [](ICQGCELEvents& sink) { sink.OnIdle(); }}
// and the functions below build the ones the simulator itself raises.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "zantrix/framework/cqg/error.h"
#include "zantrix/framework/cqg/events.h"

namespace platform::cqgsim {

struct Notification {
  std::string name;
  std::function<void(zantrix::framework::cqg::ICQGCELEvents&)> deliver;
};

Notification CELStarted();
Notification DataError(std::shared_ptr<zantrix::framework::cqg::Error> cqgError,
                       std::string errorDescription);

// An error object as the library hands it to events.
std::shared_ptr<zantrix::framework::cqg::Error> MakeError(long code, std::string description);

}  // namespace platform::cqgsim
