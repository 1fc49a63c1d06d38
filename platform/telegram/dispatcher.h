// Dispatcher: hands each update to the first handler that accepts it.
//
// Handlers are tried in the order they were added; the first whose
// check_update accepts the update gets it, the others are not asked. An
// update no handler accepts is dropped without a word. A callback runs on the
// thread that calls process_update (the update fetcher's); an exception out of
// it is reported as one line on standard output and does not reach the
// caller, so the next update is served as usual.
//
// Add every handler before updates are processed; adding is not safe while
// another thread processes updates.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/telegram/bot.h"
#include "platform/telegram/types.h"

namespace platform::telegram {

// What a callback gets besides the update: the bot client that fetched it and
// the words of a command after its name (empty for other handlers).
struct CallbackContext {
  Bot& bot;
  std::vector<std::string> args;
};

using Callback = std::function<void(const Update& update, CallbackContext& context)>;

class Handler {
 public:
  explicit Handler(Callback callback) : callback_(std::move(callback)) {}
  virtual ~Handler() = default;

  // Whether this handler takes `update`, for the bot `bot`.
  virtual bool check_update(const Update& update, const Bot& bot) const = 0;
  // The words the callback gets as `context.args`.
  virtual std::vector<std::string> arguments(const Update& update) const;

  const Callback& callback() const { return callback_; }

 private:
  Callback callback_;
};

class Dispatcher {
 public:
  explicit Dispatcher(Bot& bot) : bot_(bot) {}

  void add_handler(std::unique_ptr<Handler> handler);
  // Runs the callback of the first handler that accepts `update`; returns
  // whether one did.
  bool process_update(const Update& update);

 private:
  Bot& bot_;
  std::vector<std::unique_ptr<Handler>> handlers_;
};

}  // namespace platform::telegram
