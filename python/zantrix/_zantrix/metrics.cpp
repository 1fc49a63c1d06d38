// The performance metrics over numpy arrays, pandas Series and sequences of
// numbers. The ratios read the values as plain arrays (population standard
// deviation, positions matched element by element) whatever type holds them;
// the rolling drawdown returns a Series named "pv" with the input Series'
// index (positions for anything else), sharing the memory of its result.
#include <pybind11/numpy.h>

#include <climits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/analysis/metrics.h"

namespace zantrix::python {
namespace {

namespace analysis = plugins::analysis;

using Floats = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The values as one contiguous float64 array: the caller's own memory when it
// already is one, else a converted copy.
Floats floats_arg(py::handle values, std::string_view argument) {
  Floats floats = Floats::ensure(values);
  if (!floats) raise_type_error(argument, "an array of numbers", values);
  if (floats.ndim() != 1) {
    throw framework::ValueError(std::string(argument) + " must be one-dimensional");
  }
  return floats;
}

std::span<const double> span_of(const Floats& floats) {
  return {floats.data(), static_cast<std::size_t>(floats.size())};
}

int days_arg(py::handle days) {
  const std::int64_t value = integer_arg(days, "days");
  if (value < INT_MIN || value > INT_MAX) throw py::value_error("days is out of range");
  return static_cast<int>(value);
}

std::string field_of(py::handle row, const char* name) {
  const py::object value =
      py::hasattr(row, name) ? py::object(row.attr(name)) : py::object(row[py::str(name)]);
  return text_arg(value, name);
}

}  // namespace

void bind_metrics(py::module_& module) {
  module.def(
      "convert_time",
      [](py::handle time_) { return analysis::convert_time(text_arg(time_, "time_")); },
      "The half hour a time of day falls in.", py::arg("time_"));

  module.def(
      "holding_period",
      [](py::handle time_) {
        return analysis::_holding_period(field_of(time_, "open_datetime"),
                                         field_of(time_, "close_datetime"));
      },
      "Minutes from open_datetime to close_datetime of a row.", py::arg("time_"));

  py::class_<analysis::Percentile>(module, "_Percentile")
      .def(py::init([](py::handle n) { return analysis::Percentile(number_arg(n, "n")); }),
           py::arg("n"))
      .def_property_readonly("n", &analysis::Percentile::n)
      .def_property_readonly("name", &analysis::Percentile::name)
      .def("__call__", [](const analysis::Percentile& percentile, py::handle x) {
        const Floats values = floats_arg(x, "x");
        return percentile(span_of(values));
      });

  module.def(
      "sharpe_ratio",
      [](py::handle returns, py::handle days) {
        const Floats r = floats_arg(returns, "returns");
        const int d = days_arg(days);
        py::gil_scoped_release unlocked;
        return analysis::sharpe_ratio(span_of(r), d);
      },
      py::arg("returns"), py::arg("days") = 252);

  module.def(
      "information_ratio",
      [](py::handle returns, py::handle benchmark_returns, py::handle days) {
        const Floats r = floats_arg(returns, "returns");
        const Floats b = floats_arg(benchmark_returns, "benchmark_returns");
        const int d = days_arg(days);
        py::gil_scoped_release unlocked;
        return analysis::information_ratio(span_of(r), span_of(b), d);
      },
      py::arg("returns"), py::arg("benchmark_returns"), py::arg("days") = 252);

  module.def(
      "modigliani_ratio",
      [](py::handle returns, py::handle benchmark_returns, py::handle days) {
        const Floats r = floats_arg(returns, "returns");
        const Floats b = floats_arg(benchmark_returns, "benchmark_returns");
        const double d = number_arg(days, "days");
        py::gil_scoped_release unlocked;
        return analysis::modigliani_ratio(span_of(r), span_of(b), d);
      },
      py::arg("returns"), py::arg("benchmark_returns"), py::arg("days") = 252);

  module.def(
      "rolling_maximum_drawdown",
      [](py::handle portfolio_value, py::handle window) {
        const py::module_ pandas = py::module_::import("pandas");
        const py::object index = py::isinstance(portfolio_value, pandas.attr("Series"))
                                     ? py::object(portfolio_value.attr("index"))
                                     : py::object(py::none());
        const Floats values = floats_arg(portfolio_value, "portfolio_value");
        const std::int64_t w = integer_arg(window, "window");
        framework::Series drawdown;
        {
          py::gil_scoped_release unlocked;
          drawdown = analysis::rolling_maximum_drawdown(span_of(values), w);
        }
        auto result = std::make_unique<std::vector<double>>(std::move(drawdown.values_mut()));
        const auto n = static_cast<py::ssize_t>(result->size());
        const double* data = result->data();
        const py::array_t<double> array(n, data, owner_capsule(std::move(result)));
        return pandas.attr("Series")(array, py::arg("index") = index,
                                     py::arg("name") = drawdown.name(), py::arg("copy") = false);
      },
      py::arg("portfolio_value"), py::arg("window") = 252);
}

}  // namespace zantrix::python
