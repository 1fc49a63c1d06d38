// zantrix demo: the paper-trading session on the stored history, with its
// report on the console, as an HTML page and, with --csv, as CSV tables.
//
// While the session runs, standard output (where the CQG side prints its
// trace lines) goes to the session log; the console keeps the progress line,
// shown only on a terminal, and the report. Ctrl-C only raises a flag: the
// session ends after the current minute, logs off, shuts the client
// environment down and closes the record store, and the report covers what
// was traded; the exit status is then 130.
//
// --repeat N replays the tape N times, each pass weeks after the one before,
// for a session of several months. --soak turns on the simulated venue's
// misbehaviour and, after the report, prints the process's resident memory at
// the start of the replay, at the end of each pass and at the end, the events
// the gateway handed on per second, the orders and deals, and the trader's
// invariants; a broken invariant makes the exit status 1.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "apps/zantrix/demo/market_tape.h"
#include "apps/zantrix/demo/session.h"
#include "apps/zantrix/demo/session_invariants.h"
#include "apps/zantrix/demo/session_report.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::app {
namespace {

namespace fs = std::filesystem;

// Set by the SIGINT handler; lock-free, so setting it is safe there.
std::atomic<bool> interrupt_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_interrupt(int) {
  interrupt_requested.store(true);
}

// SIGINT raises interrupt_requested while this lives; the previous handling
// comes back afterwards.
class InterruptFlag {
 public:
  InterruptFlag() {
    interrupt_requested.store(false);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptFlag() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptFlag(const InterruptFlag&) = delete;
  InterruptFlag& operator=(const InterruptFlag&) = delete;

 private:
  struct sigaction previous_ {};
};

// Points standard output at `log` while it lives; `console` is the original.
class OutputDiversion {
 public:
  explicit OutputDiversion(const fs::path& log) {
    std::fflush(stdout);
    console_ = ::dup(STDOUT_FILENO);
    const int file = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (console_ < 0 || file < 0) {
      if (console_ >= 0) ::close(console_);
      throw std::runtime_error("cannot write the session log " + log.string());
    }
    ::dup2(file, STDOUT_FILENO);
    ::close(file);
  }
  ~OutputDiversion() {
    std::fflush(stdout);
    ::dup2(console_, STDOUT_FILENO);
    ::close(console_);
  }
  OutputDiversion(const OutputDiversion&) = delete;
  OutputDiversion& operator=(const OutputDiversion&) = delete;

  int console() const { return console_; }

 private:
  int console_ = -1;
};

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string progress_line(const demo::SessionProgress& p) {
  char line[160];
  std::snprintf(line, sizeof line, "\r%s  %3zu%%  orders %zu  fills %zu  value %.2f\033[K",
                framework::format_datetime(p.time).c_str(), 100 * p.step / p.steps, p.orders,
                p.fills, p.value);
  return line;
}

std::string seconds(std::chrono::steady_clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(d).count());
  return text;
}

// The venue's faults in a soak, each at a rate a week of trading meets many
// times over, and an order that can trade filled in its arrival.
constexpr platform::cqgsim::Misbehaviour kSoakMisbehaviour{.partialFill = 0.3,
                                                           .repeatFill = 0.2,
                                                           .repeatFillOnReload = 0,
                                                           .placeFailsAfterArrival = 0.05,
                                                           .emptyProperty = 0.1,
                                                           .nullOrderWithFill = 0.05};
constexpr platform::cqgsim::Quirks kSoakQuirks{.fillOnArrival = true};

// The process's resident memory (VmRSS) in bytes, when the system tells it.
std::optional<double> resident_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return 1024.0 * std::stod(line.substr(6));
  }
  return std::nullopt;
}

std::string mebibytes(std::optional<double> bytes) {
  if (!bytes) return "unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", *bytes / (1024.0 * 1024.0));
  return text;
}

// The soak's view of the replay at one moment.
struct Footprint {
  framework::DateTime time;
  std::size_t deals;
  std::optional<double> resident;
};

// Prints the soak's figures; false when an invariant broke.
bool report_soak(const demo::SessionResult& result, const std::vector<Footprint>& footprints,
                 std::chrono::steady_clock::duration session_time) {
  std::printf("\nsoak: %zu minutes over %zu trading days, with the venue misbehaving\n",
              result.minutes, result.days);
  if (!footprints.empty()) {
    const Footprint& first = footprints.front();
    const Footprint& last = footprints.back();
    std::printf("resident memory: %s at the start of the replay, %s at the end\n",
                mebibytes(first.resident).c_str(), mebibytes(last.resident).c_str());
    for (std::size_t i = 1; i < footprints.size(); ++i) {
      std::printf("  %s: %s, %zu deals\n", framework::format_datetime(footprints[i].time).c_str(),
                  mebibytes(footprints[i].resident).c_str(), footprints[i].deals);
    }
    const auto per_deal = [&](const Footprint& from) -> std::optional<double> {
      if (!from.resident || !last.resident || last.deals <= from.deals) return std::nullopt;
      return (*last.resident - *from.resident) / static_cast<double>(last.deals - from.deals);
    };
    if (const auto whole = per_deal(first)) {
      std::printf("growth: %.0f bytes per deal over the replay", *whole);
      // The first pass also fills the market's bounded bar and tick histories.
      if (const auto later = footprints.size() > 2 ? per_deal(footprints[1]) : std::nullopt) {
        std::printf(", %.0f after the first pass", *later);
      }
      std::printf("\n");
    }
  }
  const auto& events = result.handed_on;
  const double elapsed = std::chrono::duration<double>(session_time).count();
  std::printf(
      "events handed on: %zu (%zu quotes, %zu order books, %zu order updates, %zu deals) in "
      "%.1f s, %.0f per second\n",
      events.total(), events.quotes, events.orderbooks, events.orders, events.deals, elapsed,
      elapsed > 0 ? static_cast<double>(events.total()) / elapsed : 0.0);
  std::printf("orders: %zu (%zu unconfirmed), deals: %zu, repeated deals refused: %zu\n",
              result.orders, result.unconfirmed_orders, result.deals.size(), result.repeated_deals);
  const auto broken = demo::broken_invariants(result);
  if (broken.empty()) {
    std::printf(
        "invariants hold: each of the market's %zu fills is one deal; positions equal the "
        "venue's\n",
        result.market_fills.size());
  }
  for (const auto& line : broken) std::printf("invariant broken: %s\n", line.c_str());
  return broken.empty();
}

}  // namespace

