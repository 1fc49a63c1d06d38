// Handing an object to another thread: CoMarshalInterThreadInterfaceInStream
// and CoGetInterfaceAndReleaseStream.
//
// The object's own thread puts the object's IDispatch in a stream; another
// thread takes it out once, which releases the stream. Both threads must have
// called CoInitialize (CO_E_NOTINITIALIZED otherwise). Taking the object out
// grants the taking thread's apartment the object's apartment: from then on
// that thread may call the apartment's objects, each call carried to the
// object's thread (apartment.h). What comes out is the object's own proxy
// when the object supplies one (marshal.h): it belongs to the taking
// apartment and refuses calls made anywhere else (proxy_binding.h). An
// object that supplies none carries its calls itself and comes out as it
// went in. Only IID_IDispatch is marshalled (E_NOINTERFACE otherwise); a
// second take from the same stream is an E_UNEXPECTED ComError. The first
// take releases the stream even when it fails.
#pragma once

#include <memory>
#include <mutex>

#include "platform/com/dispatch.h"
#include "platform/com/guid.h"

namespace platform::com {

class Apartment;

class IStream {
 public:
  IStream(std::shared_ptr<IDispatch> object, std::shared_ptr<Apartment> apartment)
      : object_(std::move(object)), apartment_(std::move(apartment)) {}
  IStream(const IStream&) = delete;
  IStream& operator=(const IStream&) = delete;

  // The object, the first time; null afterwards.
  std::shared_ptr<IDispatch> Release();
  // The apartment the object was marshalled from.
  const std::shared_ptr<Apartment>& apartment() const { return apartment_; }

 private:
  std::mutex mutex_;
  std::shared_ptr<IDispatch> object_;
  const std::shared_ptr<Apartment> apartment_;
};

std::shared_ptr<IStream> CoMarshalInterThreadInterfaceInStream(const IID& riid,
                                                               std::shared_ptr<IDispatch> pUnk);
std::shared_ptr<IDispatch> CoGetInterfaceAndReleaseStream(const std::shared_ptr<IStream>& pStm,
                                                          const IID& iid);

}  // namespace platform::com
