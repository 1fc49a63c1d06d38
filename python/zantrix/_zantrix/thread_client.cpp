#include "python/zantrix/_zantrix/thread_client.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>
#include <list>

#include "platform/com/apartment.h"
#include "platform/com/error.h"

namespace zantrix::python {
namespace {

using gateways::cqg::ClientHold;
using gateways::cqg::ThreadProxy;

// One thread's COM and proxies. COM is initialised in the constructor, so that
// the platform's own per-thread state is made first and outlives this; the
// proxies go before COM does.
struct ThreadStanding {
  struct Entered {
    std::weak_ptr<ClientHold> hold;
    // Empty for the environment whose Init this thread called.
    std::optional<ThreadProxy> proxy;
  };

  platform::com::ComInitialization com;
  std::list<Entered> entered;

  bool holds(const ClientHold& hold) {
    std::erase_if(entered, [](const Entered& e) {
      const auto held = e.hold.lock();
      return !held || held->closed();
    });
    return std::any_of(entered.begin(), entered.end(),
                       [&hold](const Entered& e) { return e.hold.lock().get() == &hold; });
  }
};

ThreadStanding& standing() {
  thread_local ThreadStanding thread;
  return thread;
}

}  // namespace

void enter_com() {
  standing();
}

void enter_environment(const std::shared_ptr<ClientHold>& hold) {
  ThreadStanding& thread = standing();
  if (!hold || hold->closed() || thread.holds(*hold)) return;
  try {
    thread.entered.push_back({hold, ThreadProxy(hold)});
  } catch (const platform::com::ComError&) {
    throw;
  } catch (const std::runtime_error&) {
    // Not running (yet, or any more), or this is the worker thread: the
    // request that follows refuses in its own terms.
  }
}

void entered_by_init(const std::shared_ptr<ClientHold>& hold) {
  ThreadStanding& thread = standing();
  if (!thread.holds(*hold)) thread.entered.push_back({hold, std::nullopt});
}

}  // namespace zantrix::python
