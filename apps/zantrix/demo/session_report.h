// The report of a paper-trading session: its orders, fills, fees, round
// trips and holding periods, and the performance of its account value (net
// liquidation value less fees, one value per balance snapshot) against
// buy-and-hold of the same instruments.
#pragma once

#include "apps/zantrix/demo/session.h"
#include "zantrix/plugins/analysis/report/report.h"

namespace zantrix::app::demo {

// Periods per year: 252 trading days times the snapshots per day; the
// rolling window is about one trading month of snapshots.
plugins::analysis::report::Report session_report(const SessionResult& session);

}  // namespace zantrix::app::demo
