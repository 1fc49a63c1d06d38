// The commands of the zantrix program. Each reads its own words, writes its
// result on standard output and reports failure by throwing; main turns a
// throw into a message on standard error and exit status 1.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zantrix::app {

struct Command {
  std::string_view name;
  std::string_view summary;
  std::string_view usage;  // the command's --help text
  int (*run)(std::span<const std::string> words);
};

std::span<const Command> commands();

int run_bot(std::span<const std::string> words);
int run_demo(std::span<const std::string> words);
int run_history(std::span<const std::string> words);
int run_trading_day(std::span<const std::string> words);
int run_metrics(std::span<const std::string> words);

}  // namespace zantrix::app
