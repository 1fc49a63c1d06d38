// The failures of a Bot API call, by what the caller should do about them.
//
//   RetryAfter      HTTP 429: call again, but not before `retry_after` has passed.
//                   It is what the service asked for, rounded up to whole seconds
//                   and kept between kMinRetryAfter and kMaxRetryAfter.
//   TransientError  a 5xx answer, a connection that failed or dropped, a time-out,
//                   or an answer that is not the Bot API's JSON: call again later.
//   Unauthorized    HTTP 401: the token was refused; calling again cannot help.
//   TelegramError   any other refusal (400, 403, 404, 409, ...), with its status.
//                   Some pass by themselves (409 while another program polls
//                   with the token or a webhook is set); the caller decides.
//   Aborted         the caller's stop token ended the call before its answer.
//
// Messages never contain the request address, which carries the token.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace platform::telegram {

inline constexpr std::chrono::seconds kMinRetryAfter{1};
inline constexpr std::chrono::seconds kMaxRetryAfter{300};

class TelegramError : public std::runtime_error {
 public:
  // `status` is the HTTP status of the answer, 0 when there was none.
  TelegramError(const std::string& message, int status)
      : std::runtime_error(message), status_(status) {}
  int status() const noexcept { return status_; }

 private:
  int status_;
};

class RetryAfter : public TelegramError {
 public:
  RetryAfter(const std::string& message, std::chrono::seconds retry_after)
      : TelegramError(message, 429), retry_after_(retry_after) {}
  std::chrono::seconds retry_after() const noexcept { return retry_after_; }

 private:
  std::chrono::seconds retry_after_;
};

class TransientError : public TelegramError {
 public:
  using TelegramError::TelegramError;
};

class Unauthorized : public TelegramError {
 public:
  explicit Unauthorized(const std::string& message) : TelegramError(message, 401) {}
};

class Aborted : public std::runtime_error {
 public:
  Aborted() : std::runtime_error("the Bot API call was aborted") {}
};

}  // namespace platform::telegram
