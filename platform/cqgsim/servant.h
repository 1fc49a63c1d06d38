// Servant: how every simulated object serves a call.
//
// A call from another thread must come through a proxy, as COM requires
// (apartment.h: RPC_E_WRONG_THREAD, CO_E_NOTINITIALIZED). A call is carried
// to the object's thread (inline when made there, posted to its queue
// otherwise) and, there, recorded with the serving thread (unless the test
// switched recording off), failed when the test arranged a failure, refused
// once the client has been shut down, and otherwise run (and, for a member
// whose result is an object, made to return null when the test arranged
// that). The client's state is therefore touched only on the object's
// thread and needs no lock.
//
// Calls made on the object's own thread are the event handlers' calls, the
// hot path of a quote stream: they skip the apartment entirely, and their
// arguments are copied into a record only while recording is on.
#pragma once

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/cqgsim/quirks.h"
#include "platform/cqgsim/script.h"
#include "zantrix/framework/cqg/variant.h"

namespace platform::cqgsim {

class APIConfiguration;

// State of one simulated client shared by its objects; touched only on the
// client's thread.
struct ClientState {
  bool shutDown = false;
  Quirks quirks;
  // Consulted by collections asked for an item they do not hold.
  std::weak_ptr<APIConfiguration> configuration;
};

namespace servant_detail {

// Whether a member's result is an object of the library.
template <class T>
inline constexpr bool IsObject = false;
template <class T>
inline constexpr bool IsObject<std::shared_ptr<T>> = true;

}  // namespace servant_detail

class Servant {
 public:
  Servant(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script,
          std::shared_ptr<ClientState> state)
      : apartment_(std::move(apartment)), script_(std::move(script)), state_(std::move(state)) {}

  // Arguments are given as a braced list, or as a vector when their number
  // varies; they are copied only when the call is recorded.
  template <class F>
  std::invoke_result_t<F&> Serve(std::string_view member,
                                 std::initializer_list<zantrix::framework::cqg::Variant> arguments,
                                 F&& body) {
    return Dispatch(member, std::span(arguments.begin(), arguments.size()), body);
  }

  template <class F>
  std::invoke_result_t<F&> Serve(std::string_view member,
                                 const std::vector<zantrix::framework::cqg::Variant>& arguments,
                                 F&& body) {
    return Dispatch(member, std::span(arguments), body);
  }

  const std::shared_ptr<com::Apartment>& apartment() const { return apartment_; }
  const std::shared_ptr<Script>& script() const { return script_; }
  const std::shared_ptr<ClientState>& state() const { return state_; }

 private:
  // The kernel's id of the calling thread, asked once per thread.
  static com::DWORD CurrentThread() {
    thread_local const com::DWORD self = com::GetCurrentThreadId();
    return self;
  }

  using Arguments = std::span<const zantrix::framework::cqg::Variant>;

  template <class F>
  std::invoke_result_t<F&> Dispatch(std::string_view member, Arguments arguments, F& body) {
    if (CurrentThread() == apartment_->ThreadId()) return Here(member, arguments, body);
    apartment_->CheckCaller();
    return apartment_->Call(
        [&]() -> std::invoke_result_t<F&> { return Here(member, arguments, body); });
  }

  template <class F>
  std::invoke_result_t<F&> Here(std::string_view member, Arguments arguments, F& body) {
    if (script_->Recording()) {
      script_->RecordCall(
          {std::string(member),
           std::vector<zantrix::framework::cqg::Variant>(arguments.begin(), arguments.end()),
           CurrentThread()});
    }
    if (auto failure = script_->TakeFailure(member)) {
      throw com::ComError(com::DISP_E_EXCEPTION, *failure);
    }
    if (state_->shutDown) {
      throw com::ComError(com::DISP_E_EXCEPTION,
                          std::string(member) + " cannot be served: CQGCEL has been shut down.");
    }
    if constexpr (servant_detail::IsObject<std::invoke_result_t<F&>>) {
      if (script_->TakeNothing(member)) {
        body();
        return nullptr;
      }
    }
    return body();
  }

  std::shared_ptr<com::Apartment> apartment_;
  std::shared_ptr<Script> script_;
  std::shared_ptr<ClientState> state_;
};

}  // namespace platform::cqgsim
