// store_soak [--sequences N] [--seed S]: runs N seeded sequences of the record
// store's operations from seed S against SQLite and the PostgreSQL server
// named by ZANTRIX_TEST_POSTGRES_URI_FILE (store_sequence.h). Each difference
// is printed with its seed, the shortest sequence that shows it and the
// command that replays it; the last line is "N sequences, D differences",
// and the exit status is 1 when there is any.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/plugins/sqlite3/differential/store_sequence.h"

int main(int argc, char** argv) {
  using namespace zantrix_test::differential;
  std::uint64_t sequences = 1000;
  std::uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--sequences" || arg == "--seed") && i + 1 < argc) {
      (arg == "--sequences" ? sequences : seed) = std::strtoull(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: %s [--sequences N] [--seed S]\n", argv[0]);
      return 2;
    }
  }
  const auto uri = server_uri_from_environment();
  if (!uri) {
    std::fprintf(stderr,
                 "%s: no PostgreSQL server: ZANTRIX_TEST_POSTGRES_URI_FILE names no file holding "
                 "its URI (make soak-store starts one)\n",
                 argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t differences = 0;
  Runner runner(*uri);
  for (std::uint64_t s = seed; s < seed + sequences; ++s) {
    const Sequence sequence = generate(s);
    const auto difference = runner.run(sequence);
    if (!difference) continue;
    ++differences;
    std::fprintf(stderr, "%s\n\n", failure_report(s, *difference, runner.shrink(sequence)).c_str());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seeds %llu to %llu, %.1f s\n", static_cast<unsigned long long>(seed),
              static_cast<unsigned long long>(seed + sequences - 1), seconds);
  std::printf("%llu sequences, %llu differences\n", static_cast<unsigned long long>(sequences),
              static_cast<unsigned long long>(differences));
  return differences == 0 ? 0 : 1;
}
