// zantrix: the command-line program around the zantrix modules.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "zantrix/framework/config.h"
#include "zantrix/version.h"

namespace zantrix::app {
namespace {

constexpr Command kCommands[] = {
    {"demo", "paper-trade the stored history through the simulated CQG gateway",
     "usage: zantrix [--config FILE] demo [--html PAGE] [--csv DIR] [--log FILE] [--fast 30]\n"
     "                 [--slow 120] [--patience 5] [--cash 1000000] [--seed 20240319]\n"
     "                 [--repeat 1] [--soak]\n"
     "\n"
     "Replays the one-minute history of HK.00700 and HK.HSImain (DATA_PATH) as the\n"
     "simulated CQG market's quotes, ticks and bars, trades it with a moving-average\n"
     "cross of --fast and --slow bars through the CQG gateway, and writes the orders,\n"
     "deals, balances and positions to the record store (DB, created if missing).\n"
     "Limit orders unfilled after --patience bars are cancelled. Prints the report\n"
     "and writes it as an HTML page (default: demo_report.html beside the store),\n"
     "with --csv also the tables behind its charts, trades and fees as CSV files;\n"
     "the gateway's trace lines go to --log (default: demo_session.log there).\n"
     "--repeat N replays the history N times, each pass whole weeks after the last.\n"
     "--soak makes the simulated venue misbehave (partial and repeated fills, empty\n"
     "order properties, Place failing after its order arrived) and prints memory,\n"
     "events per second and the trader's invariants (exit status 1 when one breaks).\n"
     "Ctrl-C ends the session early: it logs off and closes the store (exit status 130).\n",
     &run_demo},
    {"history", "print stored history as CSV, or the day files newest first",
     "usage: zantrix [--config FILE] history --code CODE --start \"YYYY-MM-DD HH:MM:SS\"\n"
     "                 --end \"YYYY-MM-DD HH:MM:SS\" [--dtype kline] [--interval 1min]\n"
     "       zantrix [--config FILE] history --code CODE --reverse \"YYYY-MM-DD HH:MM:SS\"\n"
     "                 [--interval 1min]\n"
     "\n"
     "Loads the instrument's history for the range (both ends included) and prints it\n"
     "as CSV; with --reverse, prints the names of its bar files dated up to that day,\n"
     "newest first. --interval is <n>min for day files or 1day for the daily file.\n",
     &run_history},
    {"trading-day", "print the futures trading day of a moment",
     "usage: zantrix trading-day \"YYYY-MM-DD HH:MM:SS\" --open HH:MM:SS --close HH:MM:SS\n"
     "\n"
     "Prints the trading day (YYYY-MM-DD) of the moment for a session that opens and\n"
     "closes at the given times; a session opening after its close runs overnight.\n",
     &run_trading_day},
    {"metrics", "print the performance of a CSV of dated portfolio values",
     "usage: zantrix metrics FILE [--html PAGE] [--csv DIR] [--days 252] [--window 252]\n"
     "\n"
     "FILE holds a header and rows of date,value[,benchmark] (dates as YYYY-MM-DD or\n"
     "YYYY-MM-DD HH:MM:SS), one row per period. Prints the total return, the Sharpe\n"
     "ratio, the information ratio and M2 against the benchmark, and the worst rolling\n"
     "maximum drawdown over --window periods; --days periods make a year. With --html,\n"
     "also writes the tear sheet: equity against the benchmark, drawdowns, monthly\n"
     "returns, rolling Sharpe ratio and volatility, the spread of the returns. With\n"
     "--csv, writes the tables behind its charts into DIR.\n",
     &run_metrics},
    {"bot", "serve the Telegram control bot, or check its connection",
     "usage: zantrix [--config FILE] bot [--selfcheck]\n"
     "\n"
     "Serves the chat commands of the Telegram bot (TELEGRAM_TOKEN) in the chat\n"
     "TELEGRAM_CHAT_ID until /stop, answering balance, position, order and deal\n"
     "requests from the record store (DB) when it exists. With --selfcheck, answers\n"
     "\"Yes I am here!\" to the sender of the first message waiting for the bot and\n"
     "prints that chat's id.\n",
     &run_bot},
};

void print_help(std::ostream& out) {
  out << "usage: zantrix [--config FILE] COMMAND [OPTIONS]\n"
         "\n"
         "  --config FILE   the configuration file (default: $ZANTRIX_CONFIG, else\n"
         "                  zantrix_config.json in the working directory)\n"
         "  --help          this text; COMMAND --help describes a command\n"
         "  --version       the version of zantrix\n"
         "\n"
         "commands:\n";
  for (const Command& c : commands()) {
    out << "  " << c.name << std::string(14 - c.name.size(), ' ') << c.summary << '\n';
  }
}

int run(const std::vector<std::string>& words) {
  std::size_t i = 0;
  for (; i < words.size() && words[i].starts_with("--"); ++i) {
    if (words[i] == "--help") {
      print_help(std::cout);
      return 0;
    }
    if (words[i] == "--version") {
      std::cout << "zantrix " << version << '\n';
      return 0;
    }
    if (words[i] == "--config" && i + 1 < words.size()) {
      framework::zantrix_config().use_file(words[++i]);
    } else if (words[i].starts_with("--config=")) {
      framework::zantrix_config().use_file(words[i].substr(9));
    } else {
      throw UsageError(words[i] == "--config" ? "option --config needs a value"
                                              : "unknown option " + words[i]);
    }
  }
  if (i == words.size()) throw UsageError("no command given (zantrix --help lists them)");
  for (const Command& c : commands()) {
    if (c.name != words[i]) continue;
    const std::vector<std::string> rest(words.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        words.end());
    for (const auto& w : rest) {
      if (w == "--help") {
        std::cout << c.usage;
        return 0;
      }
    }
    return c.run(rest);
  }
  throw UsageError("unknown command " + words[i] + " (zantrix --help lists them)");
}

}  // namespace

std::span<const Command> commands() {
  return kCommands;
}

}  // namespace zantrix::app

int main(int argc, char** argv) {
  try {
    return zantrix::app::run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "zantrix: " << e.what() << '\n';
    return 1;
  }
}
