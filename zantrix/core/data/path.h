// Where stored history lives.
//
// Bar data ("kline") of an instrument lies in
//   DATA_PATH["kline"] / <bar series name> / <code>
// where the series name comes from the bar length (the `interval` option, or
// TIME_STEP when there is none); any other data type lies in
//   DATA_PATH[<data type>] / <code>.
// Intraday series hold one file per day, "%Y-%m-%d.csv"; daily bars one file
// "ohlcv.csv". Only entry names containing ".csv" count as data files.
// The configuration is read at each call; nothing is cached.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/core/security.h"
#include "zantrix/framework/datetime.h"

namespace zantrix::core {

// Named extra arguments of the history functions; only "interval" is read.
using DataOptions = std::map<std::string, std::string, std::less<>>;

// The bar length in seconds of an interval text: "<n>min", "<n>hour" or
// "<n>day" (every occurrence of the unit is removed and the rest read as an
// integer that may carry blanks around it, a sign and underscores between
// digits; "min" is tested first).
// A ValueError "interval <text> is NOT valid!" without a unit, and a
// ValueError from the integer conversion for a rest like "1.5" or "".
std::int64_t interval_seconds(std::string_view interval);

// "Get the path to corresponding csv files." A KeyError for a data type that
// DATA_PATH does not name.
std::string _get_data_path(const Security& security, std::string_view dtype,
                           const DataOptions& options = {});

// "Fetch csv files": the entry names containing ".csv" in the instrument's
// directory, in the order the file system lists them. A FileNotFoundError
// "Data was NOT found in <path>!" when the directory does not exist.
std::vector<std::string> _get_data_files(const Security& security, std::string_view dtype,
                                         const DataOptions& options = {});

// "Load historical csv data in reversed order.": the bar files of `interval`
// dated on or before the day of `cur_datetime`, newest first (sorted
// descending as texts). Names containing "_" are always kept; any other name
// must read "%Y-%m-%d.csv" (a ValueError otherwise). A missing directory is
// the file system's error.
std::vector<std::string> _load_historical_bars_in_reverse(const Security& security,
                                                          framework::DateTime cur_datetime,
                                                          std::string_view interval = "1min");

}  // namespace zantrix::core
