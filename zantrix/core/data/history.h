// Loading stored history into one time-ordered table.
//
// Intraday mode (an `interval` option containing "min"): the day files of the
// interval's directory dated from the day of `start` to the day of `end` are
// read in date order and their rows kept when their `time_key` lies within
// [start, end] at whole seconds; with the "start" bar convention of the
// instrument (BAR_CONVENTION), `start` first moves earlier by the length of
// one TIME_STEP bar in whole minutes. Rows with a missing cell are dropped.
// Daily mode (`interval` "1day"): the whole "ohlcv.csv", in file order,
// missing cells kept. Any other interval is a ValueError.
//
// In both modes, when the table has a `ticker` column, each change of ticker
// between consecutive rows is a roll: every earlier row's open, high, low and
// close are multiplied by the ratio of the new contract's first close to the
// old contract's last close (all ratios taken from the unadjusted closes, and
// applied in roll order). A roll whose closes are missing or zero is a
// ValueError naming both rows.
//
// The returned table's first column need not be `time_key`: columns keep
// their file order. Rows are labelled 0, 1, 2, ...; nothing is cached.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/core/data/path.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/framework/table.h"

namespace zantrix::core {

// "Get historical data". `dfield` is accepted and not used. A ValueError
// "There is no historical data for <code> within time range: [<start> -
// <end>]!" when no day file of the range holds a row.
framework::Table _get_data(const Security& security, framework::DateTime start,
                           framework::DateTime end, std::string_view dtype = "kline",
                           const std::optional<std::vector<std::string>>& dfield = std::nullopt,
                           const DataOptions& options = {});

// The futures roll back-adjustment of a loaded table (a no-op without a
// `ticker` column).
void adjust_rolls(framework::Table& table);

}  // namespace zantrix::core
