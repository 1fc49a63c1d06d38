#include "zantrix/core/data/trading_day.h"

namespace zantrix::core {

framework::Date get_trading_day(framework::DateTime dt, TimeOfDay daily_open_time,
                                TimeOfDay daily_close_time) {
  const auto midnight = std::chrono::floor<std::chrono::days>(dt);
  if (daily_open_time <= daily_close_time) return framework::Date{midnight};
  const TimeOfDay time = dt - midnight;
  if (time > daily_close_time) return framework::Date{midnight + std::chrono::days{1}};
  return framework::Date{midnight};
}

}  // namespace zantrix::core
