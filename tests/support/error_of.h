// error_of<E>(fn): the message of the E that `fn` throws, "no error" when it
// returns normally. Any other exception passes through and fails the test.
#pragma once

#include <exception>
#include <string>

namespace zantrix::test {

template <class E = std::exception, class F>
std::string error_of(F&& fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace zantrix::test
