#include "zantrix/plugins/analysis/report/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

namespace zantrix::plugins::analysis::report {

namespace {

constexpr double kLeft = 64, kRight = 18, kTop = 34, kBottom = 30;
constexpr const char* kMinus = "\u2212";

std::string num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// The plot area and the mapping of periods and values onto it.
struct Frame {
  double width, height;
  double x0, x1, y0, y1;  // plot edges: y0 at the top
  double lo, hi;          // value range, bottom to top
  std::size_t periods;

  double x(double i) const {
    return periods > 1 ? x0 + (x1 - x0) * i / static_cast<double>(periods - 1) : (x0 + x1) / 2;
  }
  double y(double v) const { return y1 - (y1 - y0) * (v - lo) / (hi - lo); }
};

std::string open_svg(const std::string& title, double width, double height) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" role=\"img\" viewBox=\"0 0 " +
         num(width) + " " + num(height) + "\" aria-label=\"" + escape_markup(title) + "\"><title>" +
         escape_markup(title) + "</title>";
}

std::string text(double x, double y, const std::string& content, const char* anchor,
                 const char* cls = "tick") {
  return "<text class=\"" + std::string(cls) + "\" x=\"" + num(x) + "\" y=\"" + num(y) +
         "\" text-anchor=\"" + anchor + "\">" + escape_markup(content) + "</text>";
}

// Horizontal gridlines at round values, labelled on the left.
std::string y_grid(const Frame& f, const std::vector<double>& ticks, Scale scale) {
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  std::string svg;
  for (const double v : ticks) {
    const double y = f.y(v);
    svg += "<path class=\"grid\" d=\"M" + num(f.x0) + " " + num(y) + "H" + num(f.x1) + "\"/>";
    svg += text(f.x0 - 8, y + 4, axis_label(v, step, scale), "end");
  }
  return svg;
}

std::string legend(const std::vector<std::pair<std::string, std::string>>& entries, double x0) {
  std::string svg;
  double x = x0;
  for (const auto& [colour, label] : entries) {
    if (label.empty()) continue;
    svg += "<path d=\"M" + num(x) + " 16h18\" stroke=\"" + colour +
           "\" stroke-width=\"3\" stroke-linecap=\"round\"/>";
    svg += text(x + 24, 20, label, "start", "legend");
    // Room for the label at the larger size a small screen gives it.
    x += 24 + 9.5 * static_cast<double>(label.size()) + 22;
  }
  return svg;
}

// The points worth drawing: every value while there are few per unit of
// width, else the first, lowest, highest and last value of each unit, in
// order, so that a long series keeps its shape at a size that does not
// grow with it. A NaN marks a gap.
std::vector<std::pair<std::size_t, double>> drawn_points(const Frame& f,
                                                         const std::vector<double>& y) {
  std::vector<std::pair<std::size_t, double>> points;
  const auto columns = static_cast<std::size_t>(std::max(1.0, f.x1 - f.x0));
  if (y.size() <= 2 * columns) {
    for (std::size_t i = 0; i < y.size(); ++i) points.emplace_back(i, y[i]);
    return points;
  }
  const auto flush = [&](std::vector<std::size_t>& keep) {
    std::sort(keep.begin(), keep.end());
    keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
    for (const std::size_t k : keep) points.emplace_back(k, y[k]);
    keep.clear();
  };
  std::vector<std::size_t> keep;  // first, lowest, highest, last
  for (std::size_t c = 0; c < columns; ++c) {
    for (std::size_t i = y.size() * c / columns; i < y.size() * (c + 1) / columns; ++i) {
      if (!std::isfinite(y[i])) {
        flush(keep);
        points.emplace_back(i, y[i]);
      } else if (keep.empty()) {
        keep = {i, i, i, i};
      } else {
        if (y[i] < y[keep[1]]) keep[1] = i;
        if (y[i] > y[keep[2]]) keep[2] = i;
        keep[3] = i;
      }
    }
    flush(keep);
  }
  return points;
}

// "M x y L x y ..." over the finite values, a new move after each gap.
std::string line_path(const Frame& f, const std::vector<double>& y) {
  std::string d;
  bool drawing = false;
  for (const auto& [i, v] : drawn_points(f, y)) {
    if (!std::isfinite(v)) {
      drawing = false;
      continue;
    }
    d += (drawing ? "L" : "M") + num(f.x(static_cast<double>(i))) + " " + num(f.y(v));
    drawing = true;
  }
  return d;
}

// The finite values, closed down to zero at both ends.
std::string area_path(const Frame& f, const std::vector<double>& y) {
  std::string d;
  std::size_t last = 0;
  for (const auto& [i, v] : drawn_points(f, y)) {
    if (!std::isfinite(v)) continue;
    if (d.empty()) d = "M" + num(f.x(static_cast<double>(i))) + " " + num(f.y(0));
    d += "L" + num(f.x(static_cast<double>(i))) + " " + num(f.y(v));
    last = i;
  }
  if (d.empty()) return d;
  return d + "L" + num(f.x(static_cast<double>(last))) + " " + num(f.y(0)) + "Z";
}

int decimals_of(double step) {
  for (int d = 0; d < 6; ++d) {
    const double scaled = step * std::pow(10.0, d);
    if (std::abs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, scaled)) return d;
  }
  return 6;
}

}  // namespace

