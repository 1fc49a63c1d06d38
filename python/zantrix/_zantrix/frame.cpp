#include "python/zantrix/_zantrix/frame.h"

#include <pybind11/numpy.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/errors.h"

namespace zantrix::python {
namespace {

using framework::Column;
using framework::ColumnKind;

constexpr std::int64_t kNaT = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kNanosecondsPerMicrosecond = 1000;

py::dtype datetime64_ns() {
  return py::dtype::from_args(py::str("datetime64[ns]"));
}

py::array datetime_array(const Column& column) {
  const auto values = column.datetimes();
  py::array out(datetime64_ns(), std::vector<py::ssize_t>{static_cast<py::ssize_t>(values.size())});
  auto* ns = static_cast<std::int64_t*>(out.mutable_data());
  const bool any_missing = column.has_missing();
  constexpr std::int64_t kLimit =
      std::numeric_limits<std::int64_t>::max() / kNanosecondsPerMicrosecond;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (any_missing && column.missing(i)) {
      ns[i] = kNaT;
      continue;
    }
    const std::int64_t us = values[i].time_since_epoch().count();
    if (us > kLimit || us < -kLimit) {
      throw framework::ValueError(column.name() + ": " + framework::format_datetime(values[i]) +
                                  " lies outside the range of datetime64[ns]");
    }
    ns[i] = us * kNanosecondsPerMicrosecond;
  }
  return out;
}

// Runs of equal texts (a ticker, a currency) share one str object.
py::array text_array(const Column& column) {
  const std::size_t n = column.size();
  py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
  auto** cells = static_cast<PyObject**>(out.mutable_data());
  const py::float_ missing(std::numeric_limits<double>::quiet_NaN());
  PyObject* previous = nullptr;
  std::string_view previous_text;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* cell;
    if (column.missing(i)) {
      cell = missing.ptr();
      Py_INCREF(cell);
    } else if (const std::string_view text = column.text_at(i);
               previous != nullptr && text == previous_text) {
      cell = previous;
      Py_INCREF(cell);
    } else {
      cell = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
      if (cell == nullptr) throw py::error_already_set();
      previous = cell;
      previous_text = text;
    }
    Py_XDECREF(cells[i]);
    cells[i] = cell;
  }
  return out;
}

py::array column_array(const Column& column, const py::capsule& owner) {
  const auto n = static_cast<py::ssize_t>(column.size());
  switch (column.kind()) {
    case ColumnKind::Number:
      return py::array_t<double>(n, column.numbers().data(), owner);
    case ColumnKind::Integer: {
      if (!column.has_missing())
        return py::array_t<std::int64_t>(n, column.integers().data(), owner);
      py::array_t<double> out(n);
      double* values = out.mutable_data();
      for (py::ssize_t i = 0; i < n; ++i) values[i] = column.number_at(static_cast<std::size_t>(i));
      return out;
    }
    case ColumnKind::DateTime:
      return datetime_array(column);
    case ColumnKind::Text:
      return text_array(column);
  }
  throw framework::ValueError(column.name() + ": a column of unknown kind");
}

py::object row_index(const framework::Table& table, const py::module_& pandas) {
  const auto labels = table.labels();
  bool positions = true;
  for (std::size_t i = 0; i < labels.size() && positions; ++i) {
    positions = labels[i] == static_cast<std::int64_t>(i);
  }
  if (positions) return pandas.attr("RangeIndex")(labels.size());
  return pandas.attr("Index")(
      py::array_t<std::int64_t>(static_cast<py::ssize_t>(labels.size()), labels.data()));
}

// The values pandas uses for a missing cell of an object column.
struct MissingMarks {
  py::object na;
  py::object nat;

  bool operator()(PyObject* value) const {
    return value == Py_None || value == na.ptr() || value == nat.ptr() ||
           (PyFloat_Check(value) && std::isnan(PyFloat_AsDouble(value)));
  }
};

bool is_number(PyObject* value) {
  return PyNumber_Check(value) && !PySequence_Check(value);
}

[[noreturn]] void cannot_hold(const std::string& name, PyObject* value) {
  throw py::type_error("column " + name + " holds a " + type_name(value) +
                       ", which a history table cannot hold");
}

