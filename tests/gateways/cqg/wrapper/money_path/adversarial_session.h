// A seeded adversarial session of the order path: an engine trades through
// VexGate against a simulated client that misbehaves on purpose, and the
// outcome is checked against what a trader would state.
//
// The seed decides everything: the client's quirks, its misbehaviour at the
// given rates, the instruments' prices, and the engine's operations (orders
// of every type and size, cancels, market moves, orders entered by hand,
// account reloads, gateway outages, placements whose arrival comes late).
// After the session:
// - each fill the venue made for the engine's orders is exactly one deal with
//   its own quantity (one for an order placed by hand at most one: its events
//   are handed on while the gateway connection is up, and it is not
//   reconciled after an outage);
// - the deals of each of the engine's orders add up to its last reported
//   filled quantity;
// - every order the engine placed at the venue is known to it by its id;
// - the engine's position per instrument equals the venue's, net of the
//   orders entered by hand.
// Each broken rule is one line of `violations`. Sessions run one at a time
// (the simulated client library is registered for the session's length).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/cqgsim/quirks.h"

namespace zantrix::gateways::cqg::test {

struct SessionReport {
  std::uint64_t seed = 0;
  std::size_t operations = 0;
  std::size_t orders = 0;
  std::size_t unconfirmed = 0;
  std::size_t venue_fills = 0;
  std::size_t deals = 0;
  std::size_t outages = 0;
  std::size_t reloads = 0;
  std::vector<std::string> violations;
};

// The misbehaviour every session meets, at these rates per event.
platform::cqgsim::Misbehaviour session_misbehaviour();

// Runs one session. Standard output (the gateway's trace) is left as it is.
SessionReport run_session(std::uint64_t seed, const platform::cqgsim::Misbehaviour& rates);

// Runs the session of `seed` and fails the process, with the seed and the
// command that replays it, when it does not end within `limit`.
SessionReport run_watched_session(std::uint64_t seed, const platform::cqgsim::Misbehaviour& rates,
                                  std::chrono::seconds limit);

// The one-line command that replays the session of `seed` exactly.
std::string replay_command(std::uint64_t seed);

}  // namespace zantrix::gateways::cqg::test
