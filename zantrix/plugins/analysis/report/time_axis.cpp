#include "zantrix/plugins/analysis/report/time_axis.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace zantrix::plugins::analysis::report {

namespace {

using namespace std::chrono;

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

enum class Kind { kHours, kDays, kWeeks, kMonths, kYears };

struct Unit {
  Kind kind;
  int step;  // of hours, months or years
};

// From the finest to the coarsest.
constexpr std::array<Unit, 14> kUnits = {{{Kind::kHours, 1},
                                          {Kind::kHours, 3},
                                          {Kind::kHours, 6},
                                          {Kind::kDays, 1},
                                          {Kind::kWeeks, 1},
                                          {Kind::kMonths, 1},
                                          {Kind::kMonths, 3},
                                          {Kind::kYears, 1},
                                          {Kind::kYears, 2},
                                          {Kind::kYears, 5},
                                          {Kind::kYears, 10},
                                          {Kind::kYears, 25},
                                          {Kind::kYears, 50},
                                          {Kind::kYears, 100}}};

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The unit `t` falls in, as a number that changes at each boundary.
std::int64_t bucket(framework::DateTime t, Unit unit) {
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const std::int64_t month =
      static_cast<int>(ymd.year()) * 12LL + static_cast<unsigned>(ymd.month()) - 1;
  switch (unit.kind) {
    case Kind::kHours:
      return floor_div(floor<hours>(t).time_since_epoch().count(), unit.step);
    case Kind::kDays:
      return day.time_since_epoch().count();
    case Kind::kWeeks:
      // 1970-01-01 was a Thursday: shifting by three days starts weeks on Monday.
      return floor_div(day.time_since_epoch().count() + 3, 7);
    case Kind::kMonths:
      return floor_div(month, unit.step);
    case Kind::kYears:
      return floor_div(static_cast<int>(ymd.year()), unit.step);
  }
  return 0;
}

std::vector<std::size_t> boundaries(std::span<const framework::DateTime> times, Unit unit) {
  std::vector<std::size_t> at;
  for (std::size_t i = 1; i < times.size(); ++i) {
    if (bucket(times[i], unit) != bucket(times[i - 1], unit)) at.push_back(i);
  }
  return at;
}

std::string label(framework::DateTime t, Kind kind, bool first) {
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const auto month = kMonths[static_cast<unsigned>(ymd.month()) - 1];
  const int year = static_cast<int>(ymd.year());
  char text[32];
  switch (kind) {
    case Kind::kHours: {
      const hh_mm_ss clock{floor<minutes>(t - day)};
      std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(clock.hours().count()),
                    static_cast<int>(clock.minutes().count()));
      break;
    }
    case Kind::kDays:
    case Kind::kWeeks:
      std::snprintf(text, sizeof text, "%u %s", static_cast<unsigned>(ymd.day()), month);
      break;
    case Kind::kMonths:
      if (first || ymd.month() == January) {
        std::snprintf(text, sizeof text, "%s %d", month, year);
      } else {
        std::snprintf(text, sizeof text, "%s", month);
      }
      break;
    case Kind::kYears:
      std::snprintf(text, sizeof text, "%d", year);
      break;
  }
  return text;
}

}  // namespace

std::string short_date(framework::DateTime t) {
  const year_month_day ymd{floor<days>(t)};
  char text[32];
  std::snprintf(text, sizeof text, "%u %s %d", static_cast<unsigned>(ymd.day()),
                kMonths[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()));
  return text;
}

std::vector<TimeTick> time_ticks(std::span<const framework::DateTime> times,
                                 std::size_t max_ticks) {
  if (times.empty()) return {};
  // A coarser unit's boundaries are among a finer one's: where both give the
  // same ticks, the coarser names them better (daily data ticks on days, not
  // on midnight hours).
  auto at = boundaries(times, kUnits[0]);
  for (std::size_t u = 0; u < kUnits.size() && !at.empty(); ++u) {
    auto coarser =
        u + 1 < kUnits.size() ? boundaries(times, kUnits[u + 1]) : std::vector<std::size_t>{};
    if (at.size() <= max_ticks && coarser.size() != at.size()) {
      std::vector<TimeTick> ticks;
      for (const std::size_t i : at) {
        ticks.push_back({i, label(times[i], kUnits[u].kind, ticks.empty())});
      }
      return ticks;
    }
    at = std::move(coarser);
  }
  return {{0, framework::format_datetime(floor<minutes>(times.front())).substr(0, 16)}};
}

}  // namespace zantrix::plugins::analysis::report
