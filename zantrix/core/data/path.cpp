#include "zantrix/core/data/path.h"

#include <algorithm>
#include <filesystem>

#include "zantrix/framework/config.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/framework/utility.h"

namespace zantrix::core {

using framework::FileNotFoundError;
using framework::KeyError;
using framework::ValueError;

namespace {

std::string remove_all(std::string_view text, std::string_view unit) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t hit = text.find(unit, pos);
    out.append(text.substr(pos, hit - pos));
    if (hit == std::string_view::npos) break;
    pos = hit + unit.size();
  }
  return out;
}

// The number of an interval text times the unit's seconds.
std::int64_t seconds_of(const std::string& number, std::int64_t unit) {
  const auto value = framework::parse_integer_text(number);
  if (!value) throw ValueError("invalid literal for int() with base 10: '" + number + "'");
  std::int64_t seconds;
  if (__builtin_mul_overflow(*value, unit, &seconds)) {
    throw ValueError("interval of " + number + " units is too long");
  }
  return seconds;
}

std::string base_directory(std::string_view dtype) {
  const auto paths = framework::zantrix_config().DATA_PATH();
  const auto it = paths.find(std::string(dtype));
  if (it == paths.end()) throw KeyError("'" + std::string(dtype) + "'");
  return it->second;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace

std::int64_t interval_seconds(std::string_view interval) {
  if (contains(interval, "min")) return seconds_of(remove_all(interval, "min"), 60);
  if (contains(interval, "hour")) return seconds_of(remove_all(interval, "hour"), 3600);
  if (contains(interval, "day")) return seconds_of(remove_all(interval, "day"), 3600 * 24);
  throw ValueError("interval " + std::string(interval) + " is NOT valid!");
}

std::string _get_data_path(const Security& security, std::string_view dtype,
                           const DataOptions& options) {
  if (dtype != "kline") return base_directory(dtype) + "/" + security.code();
  std::int64_t seconds;
  if (const auto it = options.find("interval"); it != options.end()) {
    seconds = interval_seconds(it->second);
  } else {
    const std::int64_t step = framework::zantrix_config().TIME_STEP();
    seconds = step / 1000 - (step % 1000 < 0 ? 1 : 0);  // towards minus infinity
  }
  return base_directory("kline") + "/" + framework::get_kline_dfield_from_seconds(seconds) + "/" +
         security.code();
}

std::vector<std::string> _get_data_files(const Security& security, std::string_view dtype,
                                         const DataOptions& options) {
  const std::string path = _get_data_path(security, dtype, options);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    throw FileNotFoundError("Data was NOT found in " + path + "!");
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    std::string name = entry.path().filename().string();
    if (contains(name, ".csv")) names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> _load_historical_bars_in_reverse(const Security& security,
                                                          framework::DateTime cur_datetime,
                                                          std::string_view interval) {
  const std::string path = _get_data_path(security, "kline", {{"interval", std::string(interval)}});
  const framework::Date last_day = framework::date_of(cur_datetime);
  std::vector<std::string> kept;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    std::string name = entry.path().filename().string();
    if (!contains(name, ".csv")) continue;
    if (contains(name, "_")) {
      kept.push_back(std::move(name));
      continue;
    }
    framework::Date day;
    if (name.size() != 14 || !name.ends_with(".csv") ||
        !framework::try_parse_date(std::string_view(name).substr(0, 10), day)) {
      throw ValueError("time data '" + name + "' does not match format '%Y-%m-%d.csv'");
    }
    if (day <= last_day) kept.push_back(std::move(name));
  }
  std::sort(kept.begin(), kept.end(), std::greater<>());
  return kept;
}

}  // namespace zantrix::core
