// Servant: how every simulated object serves a call.
//
// A call is carried to the object's thread (inline when made there, posted to
// its queue otherwise; apartment.h) and, there, recorded with the serving
// thread, failed when the test arranged a failure, refused once the client has
// been shut down, and otherwise run. The client's state is therefore touched
// only on the object's thread and needs no lock.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/cqgsim/script.h"
#include "zantrix/framework/cqg/variant.h"

namespace platform::cqgsim {

// State of one simulated client shared by its objects; touched only on the
// client's thread.
struct ClientState {
  bool shutDown = false;
};

// For members whose behaviour comes in a later stage of the simulator.
[[noreturn]] inline void NotSimulated(const std::string& member) {
  throw std::runtime_error(member + " is not simulated yet");
}

class Servant {
 public:
  Servant(std::shared_ptr<com::Apartment> apartment, std::shared_ptr<Script> script,
          std::shared_ptr<ClientState> state)
      : apartment_(std::move(apartment)), script_(std::move(script)), state_(std::move(state)) {}

  template <class F>
  std::invoke_result_t<F&> Serve(std::string member,
                                 std::vector<zantrix::framework::cqg::Variant> arguments,
                                 F&& body) {
    return apartment_->Call([&]() -> std::invoke_result_t<F&> {
      script_->RecordCall({member, std::move(arguments), com::GetCurrentThreadId()});
      if (auto failure = script_->TakeFailure(member)) {
        throw com::ComError(com::DISP_E_EXCEPTION, *failure);
      }
      if (state_->shutDown) {
        throw com::ComError(com::DISP_E_EXCEPTION,
                            member + " cannot be served: CQGCEL has been shut down.");
      }
      return body();
    });
  }

  const std::shared_ptr<com::Apartment>& apartment() const { return apartment_; }
  const std::shared_ptr<Script>& script() const { return script_; }
  const std::shared_ptr<ClientState>& state() const { return state_; }

 private:
  std::shared_ptr<com::Apartment> apartment_;
  std::shared_ptr<Script> script_;
  std::shared_ptr<ClientState> state_;
};

}  // namespace platform::cqgsim
