// IMarshal: an automation object that supplies the proxy another thread
// receives for it.
//
// When the object in a stream implements IMarshal,
// CoGetInterfaceAndReleaseStream (stream.h) gives the taking thread what
// UnmarshalInterface returns instead of the object itself: a proxy that
// belongs to the taking apartment, checks every call with `taker`
// (proxy_binding.h) and only then forwards it to the object, which carries
// it to its own thread (apartment.h). UnmarshalInterface runs on the taking
// thread, so it may touch only what the object lets any thread touch.
#pragma once

#include <memory>

#include "platform/com/dispatch.h"
#include "platform/com/proxy_binding.h"

namespace platform::com {

class IMarshal {
 public:
  virtual std::shared_ptr<IDispatch> UnmarshalInterface(ProxyBinding taker) = 0;

 protected:
  ~IMarshal() = default;
};

}  // namespace platform::com
