#include "platform/com/proxy_binding.h"

#include "platform/com/apartment.h"

namespace platform::com {

ProxyBinding::ProxyBinding(const std::shared_ptr<Apartment>& taker)
    : taker_(taker), takerThread_(taker->ThreadId()) {}

void ProxyBinding::CheckCaller() const {
  const auto caller = Apartment::Current();
  if (caller && caller == taker_.lock()) return;
  if (!caller && GetCurrentThreadId() != takerThread_) throw UninitializedCallerError();
  throw WrongThreadError();
}

}  // namespace platform::com