std::string escape_markup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
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
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<double> nice_ticks(double lo, double hi, int target) {
  if (!(hi > lo)) {
    const double pad = lo == 0 ? 1 : std::abs(lo) * 0.05;
    lo -= pad, hi += pad;
  }
  const double raw = (hi - lo) / std::max(1, target);
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  const double step = magnitude * (norm <= 1     ? 1
                                   : norm <= 2   ? 2
                                   : norm <= 2.5 ? 2.5
                                   : norm <= 5   ? 5
                                                 : 10);
  std::vector<double> ticks;
  const double first = std::floor(lo / step + 1e-9);
  const double last = std::ceil(hi / step - 1e-9);
  for (double k = first; k <= last; ++k) ticks.push_back(k * step == 0 ? 0.0 : k * step);
  return ticks;
}

std::string axis_label(double value, double step, Scale scale) {
  const double shown = scale == Scale::kPercent ? value * 100 : value;
  const int decimals = decimals_of(scale == Scale::kPercent ? step * 100 : step);
  char digits[48];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, std::abs(shown));
  std::string out = (shown < 0 && std::string(digits).find_first_not_of("0.") != std::string::npos)
                        ? std::string(kMinus) + digits
                        : std::string(digits);
  return scale == Scale::kPercent ? out + "%" : out;
}

std::string render_chart(const LineChart& chart) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const auto& line : chart.lines) {
    for (const double v : line.y) {
      if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
    if (line.area) lo = std::min(lo, 0.0), hi = std::max(hi, 0.0);
  }
  if (!std::isfinite(lo)) lo = 0, hi = 1;
  // A little room beyond the data, except at zero, where an area ends.
  const double room = hi > lo ? 0.03 * (hi - lo) : std::max(0.01, 0.01 * std::abs(lo));
  if (lo != 0 || hi == 0) lo -= room;
  if (hi != 0) hi += room;
  if (chart.reference) lo = std::min(lo, *chart.reference), hi = std::max(hi, *chart.reference);
  const auto ticks = nice_ticks(lo, hi, chart.height >= 280 ? 6 : 5);
  Frame f{.width = chart.width,
          .height = chart.height,
          .x0 = kLeft,
          .x1 = chart.width - kRight,
          .y0 = kTop,
          .y1 = chart.height - kBottom,
          .lo = ticks.front(),
          .hi = ticks.back(),
          .periods = chart.periods};

  std::string svg = open_svg(chart.title, chart.width, chart.height);
  for (const auto& band : chart.bands) {
    const double a = f.x(static_cast<double>(band.from)), b = f.x(static_cast<double>(band.to));
    svg += "<rect class=\"band\" x=\"" + num(a) + "\" y=\"" + num(f.y0) + "\" width=\"" +
           num(std::max(b - a, 1.5)) + "\" height=\"" + num(f.y1 - f.y0) + "\"/>";
    svg += text((a + b) / 2, f.y0 + 12, band.label, "middle", "band-label");
  }
  svg += y_grid(f, ticks, chart.scale);
  for (const auto& tick : chart.ticks) {
    const double x = f.x(static_cast<double>(tick.index));
    svg += "<path class=\"grid\" d=\"M" + num(x) + " " + num(f.y0) + "V" + num(f.y1) + "\"/>";
    svg += "<path class=\"axis\" d=\"M" + num(x) + " " + num(f.y1) + "v5\"/>";
    svg += text(x, f.y1 + 18, tick.label, "middle");
  }
  svg += "<path class=\"axis\" d=\"M" + num(f.x0) + " " + num(f.y1) + "H" + num(f.x1) + "\"/>";
  if (chart.reference) {
    svg += "<path class=\"reference\" d=\"M" + num(f.x0) + " " + num(f.y(*chart.reference)) + "H" +
           num(f.x1) + "\"/>";
  }
  std::vector<std::pair<std::string, std::string>> entries;
  for (const auto& line : chart.lines) entries.emplace_back(line.colour, line.label);
  // The first line listed is drawn last, on top of the others.
  for (auto it = chart.lines.rbegin(); it != chart.lines.rend(); ++it) {
    const ChartLine& line = *it;
    if (line.area) {
      svg += "<path d=\"" + area_path(f, line.y) + "\" fill=\"" + line.colour +
             "\" fill-opacity=\"0.22\" stroke=\"none\"/>";
    }
    svg +=
        "<path class=\"line\" d=\"" + line_path(f, line.y) + "\" stroke=\"" + line.colour + "\"/>";
  }
  for (const auto& mark : chart.marks) {
    const double x = f.x(static_cast<double>(mark.index)), y = f.y(mark.y);
    svg += "<circle class=\"mark\" cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"8\"/>";
    svg += text(x, y + 4, mark.label, "middle", "mark-label");
  }
  return svg + legend(entries, f.x0) + "</svg>";
}

