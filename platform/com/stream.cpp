#include "platform/com/stream.h"

#include <utility>

#include "platform/com/apartment.h"
#include "platform/com/marshal.h"
#include "platform/com/proxy_binding.h"

namespace platform::com {

std::shared_ptr<IDispatch> IStream::Release() {
  const std::lock_guard lock(mutex_);
  return std::exchange(object_, nullptr);
}

std::shared_ptr<IStream> CoMarshalInterThreadInterfaceInStream(const IID& riid,
                                                               std::shared_ptr<IDispatch> pUnk) {
  if (riid != IID_IDispatch) {
    throw ComError(E_NOINTERFACE, "only IDispatch is marshalled, not " + to_string(riid));
  }
  if (!pUnk) throw ComError(E_INVALIDARG, "no object to marshal");
  auto apartment = Apartment::Current();
  if (!apartment) throw ComError(CO_E_NOTINITIALIZED, "CoInitialize has not been called.");
  return std::make_shared<IStream>(std::move(pUnk), std::move(apartment));
}

std::shared_ptr<IDispatch> CoGetInterfaceAndReleaseStream(const std::shared_ptr<IStream>& pStm,
                                                          const IID& iid) {
  if (!pStm) throw ComError(E_INVALIDARG, "no stream to take an interface from");
  // The stream is released whether or not the interface can be given.
  auto object = pStm->Release();
  if (!object) {
    throw ComError(E_UNEXPECTED, "the stream has already been read and released");
  }
  if (iid != IID_IDispatch) {
    throw ComError(E_NOINTERFACE, "only IDispatch is marshalled, not " + to_string(iid));
  }
  const auto taker = Apartment::Current();
  if (!taker) throw ComError(CO_E_NOTINITIALIZED, "CoInitialize has not been called.");
  taker->AddProxyOf(pStm->apartment());
  if (const auto marshal = std::dynamic_pointer_cast<IMarshal>(object)) {
    return marshal->UnmarshalInterface(ProxyBinding(taker));
  }
  return object;
}

}  // namespace platform::com
