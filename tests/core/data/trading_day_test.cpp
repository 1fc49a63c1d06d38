#include "zantrix/core/data/trading_day.h"

#include <gtest/gtest.h>

namespace zc = zantrix::core;
namespace zf = zantrix::framework;
using namespace std::chrono;

TEST(TradingDay, OvernightSessionMovesLateMomentsToTheNextDay) {
  const auto at = [](year_month_day d, hours h, minutes m) { return zf::make_datetime(d, h, m); };
  const zc::TimeOfDay open = 18h, close = 17h;
  EXPECT_EQ(zc::get_trading_day(at(2024y / March / 4, 20h, 0min), open, close), 2024y / March / 5);
  EXPECT_EQ(zc::get_trading_day(at(2024y / March / 5, 9h, 0min), open, close), 2024y / March / 5);
  EXPECT_EQ(zc::get_trading_day(at(2024y / March / 5, 17h, 0min), open, close), 2024y / March / 5);
  EXPECT_EQ(zc::get_trading_day(at(2024y / March / 5, 17h, 1min), open, close), 2024y / March / 6);
  EXPECT_EQ(zc::get_trading_day(at(2024y / December / 31, 23h, 0min), open, close),
            2025y / January / 1);
}

TEST(TradingDay, DaySessionKeepsEveryMomentOnItsDate) {
  const zc::TimeOfDay open = 9h + 30min, close = 16h;
  for (const auto h : {0h, 9h, 16h, 20h, 23h}) {
    EXPECT_EQ(zc::get_trading_day(zf::make_datetime(2024y / March / 4, h), open, close),
              2024y / March / 4);
  }
}
