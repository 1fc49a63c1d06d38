// The dated x axis of the report's charts. Charts place their points one
// period apart, so nights, weekends and holidays take no room; a tick marks
// the first period of a new calendar unit (an hour, a day, a week starting on
// Monday, a month, a quarter, a year, several years), the smallest unit that
// gives no more ticks than the chart has room for.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "zantrix/framework/datetime.h"

namespace zantrix::plugins::analysis::report {

struct TimeTick {
  std::size_t index;  // the period the tick marks
  std::string label;  // "14:00", "18 Mar", "Apr", "Jan 2024" (a month's
                      // first tick and each January carry the year), "2024"
  friend bool operator==(const TimeTick&, const TimeTick&) = default;
};

// Ticks for `times` (increasing). When no unit boundary falls within the
// times, one tick marks the first period with its date and time.
std::vector<TimeTick> time_ticks(std::span<const framework::DateTime> times,
                                 std::size_t max_ticks = 12);

// A short date: "18 Mar 2024".
std::string short_date(framework::DateTime t);

}  // namespace zantrix::plugins::analysis::report
