// Seeded sequences of the record store's operations, run against a SQLite
// store and a PostgreSQL store side by side, each back end checking the other.
//
// The seed decides the whole sequence: inserts, updates, deletes and
// selections with conditions, a caller's own statements through `execute`,
// nested transaction scopes ended each way, statements that fail inside a
// scope (the error caught by the caller, or let out of the scope), columns
// added by another engine's session, and values at the edges (texts with
// NUL, quotes, multi-byte and invalid UTF-8; numbers at ±0, subnormal, ±max,
// NaN and infinities, fractions into integer columns; date-times at the ends
// of their range). After each step both stores hold the same rows (compared
// by value, their ids left out), or both refused it with the same error kind,
// or the difference is one of `kDocumentedDifferences`; anything else is a
// difference. `last_insert_id` is checked on each back end alone: the id of
// the latest successful insert, whatever failed after it.
//
// Each sequence runs on fresh stores: a SQLite file in a fresh folder (in
// memory, /dev/shm, where there is one: what is compared is what the stores
// hold, never what survives a crash) and the four record tables made afresh
// in a database of the server of `server_uri`. Sequences run one at a time
// on the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zantrix_test::differential {

struct Step;

// A sequence of steps, as its seed made it or as shrinking left it.
struct Sequence {
  std::uint64_t seed = 0;
  std::vector<std::shared_ptr<const Step>> steps;
};

// What the two back ends may rightly do differently, and what both do alike
// to a value so that they agree (written down because a caller sees it).
struct Documented {
  const char* name;
  const char* what;
};
extern const std::vector<Documented> kDocumentedDifferences;
extern const std::vector<Documented> kNormalisations;

Sequence generate(std::uint64_t seed);

// One line per step, as a reader replays it by hand.
std::string describe(const Step& step);

// Runs sequences against the server of `server_uri` (a libpq URI of a
// server on which this runner may make a database of its own) and SQLite.
class Runner {
 public:
  explicit Runner(const std::string& server_uri);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // The first unexplained difference of the sequence, or std::nullopt when
  // it has none.
  std::optional<std::string> run(const Sequence& sequence);

  // The shortest sequence found, by dropping steps, that still shows a
  // difference; `sequence` must show one.
  Sequence shrink(const Sequence& sequence);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A report of a failing sequence: its seed, the difference, the shortest
// sequence that shows it, and the one-line command that replays the seed.
std::string failure_report(std::uint64_t seed, const std::string& difference,
                           const Sequence& shortest);

std::string replay_command(std::uint64_t seed);

// The libpq URI of the tests' server, std::nullopt when there is none
// (ZANTRIX_TEST_POSTGRES_URI_FILE names the file holding it).
std::optional<std::string> server_uri_from_environment();

}  // namespace zantrix_test::differential
