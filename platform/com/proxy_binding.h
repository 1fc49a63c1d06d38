// ProxyBinding: the apartment a proxy belongs to, and the check every call
// through the proxy passes first.
//
// A proxy serves only the thread of the apartment that took it out of a
// stream (stream.h), and only while that apartment lasts. CheckCaller throws
// the ComError of a call through an interface marshalled for another thread
// (RPC_E_WRONG_THREAD) whenever the calling thread's current apartment is not
// that one: on another thread, on the object's own thread, and on the taking
// thread once its apartment has ended, whether or not it has called
// CoInitialize again. Any other thread that has not called CoInitialize is
// told so first (CO_E_NOTINITIALIZED), as a call on the object itself would
// be (apartment.h). A proxy checks before it forwards anything, so a refused
// call reaches no object. A ProxyBinding never changes once made; it may be
// copied and checked from any thread.
#pragma once

#include <memory>

#include "platform/com/types.h"

namespace platform::com {

class Apartment;

class ProxyBinding {
 public:
  explicit ProxyBinding(const std::shared_ptr<Apartment>& taker);

  void CheckCaller() const;

 private:
  // Weak, so that a proxy kept past its apartment neither keeps the apartment
  // alive nor matches a later apartment of the same thread.
  std::weak_ptr<Apartment> taker_;
  DWORD takerThread_;
};

}  // namespace platform::com
