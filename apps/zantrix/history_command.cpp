#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "apps/zantrix/table_csv.h"
#include "zantrix/core/data/history.h"
#include "zantrix/core/data/path.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::app {

int run_history(std::span<const std::string> words) {
  const Arguments args(words, {"--code", "--start", "--end", "--dtype", "--interval", "--reverse"},
                       {});
  if (!args.positional().empty()) throw UsageError("unexpected word " + args.positional()[0]);
  const core::Security security(args.required("--code"), args.required("--code"));
  const std::string interval = args.option("--interval").value_or("1min");

  if (const auto reverse = args.option("--reverse")) {
    const auto names = core::_load_historical_bars_in_reverse(
        security, framework::parse_datetime(*reverse), interval);
    std::string out;
    for (const auto& name : names) out += name + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  }
  const auto start = framework::parse_datetime(args.required("--start"));
  const auto end = framework::parse_datetime(args.required("--end"));
  const auto table = core::_get_data(security, start, end, args.option("--dtype").value_or("kline"),
                                     std::nullopt, {{"interval", interval}});
  std::fflush(stdout);
  write_table_csv(table, STDOUT_FILENO);
  return 0;
}

}  // namespace zantrix::app
