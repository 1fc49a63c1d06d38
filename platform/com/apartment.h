// Single-threaded apartments: CoInitialize, CoUninitialize and the way an
// object living in an apartment serves calls from other threads.
//
// CoInitialize puts the calling thread in an apartment of its own (S_OK; a
// nested call returns S_FALSE and must be balanced too). Objects created on
// the thread belong to that apartment and are served only by its thread:
// Apartment::Call runs a call inline when made on that thread, and otherwise
// posts it to the thread's message queue and blocks until the thread has
// dispatched it while pumping, returning its result or rethrowing its error.
// When the apartment can no longer serve (its last CoUninitialize, a WM_QUIT
// taken by its pump, the end of its thread) waiting and later calls fail at
// once with a ComError (RPC_E_DISCONNECTED) instead of blocking.
//
// Apartment::Call is the carrier and asks nothing of its caller. A call made
// on one of the apartment's objects from another thread obeys COM's rules
// first (CheckCaller): the calling thread must have called CoInitialize
// (CO_E_NOTINITIALIZED otherwise) and its apartment must have taken an
// object of this apartment out of a stream (stream.h) on that thread
// (RPC_E_WRONG_THREAD otherwise). Taking one grants the taking apartment
// every object of this apartment, so that objects reached through a proxy's
// calls, which the platform hands over as themselves, serve the taking
// thread too; an object pointer carried to another thread by other means
// cannot be told apart once the grant is held. A grant belongs to the
// apartment that took it: another thread, or the same thread after its last
// CoUninitialize, must take its own. An object that supplies its own proxy
// (marshal.h) is stricter: its proxy serves the taking apartment only, and
// refuses every other thread, the object's own included (proxy_binding.h).
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/com/types.h"

namespace platform::com {

// pvReserved must be null, as in Windows.
HRESULT CoInitialize(void* pvReserved);
void CoUninitialize();

class Apartment {
 public:
  explicit Apartment(std::shared_ptr<MessageQueue> queue);

  // The calling thread's apartment; null when it has not called CoInitialize.
  static std::shared_ptr<Apartment> Current();

  DWORD ThreadId() const { return queue_->ThreadId(); }
  bool IsCurrentThread() const { return GetCurrentThreadId() == ThreadId(); }

  template <class F>
  std::invoke_result_t<F&> Call(F&& body);

  // Queues `work` for the apartment's thread and returns at once; the work is
  // dropped if the apartment stops serving before dispatching it. Throws the
  // ComError of an apartment that no longer serves.
  void Post(std::function<void()> work);

  // Stops serving: the last CoUninitialize of the thread does this.
  void Close();

  // Records, on this apartment's own thread, that it has taken an object of
  // `source` out of a stream, so that its thread may call `source`'s objects.
  void AddProxyOf(const std::shared_ptr<Apartment>& source);
  // Throws the ComError COM gives a call that the calling thread may not make
  // on an object of this apartment; does nothing on the apartment's own thread.
  void CheckCaller() const;

 private:
  void Send(std::function<void()> serve, std::function<void(std::exception_ptr)> abandon);

  bool HoldsProxyOf(const Apartment& source) const;

  std::shared_ptr<MessageQueue> queue_;
  // The apartments this one holds proxies of; its own thread only.
  std::vector<std::weak_ptr<Apartment>> proxies_;
};

// The errors of a call that COM's rules refuse: made on a thread that has not
// called CoInitialize (CO_E_NOTINITIALIZED), or through an interface that was
// marshalled for another thread's apartment (RPC_E_WRONG_THREAD).
ComError UninitializedCallerError();
ComError WrongThreadError();

// COM on the calling thread for the life of the object: CoInitialize, and the
// balancing CoUninitialize at the end. Throws the ComError of a failed
// CoInitialize.
class ComInitialization {
 public:
  ComInitialization();
  ~ComInitialization();
  ComInitialization(const ComInitialization&) = delete;
  ComInitialization& operator=(const ComInitialization&) = delete;
};

namespace apartment_detail {

// The reply to one call: filled once by the serving thread, taken by the
// caller. The server moves everything it made into the reply before it
// signals, so the caller owns the result (or the error) from then on and is
// the one that destroys it.
template <class Result>
class Reply {
 public:
  void Give(std::optional<Result> value, std::exception_ptr error) {
    {
      const std::lock_guard lock(mutex_);
      value_ = std::move(value);
      error_ = std::move(error);
      given_ = true;
    }
    given_cv_.notify_all();
  }

  Result Take() {
    std::unique_lock lock(mutex_);
    given_cv_.wait(lock, [this] { return given_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return std::move(*value_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable given_cv_;
  bool given_ = false;
  std::optional<Result> value_;
  std::exception_ptr error_;
};

struct Nothing {};

}  // namespace apartment_detail

template <class F>
std::invoke_result_t<F&> Apartment::Call(F&& body) {
  using Result = std::invoke_result_t<F&>;
  if (IsCurrentThread()) return body();
  using Value = std::conditional_t<std::is_void_v<Result>, apartment_detail::Nothing, Result>;
  auto reply = std::make_shared<apartment_detail::Reply<Value>>();
  Send(
      [&body, reply] {
        std::optional<Value> value;
        std::exception_ptr error;
        try {
          if constexpr (std::is_void_v<Result>) {
            body();
            value.emplace();
          } else {
            value.emplace(body());
          }
        } catch (...) {
          error = std::current_exception();
        }
        reply->Give(std::move(value), std::move(error));
      },
      [reply](std::exception_ptr why) { reply->Give(std::nullopt, std::move(why)); });
  if constexpr (std::is_void_v<Result>) {
    reply->Take();
  } else {
    return reply->Take();
  }
}

}  // namespace platform::com
