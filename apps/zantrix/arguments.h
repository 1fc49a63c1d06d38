// The command line of the zantrix program: "--name value" options, "--flag"
// switches and positional words, read without a library. A bad command line
// is a UsageError whose message says what was wrong.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zantrix::app {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Arguments {
 public:
  // Reads `words`; `options` take a value, `switches` do not. Any other word
  // starting with "--" is a UsageError naming it.
  Arguments(std::span<const std::string> words, const std::set<std::string, std::less<>>& options,
            const std::set<std::string, std::less<>>& switches);

  std::optional<std::string> option(std::string_view name) const;
  // The option's value; a UsageError naming it when it is absent.
  std::string required(std::string_view name) const;
  bool has(std::string_view name) const;
  // The option's value as a positive integer, `fallback` when it is absent; a
  // UsageError naming it when it is not one.
  std::int64_t positive_integer(std::string_view name, std::int64_t fallback) const;
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::set<std::string, std::less<>> switches_;
  std::vector<std::string> positional_;
};

}  // namespace zantrix::app
