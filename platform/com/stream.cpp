#include "platform/com/stream.h"

#include <utility>

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
  return std::make_shared<IStream>(std::move(pUnk));
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
  return object;
}

}  // namespace platform::com
