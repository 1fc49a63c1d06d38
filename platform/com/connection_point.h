// Connection points: how an object's events reach the sinks attached to it.
//
// An event source offers one IConnectionPoint per event interface through
// IConnectionPointContainer. Advise attaches a sink (the source shares its
// ownership) and returns the connection's cookie; Unadvise detaches it. The
// source delivers an event by calling the sink's handler for every attached
// sink, in the order they were attached, on the thread that raises the event.
//
// An exception that escapes a sink's handler is not the source's concern: it
// goes to the error handler given with that sink's Advise (or is dropped when
// there is none), and delivery goes on with the next sink. So one failing sink
// never stops an event, nor the events after it.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/error.h"
#include "platform/com/types.h"

namespace platform::com {

// Receives the name of the event whose handler failed, and the error.
using SinkErrorHandler = std::function<void(std::string_view event, std::exception_ptr error)>;

template <class Events>
class IConnectionPoint {
 public:
  virtual DWORD Advise(std::shared_ptr<Events> sink, SinkErrorHandler onError) = 0;
  // S_OK, or CONNECT_E_NOCONNECTION for a cookie that is not attached.
  virtual HRESULT Unadvise(DWORD cookie) = 0;

 protected:
  ~IConnectionPoint() = default;
};

template <class Events>
class IConnectionPointContainer {
 public:
  virtual IConnectionPoint<Events>& FindConnectionPoint() = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

// The source's side. Advise, Unadvise and Fire may be called from any thread;
// a sink attached or detached while an event is being delivered takes part
// from the next event on.
template <class Events>
class ConnectionPoint final : public IConnectionPoint<Events> {
 public:
  DWORD Advise(std::shared_ptr<Events> sink, SinkErrorHandler onError) override {
    const std::lock_guard lock(mutex_);
    auto connections = std::make_shared<std::vector<Connection>>(*connections_);
    connections->push_back({++lastCookie_, std::move(sink), std::move(onError)});
    connections_ = std::move(connections);
    return lastCookie_;
  }

  HRESULT Unadvise(DWORD cookie) override {
    const std::lock_guard lock(mutex_);
    auto connections = std::make_shared<std::vector<Connection>>(*connections_);
    const auto before = connections->size();
    std::erase_if(*connections, [cookie](const Connection& c) { return c.cookie == cookie; });
    if (connections->size() == before) return CONNECT_E_NOCONNECTION;
    connections_ = std::move(connections);
    return S_OK;
  }

  // Calls deliver(sink) for every attached sink, in attach order.
  template <class Deliver>
  void Fire(std::string_view event, const Deliver& deliver) {
    std::shared_ptr<const std::vector<Connection>> connections;
    {
      const std::lock_guard lock(mutex_);
      connections = connections_;
    }
    for (const auto& connection : *connections) {
      try {
        deliver(*connection.sink);
      } catch (...) {
        Report(connection, event, std::current_exception());
      }
    }
  }

 private:
  struct Connection {
    DWORD cookie;
    std::shared_ptr<Events> sink;
    SinkErrorHandler onError;
  };

  static void Report(const Connection& connection, std::string_view event,
                     std::exception_ptr error) noexcept {
    if (!connection.onError) return;
    try {
      connection.onError(event, std::move(error));
    } catch (...) {
      // A failing error handler must not stop the delivery either.
    }
  }

  std::mutex mutex_;
  DWORD lastCookie_ = 0;
  // Replaced, never modified, so that Fire can deliver from a snapshot
  // without holding the lock.
  std::shared_ptr<const std::vector<Connection>> connections_ =
      std::make_shared<const std::vector<Connection>>();
};

}  // namespace platform::com
