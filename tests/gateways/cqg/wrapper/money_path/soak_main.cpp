// money_path_soak [--sessions N] [--seed S] [--verbose]: runs N seeded
// adversarial sessions of the order path from seed S (adversarial_session.h)
// and prints each violation with the command that replays its session, then
// "N sessions, V violations" with the rates and the time taken; the exit
// status is 1 when any invariant broke. --verbose keeps the gateway's trace.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "tests/gateways/cqg/wrapper/money_path/adversarial_session.h"
#include "tests/gateways/cqg/wrapper/money_path/quiet_output.h"

int main(int argc, char** argv) {
  using namespace zantrix::gateways::cqg::test;
  std::uint64_t sessions = 100;
  std::uint64_t seed = 1;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--sessions" || arg == "--seed") && i + 1 < argc) {
      (arg == "--sessions" ? sessions : seed) = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--verbose") {
      verbose = true;
    } else {
      std::fprintf(stderr, "usage: %s [--sessions N] [--seed S] [--verbose]\n", argv[0]);
      return 2;
    }
  }
  const auto rates = session_misbehaviour();
  const auto start = std::chrono::steady_clock::now();
  std::size_t violations = 0;
  std::size_t fills = 0;
  std::size_t orders = 0;
  {
    std::optional<QuietOutput> quiet;
    if (!verbose) quiet.emplace();
    for (std::uint64_t s = seed; s < seed + sessions; ++s) {
      const auto report = run_watched_session(s, rates, std::chrono::seconds(120));
      fills += report.venue_fills;
      orders += report.orders;
      for (const auto& violation : report.violations) {
        ++violations;
        std::fprintf(stderr, "seed %llu: %s\nreplay: %s\n", static_cast<unsigned long long>(s),
                     violation.c_str(), replay_command(s).c_str());
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "rates per event: partial fill %.2f, repeated fill %.2f, repeated on reload %.2f, "
      "Place failing after arrival %.2f, empty property %.2f, null order with a fill %.2f\n",
      rates.partialFill, rates.repeatFill, rates.repeatFillOnReload, rates.placeFailsAfterArrival,
      rates.emptyProperty, rates.nullOrderWithFill);
  std::printf("%zu orders, %zu venue fills, %.1f s\n", orders, fills, seconds);
  std::printf("%llu sessions, %zu violations\n", static_cast<unsigned long long>(sessions),
              violations);
  return violations == 0 ? 0 : 1;
}
