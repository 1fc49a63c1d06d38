// The performance report: analyse takes pandas Series of values indexed by
// time, round_trips takes Deals, and a Report renders as the tear-sheet page,
// as text, or as the CSV tables behind its charts. The work is done with the
// interpreter lock released.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/deal.h"
#include "zantrix/plugins/analysis/report/report.h"

namespace zantrix::python {
namespace {

namespace report = plugins::analysis::report;
using Floats = py::array_t<double, py::array::c_style | py::array::forcecast>;

bool is_series(py::handle value) {
  return py::isinstance(value, py::module_::import("pandas").attr("Series"));
}

// The times of a Series' DatetimeIndex, to the microsecond.
std::vector<framework::DateTime> times_of(py::handle series, const char* argument) {
  const py::object index = series.attr("index");
  if (!py::isinstance(index, py::module_::import("pandas").attr("DatetimeIndex"))) {
    raise_type_error(argument, "a pandas.Series indexed by a DatetimeIndex", series);
  }
  const auto nanoseconds = index.attr("asi8").cast<py::array_t<std::int64_t>>();
  std::vector<framework::DateTime> out;
  out.reserve(static_cast<std::size_t>(nanoseconds.size()));
  for (const std::int64_t ns : std::span(nanoseconds.data(), static_cast<std::size_t>(nanoseconds.size()))) {
    out.emplace_back(std::chrono::microseconds(ns / 1000));
  }
  return out;
}

std::vector<double> numbers_of(py::handle series, const char* argument) {
  const Floats floats = Floats::ensure(series.attr("to_numpy")());
  if (!floats || floats.ndim() != 1) raise_type_error(argument, "a Series of numbers", series);
  return {floats.data(), floats.data() + floats.size()};
}

}  // namespace

void bind_report(py::module_& module) {
  py::class_<report::Performance>(module, "Performance",
                                  "The performance of a run of portfolio values, as analyse made it.")
      .def_readonly("total_return", &report::Performance::total_return)
      .def_readonly("annualised_return", &report::Performance::annualised_return)
      .def_readonly("volatility", &report::Performance::volatility)
      .def_readonly("sharpe", &report::Performance::sharpe)
      .def_readonly("information_ratio", &report::Performance::information_ratio)
      .def_readonly("m2", &report::Performance::m2)
      .def_readonly("benchmark_total_return", &report::Performance::benchmark_total_return)
      .def_readonly("worst_rolling_max_drawdown", &report::Performance::worst_rolling_max_drawdown)
      .def_readonly("return_p5", &report::Performance::return_p5)
      .def_readonly("return_p95", &report::Performance::return_p95);

  module.def(
      "analyse",
      [](py::handle values, py::handle benchmark, int days, std::int64_t window) {
        if (!is_series(values)) raise_type_error("values", "a pandas.Series", values);
        report::PerformanceInput input{.times = times_of(values, "values"),
                                       .values = numbers_of(values, "values"),
                                       .benchmark = {},
                                       .days = days,
                                       .window = window};
        if (!benchmark.is_none()) {
          if (!is_series(benchmark)) {
            raise_type_error("benchmark", "a pandas.Series or None", benchmark);
          }
          input.benchmark = numbers_of(benchmark, "benchmark");
        }
        const py::gil_scoped_release released;
        return report::analyse(std::move(input));
      },
      "The performance of portfolio values (a Series indexed by time) against an optional "
      "benchmark of the same length, `days` periods a year, rolling over `window` periods.",
      py::arg("values"), py::arg("benchmark") = py::none(), py::arg("days") = 252,
      py::arg("window") = 252);

  py::class_<report::RoundTrip>(module, "RoundTrip",
                                "One trade, from the deal that opens a position to the one "
                                "that closes it.")
      .def_readonly("instrument", &report::RoundTrip::instrument)
      .def_readonly("direction", &report::RoundTrip::direction)
      .def_readonly("quantity", &report::RoundTrip::quantity)
      .def_property_readonly("entry_time",
                             [](const report::RoundTrip& t) { return datetime_to_py(t.entry_time); })
      .def_readonly("entry_price", &report::RoundTrip::entry_price)
      .def_property_readonly("exit_time",
                             [](const report::RoundTrip& t) -> py::object {
                               return t.exit_time ? datetime_to_py(*t.exit_time) : py::none();
                             })
      .def_readonly("exit_price", &report::RoundTrip::exit_price)
      .def_readonly("holding_minutes", &report::RoundTrip::holding_minutes)
      .def_readonly("pnl", &report::RoundTrip::pnl);

  module.def(
      "round_trips",
      [](const std::vector<framework::Deal>& deals,
         const std::optional<std::map<std::string, double>>& point_values) {
        const py::gil_scoped_release released;
        return report::round_trips(deals, point_values.value_or(std::map<std::string, double>{}));
      },
      "The round trips of the deals, taken in order; P&L in money with each security code's "
      "point value (1 when absent).",
      py::arg("deals"), py::arg("point_values") = py::none());

  py::class_<report::InstrumentFees>(module, "InstrumentFees",
                                     "The fees a run of deals paid in one instrument.")
      .def(py::init([](std::string instrument, std::size_t fills, double quantity, double fees) {
             return report::InstrumentFees{std::move(instrument), fills, quantity, fees};
           }),
           py::arg("instrument"), py::arg("fills"), py::arg("quantity"), py::arg("fees"))
      .def_readonly("instrument", &report::InstrumentFees::instrument)
      .def_readonly("fills", &report::InstrumentFees::fills)
      .def_readonly("quantity", &report::InstrumentFees::quantity)
      .def_readonly("fees", &report::InstrumentFees::fees);

  py::class_<report::Trading>(module, "Trading", "The round trips and fees of a trading run.")
      .def(py::init([](std::vector<report::RoundTrip> trips, std::vector<report::InstrumentFees> fees) {
             return report::Trading{std::move(trips), std::move(fees)};
           }),
           py::arg("trips"), py::arg("fees") = std::vector<report::InstrumentFees>{})
      .def_readonly("trips", &report::Trading::trips)
      .def_readonly("fees", &report::Trading::fees);

  py::class_<report::Report>(module, "Report", "A performance report: its title, figures and facts.")
      .def(py::init([](std::string title, report::Performance performance,
                       std::vector<std::pair<std::string, std::string>> facts,
                       std::optional<report::Trading> trading) {
             return report::Report{std::move(title), std::move(performance), std::move(facts),
                                   std::move(trading)};
           }),
           py::arg("title"), py::arg("performance"),
           py::arg("facts") = std::vector<std::pair<std::string, std::string>>{},
           py::arg("trading") = py::none())
      .def_readonly("title", &report::Report::title)
      .def_readonly("performance", &report::Report::performance)
      .def_readonly("facts", &report::Report::facts)
      .def_readonly("trading", &report::Report::trading);

  module.def(
      "render_html",
      [](const report::Report& page) {
        const py::gil_scoped_release released;
        return report::render_html(page);
      },
      "The report as one self-contained HTML page, the tear sheet.", py::arg("report"));
  module.def(
      "render_text",
      [](const report::Report& page) {
        const py::gil_scoped_release released;
        return report::render_text(page);
      },
      "The report's facts and figures as aligned text lines.", py::arg("report"));
  module.def(
      "write_csv",
      [](const report::Report& page, py::handle dir) {
        const std::filesystem::path folder =
            py::module_::import("os").attr("fspath")(dir).cast<std::string>();
        const py::gil_scoped_release released;
        report::write_csv(page, folder);
      },
      "Writes the tables behind the report's charts as CSV files into the folder.",
      py::arg("report"), py::arg("dir"));
}

}  // namespace zantrix::python
