// The report of a paper-trading session: its orders, fills, fees, profit and
// loss and holding periods, and the performance of its account value (net
// liquidation value less fees, one value per balance snapshot) against
// buy-and-hold of the same instruments.
#pragma once

#include <string>
#include <vector>

#include "apps/zantrix/demo/session.h"
#include "apps/zantrix/performance_report.h"

namespace zantrix::app::demo {

// How long each position was held, in minutes of market time: from the deal
// that opened it to the deal that closed or reversed it.
std::vector<double> holding_periods(const std::vector<framework::Deal>& deals);

// Periods per year: 252 trading days times the snapshots per day.
PerformanceReport session_performance(const SessionResult& session);

}  // namespace zantrix::app::demo
