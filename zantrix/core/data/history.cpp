#include "zantrix/core/data/history.h"

#include <algorithm>
#include <cmath>

#include "zantrix/core/data/history_file.h"
#include "zantrix/framework/config.h"
#include "zantrix/framework/errors.h"

namespace zantrix::core {

using framework::Column;
using framework::DateTime;
using framework::Table;
using framework::ValueError;

namespace {

// The day a file name stands for: its last 14 characters without ".csv".
framework::Date date_of_file(const std::string& name) {
  std::string tail = name.size() > 14 ? name.substr(name.size() - 14) : name;
  for (std::size_t at; (at = tail.find(".csv")) != std::string::npos;) tail.erase(at, 4);
  framework::Date day;
  if (!framework::try_parse_date(tail, day)) {
    throw ValueError("time data '" + tail + "' of file " + name +
                     " does not match format '%Y-%m-%d'");
  }
  return day;
}

std::vector<std::string> files_in_range(const Security& security, DateTime start, DateTime end,
                                        std::string_view dtype, const DataOptions& options) {
  const framework::Date first = framework::date_of(start);
  const framework::Date last = framework::date_of(end);
  std::vector<std::string> kept;
  for (std::string& name : _get_data_files(security, dtype, options)) {
    const framework::Date day = date_of_file(name);
    if (first <= day && day <= last) kept.push_back(std::move(name));
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

Table read_files(const std::string& directory, const std::vector<std::string>& names) {
  std::vector<HistoryFile> files;
  files.reserve(names.size());
  for (const std::string& name : names) files.push_back(HistoryFile::read(directory + "/" + name));
  return build_history_table(files);
}

std::size_t time_column(const Table& table) {
  const auto index = table.column_index("time_key");
  if (!index) throw framework::KeyError("'time_key'");
  return *index;
}

void sort_by_time(Table& table) {
  const Column& time = table.column_at(time_column(table));
  const auto times = time.datetimes();
  bool sorted = !time.has_missing();
  for (std::size_t i = 1; sorted && i < times.size(); ++i) sorted = times[i - 1] <= times[i];
  if (!sorted) table.sort_by("time_key");
}

// Keeps the rows within [start, end] compared at whole seconds (the bounds
// are written without their fraction) and without a missing cell.
void keep_window(Table& table, DateTime start, DateTime end) {
  using std::chrono::floor;
  using std::chrono::seconds;
  const DateTime from = floor<seconds>(start);
  const DateTime to = floor<seconds>(end);
  const Column& time = table.column_at(time_column(table));
  const auto times = time.datetimes();
  std::vector<std::uint8_t> keep(table.rows(), 1);
  for (const Column& column : table.column_list()) {
    if (!column.has_missing()) continue;
    for (std::size_t r = 0; r < keep.size(); ++r) keep[r] &= !column.missing(r);
  }
  for (std::size_t r = 0; r < keep.size(); ++r) keep[r] &= from <= times[r] && times[r] <= to;
  table.keep_rows(keep);
  table.renumber();
}

DateTime shifted_start(const Security& security, DateTime start) {
  const auto conventions = framework::zantrix_config().BAR_CONVENTION();
  const auto it = conventions.find(security.code());
  if (it == conventions.end() || it->second != "start") return start;
  const std::int64_t step = framework::zantrix_config().TIME_STEP();
  return start - std::chrono::minutes(step / 60 / 1000);
}

Table load_intraday(const Security& security, DateTime start, DateTime end, std::string_view dtype,
                    const DataOptions& options) {
  const std::vector<std::string> names = files_in_range(security, start, end, dtype, options);
  // Each file is read from the directory its name was listed in.
  Table table = read_files(_get_data_path(security, dtype, options), names);
  if (table.empty()) {
    throw ValueError("There is no historical data for " + security.code() +
                     " within time range: [" + framework::format_datetime(start) + " - " +
                     framework::format_datetime(end) + "]!");
  }
  sort_by_time(table);
  keep_window(table, shifted_start(security, start), end);
  return table;
}

Table load_daily(const Security& security, std::string_view dtype) {
  return read_files(_get_data_path(security, dtype, {{"interval", "1day"}}), {"ohlcv.csv"});
}

std::string describe_row(const Table& table, std::size_t row) {
  const Column& time = table.column("time_key");
  const Column& ticker = table.column("ticker");
  const std::string when =
      time.missing(row) ? "<missing time>" : framework::format_datetime(time.datetimes()[row]);
  const std::string contract = ticker.missing(row) ? std::string("<missing ticker>") : std::string(ticker.texts()[row]);
  return when + " (" + contract + ")";
}

}  // namespace

void adjust_rolls(Table& table) {
  const auto ticker_index = table.column_index("ticker");
  if (!ticker_index || table.rows() < 2) return;
  const Column& ticker = table.column_at(*ticker_index);
  const auto same_ticker = [&](std::size_t a, std::size_t b) {
    if (ticker.missing(a) || ticker.missing(b)) return false;  // a missing ticker matches none
    if (ticker.kind() == framework::ColumnKind::Text) return ticker.texts()[a] == ticker.texts()[b];
    return ticker.number_at(a) == ticker.number_at(b);
  };

  // A roll is a pair (last row of the old contract, first row of the new).
  const Column& close = table.column("close");
  std::vector<std::size_t> roll_rows;
  std::vector<double> factors;
  for (std::size_t i = 1; i < table.rows(); ++i) {
    if (same_ticker(i - 1, i)) continue;
    roll_rows.push_back(i - 1);
    roll_rows.push_back(i);
  }
  if (roll_rows.size() % 2 != 0) {
    throw framework::AssertionError("roll records should be an even number");
  }
  for (std::size_t k = 0; k < roll_rows.size(); k += 2) {
    const double old_close = close.number_at(roll_rows[k]);
    const double new_close = close.number_at(roll_rows[k + 1]);
    if (!std::isfinite(old_close) || !std::isfinite(new_close) || old_close == 0 ||
        new_close == 0) {
      throw ValueError("cannot back-adjust the roll from " + describe_row(table, roll_rows[k]) +
                       " to " + describe_row(table, roll_rows[k + 1]) +
                       ": a close is missing or zero");
    }
    factors.push_back(new_close / old_close);
  }
  if (factors.empty()) return;

  // Row r takes the factor of every roll whose old row is at or after r, in
  // roll order.
  for (const char* name : {"open", "high", "low", "close"}) {
    std::vector<double>& values = table.column(name).numbers_mut();
    std::size_t first_roll = 0;
    for (std::size_t r = 0; r < values.size() && first_roll < factors.size(); ++r) {
      while (first_roll < factors.size() && roll_rows[2 * first_roll] < r) ++first_roll;
      double v = values[r];
      for (std::size_t k = first_roll; k < factors.size(); ++k) v *= factors[k];
      values[r] = v;
    }
  }
}

Table _get_data(const Security& security, DateTime start, DateTime end, std::string_view dtype,
                const std::optional<std::vector<std::string>>& /*dfield*/,
                const DataOptions& options) {
  const auto it = options.find("interval");
  const std::string interval = it == options.end() ? "" : it->second;
  Table table;
  if (!interval.empty() && interval.find("min") != std::string::npos) {
    table = load_intraday(security, start, end, dtype, options);
  } else if (interval == "1day") {
    table = load_daily(security, dtype);
  } else {
    throw ValueError("interval " + interval +
                     " is not supported for loading history: use <n>min or 1day");
  }
  adjust_rolls(table);
  return table;
}

}  // namespace zantrix::core
