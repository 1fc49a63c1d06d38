// Client options for tests: back-off in milliseconds, time limits of a few
// seconds, so that fault cases run quickly and a hang fails instead of
// stalling the suite.
#pragma once

#include <chrono>

#include "platform/telegram/bot.h"
#include "platform/telegram/updater.h"

namespace platform::telegram::testing {

using namespace std::chrono_literals;

inline constexpr RetryPolicy kFastRetry{.first_delay = 10ms, .max_delay = 40ms};

inline BotOptions fast_bot_options() {
  return {.connect_timeout = 2s,
          .request_timeout = 3s,
          .poll_grace = 3s,
          .outbox = {.retry = kFastRetry, .attempts = 4}};
}

inline UpdaterOptions fast_updater_options() {
  return {.poll_timeout = 30s, .retry = kFastRetry, .confirm_timeout = 2s};
}

// A bound on anything that should end at once; only a hang exceeds it.
inline constexpr auto kPrompt = 5s;

}  // namespace platform::telegram::testing