std::string render_histogram(const Histogram& h) {
  std::vector<double> values;
  for (const double v : h.values) {
    if (std::isfinite(v)) values.push_back(v);
  }
  std::string svg = open_svg(h.title, h.width, h.height);
  if (values.empty()) return svg + "</svg>";
  double lo = *std::min_element(values.begin(), values.end());
  double hi = *std::max_element(values.begin(), values.end());
  for (const auto& [v, label] : h.marks) lo = std::min(lo, v), hi = std::max(hi, v);
  const auto x_ticks = nice_ticks(lo, hi, 5);
  lo = x_ticks.front(), hi = x_ticks.back();
  const auto bins = static_cast<std::size_t>(
      std::clamp(std::lround(std::sqrt(static_cast<double>(values.size())) * 1.5), 8L, 40L));
  std::vector<double> counts(bins, 0);
  for (const double v : values) {
    const auto b = static_cast<std::size_t>((v - lo) / (hi - lo) * static_cast<double>(bins));
    counts[std::min(b, bins - 1)] += 1;
  }
  // Counts are whole: at least 4 on the axis keeps its step at 1 or more.
  const auto y_ticks =
      nice_ticks(0, std::max(4.0, 1.08 * *std::max_element(counts.begin(), counts.end())), 4);
  Frame f{.width = h.width,
          .height = h.height,
          .x0 = kLeft,
          .x1 = h.width - kRight,
          .y0 = kTop,
          .y1 = h.height - kBottom,
          .lo = 0,
          .hi = y_ticks.back(),
          .periods = 0};
  const auto x_of = [&](double v) { return f.x0 + (f.x1 - f.x0) * (v - lo) / (hi - lo); };
  svg += y_grid(f, y_ticks, Scale::kNumber);
  const double x_step = x_ticks.size() > 1 ? x_ticks[1] - x_ticks[0] : 1;
  for (const double v : x_ticks) {
    svg += "<path class=\"axis\" d=\"M" + num(x_of(v)) + " " + num(f.y1) + "v5\"/>";
    svg += text(x_of(v), f.y1 + 18, axis_label(v, x_step, h.scale), "middle");
  }
  std::string bars;
  const double bin_width = (f.x1 - f.x0) / static_cast<double>(bins);
  for (std::size_t b = 0; b < bins; ++b) {
    if (counts[b] == 0) continue;
    const double x = f.x0 + bin_width * static_cast<double>(b);
    bars += "M" + num(x + 0.5) + " " + num(f.y1) + "V" + num(f.y(counts[b])) + "h" +
            num(bin_width - 1) + "V" + num(f.y1) + "Z";
  }
  svg += "<path d=\"" + bars + "\" fill=\"" + h.colour + "\" fill-opacity=\"0.75\"/>";
  svg += "<path class=\"axis\" d=\"M" + num(f.x0) + " " + num(f.y1) + "H" + num(f.x1) + "\"/>";
  // Mark labels sit above the plot, the first to the left of its line and
  // the second to the right, so that two close marks do not collide.
  for (std::size_t m = 0; m < h.marks.size(); ++m) {
    const auto& [v, label] = h.marks[m];
    const double x = x_of(v);
    svg +=
        "<path class=\"marker\" d=\"M" + num(x) + " " + num(f.y0 - 14) + "V" + num(f.y1) + "\"/>";
    // ... unless the label would leave the plot on that side.
    const double width = 9 * static_cast<double>(label.size());
    const bool left = m % 2 == 0 ? x - 4 - width >= f.x0 : x + 4 + width > f.x1;
    svg += text(x + (left ? -4 : 4), f.y0 - 6, label, left ? "end" : "start", "marker-label");
  }
  return svg + "</svg>";
}

}  // namespace zantrix::plugins::analysis::report
