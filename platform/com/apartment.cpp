#include "platform/com/apartment.h"

#include <algorithm>
#include <utility>

namespace platform::com {

namespace {

struct ThreadApartment {
  int initializations = 0;
  std::shared_ptr<Apartment> apartment;
};

thread_local ThreadApartment currentApartment;

}  // namespace

HRESULT CoInitialize(void* pvReserved) {
  if (pvReserved != nullptr) return E_INVALIDARG;
  if (currentApartment.initializations++ > 0) return S_FALSE;
  currentApartment.apartment = std::make_shared<Apartment>(MessageQueue::OfCurrentThread());
  return S_OK;
}

void CoUninitialize() {
  if (currentApartment.initializations == 0) return;
  if (--currentApartment.initializations > 0) return;
  currentApartment.apartment->Close();
  currentApartment.apartment.reset();
}

Apartment::Apartment(std::shared_ptr<MessageQueue> queue) : queue_(std::move(queue)) {}

std::shared_ptr<Apartment> Apartment::Current() {
  return currentApartment.apartment;
}

void Apartment::Post(std::function<void()> work) {
  queue_->Post({.message = 0, .dispatch = std::move(work), .abandon = {}});
}

void Apartment::Close() {
  queue_->Close(RPC_E_DISCONNECTED,
                "The object invoked has disconnected from its clients: its apartment has been "
                "uninitialized.");
}

void Apartment::AddProxyOf(const std::shared_ptr<Apartment>& source) {
  if (!source || source.get() == this || HoldsProxyOf(*source)) return;
  std::erase_if(proxies_, [](const std::weak_ptr<Apartment>& held) { return held.expired(); });
  proxies_.push_back(source);
}

bool Apartment::HoldsProxyOf(const Apartment& source) const {
  return std::any_of(
      proxies_.begin(), proxies_.end(),
      [&source](const std::weak_ptr<Apartment>& held) { return held.lock().get() == &source; });
}

void Apartment::CheckCaller() const {
  if (IsCurrentThread()) return;
  const auto caller = Current();
  if (!caller) throw UninitializedCallerError();
  if (!caller->HoldsProxyOf(*this)) throw WrongThreadError();
}

ComError UninitializedCallerError() {
  return ComError(CO_E_NOTINITIALIZED,
                  "CoInitialize has not been called on the thread calling the object.");
}

ComError WrongThreadError() {
  return ComError(RPC_E_WRONG_THREAD,
                  "The application called an interface that was marshalled for a different "
                  "thread.");
}

ComInitialization::ComInitialization() {
  const HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) throw ComError(hr, "CoInitialize failed");
}

ComInitialization::~ComInitialization() {
  CoUninitialize();
}

void Apartment::Send(std::function<void()> serve, std::function<void(std::exception_ptr)> abandon) {
  queue_->Post({.message = 0, .dispatch = std::move(serve), .abandon = std::move(abandon)});
}

}  // namespace platform::com
