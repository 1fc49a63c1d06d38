// QuietOutput: standard output goes nowhere for the object's life, so that
// thousands of sessions do not print the gateway's trace. Made and destroyed
// while no other thread writes to standard output.
#pragma once

#include <iostream>
#include <streambuf>

namespace zantrix::gateways::cqg::test {

class QuietOutput {
 public:
  QuietOutput() : saved_(std::cout.rdbuf(&nowhere_)) {}
  ~QuietOutput() { std::cout.rdbuf(saved_); }
  QuietOutput(const QuietOutput&) = delete;
  QuietOutput& operator=(const QuietOutput&) = delete;

 private:
  class Nowhere : public std::streambuf {
   protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };

  Nowhere nowhere_;
  std::streambuf* saved_;
};

}  // namespace zantrix::gateways::cqg::test
