// The error kinds of the system. Each is an exception class derived from the
// matching standard exception, so callers may catch either. Messages are the
// system's own texts, passed through unchanged.
#pragma once

#include <stdexcept>
#include <string>

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
// std::runtime_error.

}  // namespace zantrix::framework
