// The report's charts as inline SVG: lines over dated periods, an area filled
// down to zero, shaded bands and numbered marks, and a histogram. Every chart
// draws its data as <path> elements on a grid of round-valued gridlines, with
// a legend and labelled axes, and is a well-formed XML fragment that needs
// neither script nor any outside resource. Texts are escaped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "zantrix/plugins/analysis/report/time_axis.h"

namespace zantrix::plugins::analysis::report {

enum class Scale {
  kNumber,   // 1.25
  kPercent,  // values are fractions: 0.0125 shows as 1.25%
};

struct ChartLine {
  std::vector<double> y;  // one per period; NaN leaves a gap
  std::string colour;
  std::string label;  // in the legend
  bool area = false;  // filled down to zero
};

// A shaded run of periods, labelled at its top.
struct ChartBand {
  std::size_t from;
  std::size_t to;
  std::string label;
};

// A numbered dot at one period's value.
struct ChartMark {
  std::size_t index;
  double y;
  std::string label;
};

struct LineChart {
  std::string title = {};  // read out by assistive technology
  double width = 960;
  double height = 300;
  std::size_t periods = 0;
  std::vector<TimeTick> ticks = {};
  std::vector<ChartLine> lines = {};
  std::vector<ChartBand> bands = {};
  std::vector<ChartMark> marks = {};
  Scale scale = Scale::kNumber;
  std::optional<double> reference = {};  // a stronger horizontal line (0, 1)
};

struct Histogram {
  std::string title = {};
  double width = 470;
  double height = 280;
  std::vector<double> values = {};  // NaN values are left out
  std::string colour = {};
  Scale scale = Scale::kPercent;
  // Vertical marks: (value, label).
  std::vector<std::pair<double, std::string>> marks = {};
};

std::string render_chart(const LineChart& chart);
std::string render_histogram(const Histogram& histogram);

// Round-valued ticks covering [lo, hi], about `target` of them; the first and
// the last enclose the range.
std::vector<double> nice_ticks(double lo, double hi, int target);

// A value as an axis shows it, with the decimals its step needs and a true
// minus sign ("−2.5%", "1.05").
std::string axis_label(double value, double step, Scale scale);

// Escapes text for an XML or HTML text node or attribute value.
std::string escape_markup(const std::string& text);

}  // namespace zantrix::plugins::analysis::report
