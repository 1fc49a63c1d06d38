// SQLite and PostgreSQL checked against each other over seeded sequences of
// the store's operations (store_sequence.h). ZANTRIX_SEQUENCES and
// ZANTRIX_SEED choose how many run and from which seed; a failure names its
// seed, the shortest sequence that shows it and the command that replays it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "tests/plugins/sqlite3/differential/store_sequence.h"

namespace zantrix_test::differential {
namespace {

std::uint64_t from_environment(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

class Differential : public testing::Test {
 protected:
  void SetUp() override {
    const auto uri = server_uri_from_environment();
    if (!uri) GTEST_SKIP() << "no PostgreSQL server for the tests";
    runner_.emplace(*uri, std::filesystem::temp_directory_path().string());
  }

  void expect_same(std::uint64_t seed) {
    const Sequence sequence = generate(seed);
    if (const auto difference = runner_->run(sequence)) {
      ADD_FAILURE() << failure_report(seed, *difference, runner_->shrink(sequence));
    }
  }

  std::optional<Runner> runner_;
};

TEST_F(Differential, SeededSequencesLeaveBothBackEndsWithTheSameRows) {
  const auto first = from_environment("ZANTRIX_SEED", 1);
  const auto count = from_environment("ZANTRIX_SEQUENCES", STORE_SEQUENCES);
  for (std::uint64_t seed = first; seed < first + count; ++seed) expect_same(seed);
}

}  // namespace
}  // namespace zantrix_test::differential