int run_demo(std::span<const std::string> words) {
  const auto started = std::chrono::steady_clock::now();
  const Arguments args(words,
                       {"--html", "--csv", "--log", "--fast", "--slow", "--patience", "--cash",
                        "--seed", "--repeat"},
                       {"--soak"});
  if (!args.positional().empty()) throw UsageError("demo takes no file: " + args.positional()[0]);
  demo::SessionOptions options;
  options.strategy.fast = static_cast<std::size_t>(args.positive_integer("--fast", 30));
  options.strategy.slow = static_cast<std::size_t>(args.positive_integer("--slow", 120));
  options.strategy.patience = static_cast<std::size_t>(args.positive_integer("--patience", 5));
  options.starting_cash = static_cast<double>(args.positive_integer("--cash", 1'000'000));
  options.seed = static_cast<std::uint64_t>(args.positive_integer("--seed", 20240319));
  options.passes = static_cast<std::size_t>(args.positive_integer("--repeat", 1));
  const bool soak = args.has("--soak");
  if (soak) {
    options.misbehaviour = kSoakMisbehaviour;
    options.quirks = kSoakQuirks;
  }
  if (options.strategy.fast >= options.strategy.slow) {
    throw UsageError("--fast must be below --slow");
  }

  // The page and the log go beside a SQLite store, or to the working
  // directory when the store is on a server.
  const auto folder = plugins::sqlite3::_db_uri() ? std::optional<std::string>(".")
                                                  : plugins::sqlite3::_db_path();
  if (!folder) {
    throw framework::ValueError(
        "the demo writes its records to the store named by DB: set {\"sqlite3\": FOLDER} or "
        "{\"postgresql\": URI}");
  }
  fs::create_directories(*folder);
  const fs::path page = args.option("--html").value_or((fs::path(*folder) / "demo_report.html"));
  const fs::path log = args.option("--log").value_or((fs::path(*folder) / "demo_session.log"));
  options.session_tag = "demo " +
                        framework::format_datetime(
                            std::chrono::floor<std::chrono::seconds>(framework::local_now())) +
                        " pid " +
                        std::to_string(::getpid());

  const demo::MarketTape tape = demo::load_tape(demo::demo_instruments());
  std::string names;
  for (const auto& instrument : tape.instruments) names += " " + instrument.security.code();
  std::printf("Paper trading%s over %zu trading days (%zu minutes); trace lines go to %s\n",
              names.c_str(), tape.days * options.passes, tape.steps.size() * options.passes,
              log.c_str());

  demo::SessionResult result;
  // At the start of the replay, at the end of each pass and at the end.
  std::vector<Footprint> footprints;
  std::chrono::steady_clock::duration session_time{};
  {
    OutputDiversion diversion(log);
    const InterruptFlag interrupt;
    options.stop = &interrupt_requested;
    const int console = diversion.console();
    const bool shown_on_console = ::isatty(console) != 0;
    if (shown_on_console || soak) {
      const std::size_t per_pass = tape.steps.size();
      std::size_t shown = 0;
      options.progress = [=, &footprints](const demo::SessionProgress& p) mutable {
        if (soak && (p.step == 1 || p.step % per_pass == 0 || p.step == p.steps)) {
          footprints.push_back({p.time, p.fills, resident_bytes()});
        }
        if (!shown_on_console) return;
        const std::size_t percent = 100 * p.step / p.steps;
        if (p.step != p.steps && percent == shown && p.step % 500 != 0) return;
        shown = percent;
        write_all(console, progress_line(p));
      };
    }
    const auto session_started = std::chrono::steady_clock::now();
    result = demo::run_session(tape, options);
    session_time = std::chrono::steady_clock::now() - session_started;
    if (shown_on_console) write_all(console, "\r\033[K");
  }

  const auto report = demo::session_report(result);
  if (result.interrupted) std::printf("Interrupted: the session stopped early.\n");
  std::printf("\n%s\n", plugins::analysis::report::render_text(report).c_str());
  {
    std::ofstream out(page, std::ios::binary);
    out << plugins::analysis::report::render_html(report);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + page.string());
  }
  std::printf("fills reported by the market: %zu\n", result.market_fills.size());
  std::printf("page: %s\n", page.c_str());
  if (const auto tables = args.option("--csv")) {
    plugins::analysis::report::write_csv(report, *tables);
    std::printf("tables: %s\n", tables->c_str());
  }
  std::printf("database: %s (rows with remark \"%s\")\n", result.database.c_str(),
              result.session_tag.c_str());
  std::printf("session log: %s\n", log.c_str());
  std::printf("wall time: %s\n",
              seconds(std::chrono::steady_clock::now() - started).c_str());
  bool kept = true;
  if (soak) kept = report_soak(result, footprints, session_time);
  if (result.interrupted) return 130;
  return kept ? 0 : 1;
}

}  // namespace zantrix::app
