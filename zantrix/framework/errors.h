// The error kinds of the system. Each is an exception class derived from the
// matching standard exception, so callers may catch either. Messages are the
// system's own texts, passed through unchanged.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace zantrix::framework {

// Bad input or a missing object.
class ValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// An argument whose kind, decided at run time, is not accepted.
class TypeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A key or name that is not there.
class KeyError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A file or directory that does not exist.
class FileNotFoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A broken precondition.
class AssertionError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// Run-time errors (an awaited event that did not come, ...) are plain
// std::runtime_error, but for one kind that carries what the caller must
// keep.

// A placement whose outcome the gateway could not confirm: its arrival did not
// come in time, or the client failed the placement after the order may have
// reached the venue. The order may rest and fill there, so the error carries
// the id the order has at the venue (its GUID, also written into the text):
// the engine keeps the order under that id and books its later updates and
// deals as its own. When the client's own error caused it, that error is
// nested (std::rethrow_if_nested gives it).
class OrderPlacingError : public std::runtime_error {
 public:
  OrderPlacingError(const std::string& message, std::string order_id)
      : std::runtime_error(message), order_id_(std::move(order_id)) {}

  const std::string& order_id() const noexcept { return order_id_; }

 private:
  std::string order_id_;
};

}  // namespace zantrix::framework
