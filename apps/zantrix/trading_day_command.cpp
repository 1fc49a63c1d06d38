#include <iostream>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "zantrix/core/data/trading_day.h"
#include "zantrix/framework/errors.h"

namespace zantrix::app {
namespace {

// "HH:MM:SS" as a time since midnight.
core::TimeOfDay time_of_day(const std::string& text) {
  framework::DateTime t;
  if (!framework::try_parse_datetime("2000-01-01 " + text, t)) {
    throw UsageError("'" + text + "' is not a time of day HH:MM:SS");
  }
  return t - std::chrono::floor<std::chrono::days>(t);
}

}  // namespace

int run_trading_day(std::span<const std::string> words) {
  const Arguments args(words, {"--open", "--close"}, {});
  if (args.positional().size() != 1) {
    throw UsageError("trading-day takes one date-time \"YYYY-MM-DD HH:MM:SS\"");
  }
  const auto day = core::get_trading_day(framework::parse_datetime(args.positional()[0]),
                                         time_of_day(args.required("--open")),
                                         time_of_day(args.required("--close")));
  std::cout << framework::format_date(day) << '\n';
  return 0;
}

}  // namespace zantrix::app
