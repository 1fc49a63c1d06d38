// The trader's checks of a paper-trading session against the simulated venue,
// in money terms: each fill the venue reported is exactly one of the
// session's deals (the same order, fill id and quantity), no deal is one the
// venue did not report, and the position the strategy holds in each
// instrument is the venue's. They hold whatever the venue got wrong on the
// way: partial fills, fills reported again, empty properties, a placement
// that failed after its order had arrived.
#pragma once

#include <string>
#include <vector>

#include "apps/zantrix/demo/session.h"

namespace zantrix::app::demo {

// One line per rule the session broke, naming the first case; empty when
// every rule holds.
std::vector<std::string> broken_invariants(const SessionResult& session);

}  // namespace zantrix::app::demo
