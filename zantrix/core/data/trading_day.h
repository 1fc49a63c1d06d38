// The futures trading day of a moment.
//
// When the daily session opens and closes on the same calendar day (open at
// or before close), every moment belongs to its own date. When it opens in
// the evening and closes the next day, a moment after the close belongs to
// the next date, and a moment at or before the close to its own.
#pragma once

#include <chrono>

#include "zantrix/framework/datetime.h"

namespace zantrix::core {

using TimeOfDay = std::chrono::microseconds;  // since midnight

framework::Date get_trading_day(framework::DateTime dt, TimeOfDay daily_open_time,
                                TimeOfDay daily_close_time);

}  // namespace zantrix::core
