// Handing an object to another thread: CoMarshalInterThreadInterfaceInStream
// and CoGetInterfaceAndReleaseStream.
//
// The object's own thread puts the object's IDispatch in a stream; another
// thread takes it out once, which releases the stream. Automation objects of
// this platform carry their calls to their apartment themselves
// (apartment.h), so what comes out is the object itself; the stream keeps the
// contract of the original so that code using it is written as it would be
// on Windows. Only IID_IDispatch is marshalled (E_NOINTERFACE otherwise); a
// second take from the same stream is an E_UNEXPECTED ComError. The first take
// releases the stream even when it fails. A stream may
// be taken on any thread.
#pragma once

#include <memory>
#include <mutex>

#include "platform/com/dispatch.h"
#include "platform/com/guid.h"

namespace platform::com {

class IStream {
 public:
  explicit IStream(std::shared_ptr<IDispatch> object) : object_(std::move(object)) {}
  IStream(const IStream&) = delete;
  IStream& operator=(const IStream&) = delete;

  // The object, the first time; null afterwards.
  std::shared_ptr<IDispatch> Release();

 private:
  std::mutex mutex_;
  std::shared_ptr<IDispatch> object_;
};

std::shared_ptr<IStream> CoMarshalInterThreadInterfaceInStream(const IID& riid,
                                                               std::shared_ptr<IDispatch> pUnk);
std::shared_ptr<IDispatch> CoGetInterfaceAndReleaseStream(const std::shared_ptr<IStream>& pStm,
                                                          const IID& iid);

}  // namespace platform::com
