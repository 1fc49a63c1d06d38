// The history functions: file location, loading into a DataFrame, replaying a
// DataFrame as records, the newest-first file list and the trading day.
// Loading and listing let other Python threads run meanwhile: the interpreter
// lock is released while files are read and parsed.
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "python/zantrix/_zantrix/frame.h"
#include "zantrix/core/data/history.h"
#include "zantrix/core/data/iterator.h"
#include "zantrix/core/data/path.h"
#include "zantrix/core/data/trading_day.h"

namespace zantrix::python {
namespace {

// The keyword options of the history functions. Only `interval` is read, so
// only it must be a text; options of other kinds are left out.
core::DataOptions options_from_py(const py::kwargs& options) {
  core::DataOptions out;
  for (const auto& [key, value] : options) {
    const std::string name = key.cast<std::string>();
    if (PyUnicode_Check(value.ptr())) {
      out.emplace(name, value.cast<std::string>());
    } else if (name == "interval") {
      raise_type_error("interval", "str", value);
    }
  }
  return out;
}

std::optional<std::vector<std::string>> dfield_from_py(py::handle dfield) {
  if (dfield.is_none()) return std::nullopt;
  if (!PyList_Check(dfield.ptr()) && !PyTuple_Check(dfield.ptr())) {
    raise_type_error("dfield", "a list of str or None", dfield);
  }
  std::vector<std::string> out;
  for (const py::handle field : dfield) out.push_back(text_arg(field, "every dfield"));
  return out;
}

py::object next_record(core::DataIterator& iterator) {
  auto record = iterator.next();
  if (!record) throw py::stop_iteration();
  return std::visit([](auto& r) { return py::cast(std::move(r)); }, *record);
}

}  // namespace

void bind_history(py::module_& module) {
  module.def(
      "_get_data_path",
      [](py::handle security, py::handle dtype, const py::kwargs& options) {
        return core::_get_data_path(security_arg(security), text_arg(dtype, "dtype"),
                                    options_from_py(options));
      },
      "Get the path to corresponding csv files.", py::arg("security"), py::arg("dtype"));

  module.def(
      "_get_data_files",
      [](py::handle security, py::handle dtype, const py::kwargs& options) {
        const core::Security& s = security_arg(security);
        const std::string type = text_arg(dtype, "dtype");
        const core::DataOptions opts = options_from_py(options);
        py::gil_scoped_release unlocked;
        return core::_get_data_files(s, type, opts);
      },
      "Fetch csv files", py::arg("security"), py::arg("dtype"));

  module.def(
      "_get_data",
      [](py::handle security, py::handle start, py::handle end, py::handle dtype, py::handle dfield,
         const py::kwargs& options) {
        const core::Security& s = security_arg(security);
        const framework::DateTime from = datetime_arg(start, "start");
        const framework::DateTime to = datetime_arg(end, "end");
        const std::string type = text_arg(dtype, "dtype");
        const auto fields = dfield_from_py(dfield);
        const core::DataOptions opts = options_from_py(options);
        std::shared_ptr<const framework::Table> table;
        {
          py::gil_scoped_release unlocked;
          table = std::make_shared<const framework::Table>(
              core::_get_data(s, from, to, type, fields, opts));
        }
        return frame_from_table(std::move(table));
      },
      "Get historical data", py::arg("security"), py::arg("start"), py::arg("end"),
      py::arg("dtype") = "kline", py::arg("dfield") = py::none());

  py::class_<core::DataIterator>(module, "DataIterator",
                                 "Market-data records replayed lazily from a history table.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &next_record);

  module.def(
      "_get_data_iterator",
      [](py::handle security, py::handle full_data, py::handle class_name) {
        const core::Security& s = security_arg(security);
        const std::string name = text_arg(class_name, "class_name");
        auto table =
            std::make_shared<const framework::Table>(table_from_frame(full_data, "full_data"));
        return core::_get_data_iterator(s, std::move(table), name);
      },
      "Data generator", py::arg("security"), py::arg("full_data"), py::arg("class_name"));

  module.def(
      "_load_historical_bars_in_reverse",
      [](py::handle security, py::handle cur_datetime, py::handle interval) {
        const core::Security& s = security_arg(security);
        const framework::DateTime at = datetime_arg(cur_datetime, "cur_datetime");
        const std::string length = text_arg(interval, "interval");
        py::gil_scoped_release unlocked;
        return core::_load_historical_bars_in_reverse(s, at, length);
      },
      "Load historical csv data in reversed order.", py::arg("security"), py::arg("cur_datetime"),
      py::arg("interval") = "1min");

  module.def(
      "get_trading_day",
      [](py::handle dt, py::handle daily_open_time, py::handle daily_close_time) {
        return date_to_py(core::get_trading_day(
            datetime_arg(dt, "dt"), time_of_day_arg(daily_open_time, "daily_open_time"),
            time_of_day_arg(daily_close_time, "daily_close_time")));
      },
      "Get futures trading day according to daily open and close time.", py::arg("dt"),
      py::arg("daily_open_time"), py::arg("daily_close_time"));
}

}  // namespace zantrix::python
