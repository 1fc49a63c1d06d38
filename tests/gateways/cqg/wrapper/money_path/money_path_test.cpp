// The order path proven over seeded adversarial sessions: each session's
// money invariants (adversarial_session.h) must hold. ZANTRIX_SESSIONS and
// ZANTRIX_SEED choose how many sessions run and from which seed; a failure
// names its seed and the command that replays it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/gateways/cqg/wrapper/money_path/adversarial_session.h"
#include "tests/gateways/cqg/wrapper/money_path/quiet_output.h"

namespace zantrix::gateways::cqg::test {
namespace {

using namespace std::chrono_literals;

std::uint64_t from_environment(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

void expect_session_holds(std::uint64_t seed) {
  for (const auto& violation : run_watched_session(seed, session_misbehaviour(), 120s).violations) {
    ADD_FAILURE() << "seed " << seed << ": " << violation << "\nreplay: " << replay_command(seed);
  }
}

TEST(MoneyPathTest, SeededSessionsBookEveryFillOnceAndKeepPositionsEqual) {
  const QuietOutput quiet;
  const auto first = from_environment("ZANTRIX_SEED", 1);
  const auto count = from_environment("ZANTRIX_SESSIONS", MONEY_PATH_SESSIONS);
  for (std::uint64_t seed = first; seed < first + count; ++seed) expect_session_holds(seed);
}

// Sessions that once broke an invariant, kept whatever range the random test
// runs: 76 and 918 fill orders entered by hand while the gateway connection
// is down (their fills are not reconciled); 10 needs the reconciliation of
// the engine's orders after an outage; 4 an empty filled quantity made up
// from the fills handed on.
TEST(MoneyPathTest, SessionsThatOnceBrokeAnInvariantHold) {
  const QuietOutput quiet;
  for (const std::uint64_t seed : {4u, 10u, 76u, 918u}) expect_session_holds(seed);
}

}  // namespace
}  // namespace zantrix::gateways::cqg::test
