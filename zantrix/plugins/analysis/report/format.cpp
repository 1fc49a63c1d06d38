#include "zantrix/plugins/analysis/report/format.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace zantrix::plugins::analysis::report {

namespace {

constexpr const char* kMinus = "\u2212";

}  // namespace

std::string fixed(double v, int digits) {
  if (std::isnan(v)) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

std::string percent(double v, int digits) {
  return std::isnan(v) ? "n/a" : fixed(100 * v, digits) + "%";
}

std::string money(double v) {
  if (std::isnan(v)) return "n/a";
  const std::string digits = fixed(std::abs(v), 2);
  const std::size_t point = digits.find('.');
  std::string grouped;
  for (std::size_t i = 0; i < point; ++i) {
    if (i > 0 && (point - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  grouped += digits.substr(point);
  return (v < 0 && grouped != "0.00" ? std::string(kMinus) : std::string()) + grouped;
}

std::string signed_percent(double v, int digits) {
  if (std::isnan(v)) return "n/a";
  const std::string magnitude = fixed(std::abs(100 * v), digits);
  if (magnitude.find_first_not_of("0.") == std::string::npos) return magnitude + "%";
  return (v < 0 ? std::string(kMinus) : std::string("+")) + magnitude + "%";
}

std::string time_text(framework::DateTime t) {
  using namespace std::chrono;
  const auto day = floor<days>(t);
  const auto clock = floor<seconds>(t) - day;
  const std::string text = framework::format_datetime(floor<seconds>(t));
  if (clock == seconds{0}) return text.substr(0, 10);
  if (clock % minutes{1} == seconds{0}) return text.substr(0, 16);
  return text;
}

std::string duration_text(double minutes) {
  if (std::isnan(minutes)) return "n/a";
  const long total = std::lround(minutes);
  char text[48];
  if (total < 60) {
    std::snprintf(text, sizeof text, "%ld min", total);
  } else if (total < 24 * 60) {
    std::snprintf(text, sizeof text, "%ld h %02ld min", total / 60, total % 60);
  } else if (total < 10 * 24 * 60) {
    std::snprintf(text, sizeof text, "%ld d %ld h", total / 1440, total % 1440 / 60);
  } else {
    std::snprintf(text, sizeof text, "%ld d", std::lround(minutes / 1440));
  }
  return text;
}

}  // namespace zantrix::plugins::analysis::report
