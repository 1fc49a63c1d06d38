// PumpingThread: a thread with an apartment of its own that pumps its
// messages until it is stopped, as a client environment's worker does. Tests
// create objects on it and call them from their own thread through a proxy
// (ProxyOf), as COM requires.
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "platform/com/apartment.h"
#include "platform/com/dispatch.h"
#include "platform/com/message_queue.h"
#include "platform/com/stream.h"
#include "platform/com/synch.h"

namespace platform::test_support {

class PumpingThread {
 public:
  // `onStart` runs on the new thread once it has called CoInitialize and
  // before it pumps; the constructor returns after it has run.
  explicit PumpingThread(std::function<void()> onStart = {}) {
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::jthread([this, &started, onStart = std::move(onStart)] {
      com::CoInitialize(nullptr);
      apartment_ = com::Apartment::Current();
      id_ = com::GetCurrentThreadId();
      if (onStart) onStart();
      started.set_value();
      Pump();
      com::CoUninitialize();
    });
    ready.get();
  }

  ~PumpingThread() { Stop(); }
  PumpingThread(const PumpingThread&) = delete;
  PumpingThread& operator=(const PumpingThread&) = delete;

  // Ends the pump and the apartment, and joins the thread.
  void Stop() {
    com::SetEvent(stop_);
    if (thread_.joinable()) thread_.join();
  }

  // `object`, which lives in this thread's apartment, as a proxy for the
  // calling thread: marshalled here, taken out there. The calling thread
  // must have called CoInitialize.
  template <class T>
  std::shared_ptr<T> ProxyOf(const std::shared_ptr<T>& object) {
    const auto stream = apartment_->Call(
        [&] { return com::CoMarshalInterThreadInterfaceInStream(com::IID_IDispatch, object); });
    return com::Dispatch<T>(com::CoGetInterfaceAndReleaseStream(stream, com::IID_IDispatch));
  }

  const std::shared_ptr<com::Apartment>& apartment() const { return apartment_; }
  com::DWORD id() const { return id_; }

 private:
  void Pump() {
    const com::HANDLE handles[] = {stop_};
    for (;;) {
      const auto rc =
          com::MsgWaitForMultipleObjects(1, handles, com::FALSE, com::INFINITE, com::QS_ALLEVENTS);
      if (rc != com::WAIT_OBJECT_0 + 1 || com::PumpWaitingMessages()) return;
    }
  }

  com::HANDLE stop_ = com::CreateEvent(nullptr, com::FALSE, com::FALSE, nullptr);
  std::shared_ptr<com::Apartment> apartment_;
  com::DWORD id_ = 0;
  std::jthread thread_;
};

}  // namespace platform::test_support
