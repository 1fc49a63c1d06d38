// CustomedExtBot: the bot client that carries the request state.
//
// Commands and the engine share the state through this object, under one
// lock: `update` applies all the writes of one command together, so a reader
// that sees a request's flag also sees that request's values; `state` reads
// everything at one moment.
#pragma once

#include <mutex>
#include <utility>

#include "platform/telegram/bot.h"
#include "zantrix/plugins/telegram/request_state.h"

namespace zantrix::plugins::telegram {

class CustomedExtBot : public platform::telegram::Bot {
 public:
  using Bot::Bot;

  RequestState state() const {
    const std::lock_guard lock(mutex_);
    return state_;
  }

  // Runs `change(state)` under the lock and returns what it returns. `change`
  // must not call back into this object.
  template <class Change>
  decltype(auto) update(Change&& change) {
    const std::lock_guard lock(mutex_);
    return std::forward<Change>(change)(state_);
  }

 private:
  mutable std::mutex mutex_;
  RequestState state_;
};

}  // namespace zantrix::plugins::telegram
