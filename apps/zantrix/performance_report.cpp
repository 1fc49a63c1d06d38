#include "apps/zantrix/performance_report.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::app {

namespace analysis = plugins::analysis;
using framework::ValueError;

namespace {

std::vector<double> returns_of(const std::vector<double>& values) {
  std::vector<double> out;
  out.reserve(values.size());
  for (std::size_t i = 1; i < values.size(); ++i) out.push_back(values[i] / values[i - 1] - 1.0);
  return out;
}

std::string fixed(double v, int digits) {
  if (std::isnan(v)) return "n/a";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

std::string percent(double v) {
  return std::isnan(v) ? "n/a" : fixed(100 * v, 2) + "%";
}

std::string html_escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One SVG chart of one or two lines over the same x positions.
std::string svg_chart(const std::vector<std::vector<double>>& lines,
                      const std::vector<std::string>& colours, bool fill_to_zero) {
  constexpr double kWidth = 900, kHeight = 260, kPad = 40;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  std::size_t n = 0;
  for (const auto& line : lines) {
    n = std::max(n, line.size());
    for (const double v : line) {
      if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
  }
  if (fill_to_zero) hi = std::max(hi, 0.0);
  if (!std::isfinite(lo)) lo = 0, hi = 1;
  if (hi == lo) hi = lo + 1;
  const auto x = [&](std::size_t i) {
    return kPad +
           (n > 1 ? (kWidth - 2 * kPad) * static_cast<double>(i) / static_cast<double>(n - 1) : 0);
  };
  const auto y = [&](double v) {
    return kHeight - kPad - (kHeight - 2 * kPad) * (v - lo) / (hi - lo);
  };
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 900 260\" width=\"900\" "
      "height=\"260\">";
  svg += "<rect width=\"900\" height=\"260\" fill=\"#fff\" stroke=\"#ccc\"/>";
  for (const double v : {lo, hi}) {
    svg += "<text x=\"4\" y=\"" + fixed(y(v) + 4, 1) + "\" font-size=\"11\">" + fixed(v, 4) +
           "</text>";
  }
  for (std::size_t l = 0; l < lines.size(); ++l) {
    std::string points;
    for (std::size_t i = 0; i < lines[l].size(); ++i) {
      if (!std::isfinite(lines[l][i])) continue;
      points += fixed(x(i), 1) + "," + fixed(y(lines[l][i]), 1) + " ";
    }
    if (fill_to_zero && !lines[l].empty()) {
      points += fixed(x(lines[l].size() - 1), 1) + "," + fixed(y(0), 1) + " " + fixed(x(0), 1) +
                "," + fixed(y(0), 1);
      svg += "<polygon fill=\"" + colours[l] + "\" fill-opacity=\"0.35\" stroke=\"" + colours[l] +
             "\" points=\"" + points + "\"/>";
    } else {
      svg += "<polyline fill=\"none\" stroke-width=\"1.5\" stroke=\"" + colours[l] +
             "\" points=\"" + points + "\"/>";
    }
  }
  return svg + "</svg>";
}

}  // namespace

PerformanceReport analyse(PerformanceInput input) {
  const auto& values = input.values;
  if (values.size() < 2) throw ValueError("at least two portfolio values are needed");
  if (input.times.size() != values.size()) {
    throw ValueError("portfolio values and times differ in length");
  }
  for (const double v : values) {
    if (!(v > 0) || !std::isfinite(v)) {
      throw ValueError("portfolio value " + framework::format_number(v) +
                       " is not a positive number");
    }
  }
  if (!input.benchmark.empty() && input.benchmark.size() != values.size()) {
    throw ValueError("the benchmark has " + std::to_string(input.benchmark.size()) +
                     " values, the portfolio " + std::to_string(values.size()));
  }
  PerformanceReport report;
  const auto returns = returns_of(values);
  report.total_return = values.back() / values.front() - 1.0;
  report.sharpe = analysis::sharpe_ratio(returns, input.days);
  report.information_ratio = std::numeric_limits<double>::quiet_NaN();
  report.m2 = std::numeric_limits<double>::quiet_NaN();
  if (!input.benchmark.empty()) {
    const auto bench = returns_of(input.benchmark);
    report.information_ratio = analysis::information_ratio(returns, bench, input.days);
    report.m2 = analysis::modigliani_ratio(returns, bench, input.days);
  }
  const auto drawdown = analysis::rolling_maximum_drawdown(values, input.window);
  report.drawdown.assign(drawdown.values().begin(), drawdown.values().end());
  report.worst_drawdown = *std::min_element(report.drawdown.begin(), report.drawdown.end());
  report.input = std::move(input);
  return report;
}

std::string render_table(const PerformanceReport& r) {
  std::vector<std::pair<std::string, std::string>> rows = r.facts;
  rows.emplace_back("period", framework::format_datetime(r.input.times.front()) + " - " +
                                  framework::format_datetime(r.input.times.back()));
  rows.emplace_back("values", std::to_string(r.input.values.size()));
  rows.emplace_back("start value", fixed(r.input.values.front(), 2));
  rows.emplace_back("end value", fixed(r.input.values.back(), 2));
  rows.emplace_back("total return", percent(r.total_return));
  rows.emplace_back("Sharpe ratio", fixed(r.sharpe, 4));
  rows.emplace_back("information ratio", fixed(r.information_ratio, 4));
  rows.emplace_back("M2", fixed(r.m2, 6));
  rows.emplace_back("worst rolling max drawdown", percent(r.worst_drawdown));
  std::size_t width = 0;
  for (const auto& [label, value] : rows) width = std::max(width, label.size());
  std::string out;
  for (const auto& [label, value] : rows) {
    out += label + std::string(width - label.size() + 2, ' ') + value + "\n";
  }
  return out;
}

std::string render_html(const PerformanceReport& r, const std::string& title) {
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     html_escape(title) +
                     "</title><style>body{font-family:sans-serif;margin:2em}"
                     "td{padding:2px 12px}h2{font-size:1.1em}</style></head><body>\n<h1>" +
                     html_escape(title) + "</h1>\n<table>";
  const std::string table = render_table(r);
  std::size_t start = 0;
  while (start < table.size()) {
    const std::size_t end = table.find('\n', start);
    const std::string line = table.substr(start, end - start);
    const std::size_t gap = line.find("  ");
    html += "<tr><td>" + html_escape(line.substr(0, gap)) + "</td><td>" +
            html_escape(line.substr(line.find_first_not_of(' ', gap))) + "</td></tr>";
    start = end + 1;
  }
  html += "</table>\n<h2>Equity";
  std::vector<std::vector<double>> lines{r.input.values};
  if (!r.input.benchmark.empty()) {
    // The benchmark is scaled to start where the portfolio starts.
    std::vector<double> scaled;
    for (const double b : r.input.benchmark) {
      scaled.push_back(b / r.input.benchmark.front() * r.input.values.front());
    }
    lines.push_back(std::move(scaled));
    html += " (blue) and benchmark (grey)";
  }
  html += "</h2>\n" + svg_chart(lines, {"#1f5fbf", "#888888"}, false);
  html += "\n<h2>Rolling maximum drawdown</h2>\n" + svg_chart({r.drawdown}, {"#c0392b"}, true);
  return html + "\n</body></html>\n";
}

}  // namespace zantrix::app