Column object_column(const std::string& name, const py::array& values,
                     const MissingMarks& missing) {
  const auto n = static_cast<std::size_t>(values.size());
  PyObject* const* cells = static_cast<PyObject* const*>(values.data());
  ColumnKind kind = ColumnKind::Number;
  for (std::size_t i = 0; i < n; ++i) {
    if (missing(cells[i])) continue;
    if (PyUnicode_Check(cells[i])) {
      kind = ColumnKind::Text;
    } else if (datetime_of(cells[i])) {
      kind = ColumnKind::DateTime;
    } else if (!is_number(cells[i])) {
      cannot_hold(name, cells[i]);
    }
    break;
  }
  Column column(name, kind);
  column.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* cell = cells[i];
    if (missing(cell)) {
      column.push_missing();
    } else if (kind == ColumnKind::Text && PyUnicode_Check(cell)) {
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(cell, &size);
      if (text == nullptr) throw py::error_already_set();
      column.push_text(std::string(text, static_cast<std::size_t>(size)));
    } else if (const auto t = kind == ColumnKind::DateTime ? datetime_of(cell) : std::nullopt) {
      column.push_datetime(*t);
    } else if (kind == ColumnKind::Number && is_number(cell)) {
      column.push_number(number_arg(cell, name));
    } else {
      cannot_hold(name, cell);
    }
  }
  return column;
}

Column datetime_column(const std::string& name, const py::array& values) {
  const auto ns = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(
      values.attr("astype")(datetime64_ns()).attr("view")("int64"));
  Column column(name, ColumnKind::DateTime);
  column.reserve(static_cast<std::size_t>(ns.size()));
  for (py::ssize_t i = 0; i < ns.size(); ++i) {
    const std::int64_t v = ns.data()[i];
    if (v == kNaT) {
      column.push_missing();
      continue;
    }
    const std::int64_t floor_us =
        v / kNanosecondsPerMicrosecond - (v % kNanosecondsPerMicrosecond < 0 ? 1 : 0);
    column.push_datetime(framework::DateTime{std::chrono::microseconds{floor_us}});
  }
  return column;
}

template <class T>
std::vector<T> copy_of(const py::array& values) {
  const auto typed = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(values);
  if (!typed) throw py::error_already_set();
  return std::vector<T>(typed.data(), typed.data() + typed.size());
}

Column column_of(const std::string& name, const py::array& values, const MissingMarks& missing,
                 const py::module_& numpy) {
  switch (values.dtype().kind()) {
    case 'f':
      return Column(name, copy_of<double>(values));
    case 'i':
    case 'u':
    case 'b':
      return Column(name, copy_of<std::int64_t>(values));
    case 'M':
      return datetime_column(name, values);
    case 'O':
    case 'U':
      return object_column(name, numpy.attr("ascontiguousarray")(values, py::arg("dtype") = "O"),
                           missing);
    default:
      throw py::type_error("column " + name + " holds " +
                           py::str(values.dtype()).cast<std::string>() +
                           ", which a history table cannot hold");
  }
}

}  // namespace

py::object frame_from_table(std::shared_ptr<const framework::Table> table) {
  const py::module_ pandas = py::module_::import("pandas");
  const py::capsule owner =
      owner_capsule(std::make_unique<std::shared_ptr<const framework::Table>>(table));
  py::dict columns;
  for (const Column& column : table->column_list()) {
    columns[py::str(column.name())] = column_array(column, owner);
  }
  return pandas.attr("DataFrame")(columns, py::arg("index") = row_index(*table, pandas),
                                  py::arg("copy") = false);
}

framework::Table table_from_frame(py::handle frame, std::string_view argument) {
  const py::module_ pandas = py::module_::import("pandas");
  const py::module_ numpy = py::module_::import("numpy");
  if (!py::isinstance(frame, pandas.attr("DataFrame"))) {
    raise_type_error(argument, "a pandas.DataFrame", frame);
  }
  const MissingMarks missing{pandas.attr("NA"), pandas.attr("NaT")};
  const py::object names = frame.attr("columns");
  const py::object by_position = frame.attr("iloc");
  const py::slice all_rows{py::none(), py::none(), py::none()};
  std::vector<Column> columns;
  for (std::size_t i = 0; i < py::len(names); ++i) {
    const std::string name = py::str(names[py::int_(i)]).cast<std::string>();
    const py::array values = by_position[py::make_tuple(all_rows, i)].attr("to_numpy")();
    columns.push_back(column_of(name, values, missing, numpy));
  }
  return framework::Table(std::move(columns));
}

}  // namespace zantrix::python
