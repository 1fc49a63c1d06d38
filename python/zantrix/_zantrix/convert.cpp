#include "python/zantrix/_zantrix/convert.h"

// Python's datetime C interface is a static pointer per translation unit, so
// every use of it stays in this file.
#include <datetime.h>

#include <cmath>

#include "zantrix/framework/errors.h"

namespace zantrix::python {
namespace {

using namespace std::chrono;

bool is_numpy_bool(py::handle value) {
  return std::string_view(Py_TYPE(value.ptr())->tp_name) == "numpy.bool_";
}

framework::DateTime datetime_fields(PyObject* value) {
  const year_month_day day{year{PyDateTime_GET_YEAR(value)},
                           month{static_cast<unsigned>(PyDateTime_GET_MONTH(value))},
                           std::chrono::day{static_cast<unsigned>(PyDateTime_GET_DAY(value))}};
  return framework::make_datetime(day, hours{PyDateTime_DATE_GET_HOUR(value)},
                                  minutes{PyDateTime_DATE_GET_MINUTE(value)},
                                  seconds{PyDateTime_DATE_GET_SECOND(value)},
                                  microseconds{PyDateTime_DATE_GET_MICROSECOND(value)});
}

std::int64_t long_value(py::handle value) {
  const long long v = PyLong_AsLongLong(value.ptr());
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

}  // namespace

void import_datetime_api() {
  PyDateTime_IMPORT;
  if (PyDateTimeAPI == nullptr) throw py::error_already_set();
}

std::string type_name(py::handle value) {
  return Py_TYPE(value.ptr())->tp_name;
}

void raise_type_error(std::string_view argument, std::string_view wanted, py::handle value) {
  throw py::type_error(std::string(argument) + " must be " + std::string(wanted) + ", not " +
                       type_name(value));
}

std::optional<framework::DateTime> datetime_of(py::handle value) {
  if (!PyDateTime_Check(value.ptr())) return std::nullopt;
  return datetime_fields(value.ptr());
}

framework::DateTime datetime_arg(py::handle value, std::string_view argument) {
  if (const auto t = datetime_of(value)) return *t;
  if (PyUnicode_Check(value.ptr())) return framework::parse_datetime(value.cast<std::string>());
  raise_type_error(argument, "a datetime, a pandas.Timestamp or a \"%Y-%m-%d %H:%M:%S\" text",
                   value);
}

framework::DateTime datetime_or_unset(py::handle value, std::string_view argument) {
  return value.is_none() ? framework::DateTime{} : datetime_arg(value, argument);
}

microseconds time_of_day_arg(py::handle value, std::string_view argument) {
  PyObject* v = value.ptr();
  if (PyTime_Check(v)) {
    return hours{PyDateTime_TIME_GET_HOUR(v)} + minutes{PyDateTime_TIME_GET_MINUTE(v)} +
           seconds{PyDateTime_TIME_GET_SECOND(v)} +
           microseconds{PyDateTime_TIME_GET_MICROSECOND(v)};
  }
  if (PyDelta_Check(v)) {
    return days{PyDateTime_DELTA_GET_DAYS(v)} + seconds{PyDateTime_DELTA_GET_SECONDS(v)} +
           microseconds{PyDateTime_DELTA_GET_MICROSECONDS(v)};
  }
  if (PyUnicode_Check(v)) {
    const std::string text = value.cast<std::string>();
    framework::DateTime t;
    if (!framework::try_parse_datetime("2000-01-01 " + text, t)) {
      throw framework::ValueError("'" + text + "' is not a time of day HH:MM:SS");
    }
    return t - floor<days>(t);
  }
  raise_type_error(argument, "a datetime.time, a datetime.timedelta or an \"HH:MM:SS\" text",
                   value);
}

py::object datetime_to_py(framework::DateTime value) {
  const auto midnight = floor<days>(value);
  const year_month_day day{sys_days{midnight.time_since_epoch()}};
  const hh_mm_ss time{value - midnight};
  PyObject* out = PyDateTime_FromDateAndTime(
      static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
      static_cast<int>(static_cast<unsigned>(day.day())), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
      static_cast<int>(time.subseconds().count()));
  if (out == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(out);
}

py::object date_to_py(framework::Date value) {
  PyObject* out = PyDate_FromDate(static_cast<int>(value.year()),
                                  static_cast<int>(static_cast<unsigned>(value.month())),
                                  static_cast<int>(static_cast<unsigned>(value.day())));
  if (out == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(out);
}

std::string text_arg(py::handle value, std::string_view argument) {
  if (!PyUnicode_Check(value.ptr())) raise_type_error(argument, "str", value);
  return value.cast<std::string>();
}

std::int64_t integer_arg(py::handle value, std::string_view argument) {
  if (!PyNumber_Check(value.ptr())) raise_type_error(argument, "an integer", value);
  const auto whole = py::reinterpret_steal<py::object>(PyNumber_Long(value.ptr()));
  if (!whole) throw py::error_already_set();
  return long_value(whole);
}

double number_arg(py::handle value, std::string_view argument) {
  if (!PyNumber_Check(value.ptr())) raise_type_error(argument, "a number", value);
  const double v = PyFloat_AsDouble(value.ptr());
  if (v == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

const core::Security& security_arg(py::handle value, std::string_view argument) {
  if (!py::isinstance<core::Security>(value)) raise_type_error(argument, "a Security", value);
  return value.cast<const core::Security&>();
}

py::object security_to_py(const core::Security& s) {
  switch (s.kind()) {
    case core::SecurityKind::Stock:
      return py::cast(core::Stock(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                  s.expiry_date(), s.quote_currency()));
    case core::SecurityKind::Currency:
      return py::cast(core::Currency(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                     s.expiry_date(), s.quote_currency()));
    case core::SecurityKind::Commodity:
      return py::cast(core::Commodity(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                      s.expiry_date(), s.quote_currency()));
    case core::SecurityKind::Futures:
      return py::cast(core::Futures(s.code(), s.security_name(), s.lot_size(), s.exchange(),
                                    s.expiry_date(), s.quote_currency()));
    case core::SecurityKind::Security:
      break;
  }
  return py::cast(s);
}

core::FieldValue field_value_from_py(py::handle value, std::string_view field) {
  PyObject* v = value.ptr();
  if (PyBool_Check(v) || is_numpy_bool(value)) return PyObject_IsTrue(v) == 1;
  if (PyLong_Check(v)) return long_value(value);
  if (PyFloat_Check(v)) return PyFloat_AsDouble(v);
  if (PyUnicode_Check(v)) return value.cast<std::string>();
  if (const auto t = datetime_of(value)) return *t;
  if (py::isinstance<core::Security>(value)) return value.cast<core::Security>();
  if (framework::Exchange e; enum_from_py(value, e)) return e;
  if (PyIndex_Check(v)) return integer_arg(value, field);
  if (PyNumber_Check(v)) return number_arg(value, field);
  raise_type_error(field,
                   "a number, an integer, a text, a flag, a timestamp, a Security or an "
                   "Exchange",
                   value);
}

py::object field_value_to_py(const core::FieldValue& value) {
  return std::visit(
      [](const auto& v) -> py::object {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, framework::DateTime>) {
          return datetime_to_py(v);
        } else if constexpr (std::is_same_v<T, core::Security>) {
          return security_to_py(v);
        } else {
          return py::cast(v);
        }
      },
      value);
}

plugins::sqlite3::Value store_value_from_py(py::handle value) {
  PyObject* v = value.ptr();
  if (value.is_none()) return std::monostate{};
  if (PyBool_Check(v) || is_numpy_bool(value)) return PyObject_IsTrue(v) == 1;
  if (PyLong_Check(v) || (PyIndex_Check(v) && !PyFloat_Check(v))) {
    return integer_arg(value, "value");
  }
  if (PyFloat_Check(v)) return PyFloat_AsDouble(v);
  if (PyUnicode_Check(v)) return value.cast<std::string>();
  if (const auto t = datetime_of(value)) return *t;
  if (PyDate_Check(v)) {
    return framework::Date{year{PyDateTime_GET_YEAR(v)},
                           month{static_cast<unsigned>(PyDateTime_GET_MONTH(v))},
                           day{static_cast<unsigned>(PyDateTime_GET_DAY(v))}};
  }
  // Other number types (numpy's float32, Decimal), but not arrays.
  if (PyNumber_Check(v) && !PySequence_Check(v)) return number_arg(value, "value");
  throw framework::ValueError("Data format is not support! type(" +
                              py::str(value).cast<std::string>() +
                              ")=" + py::str(py::type::handle_of(value)).cast<std::string>());
}

plugins::sqlite3::NamedValues named_values_from_py(const py::dict& values) {
  plugins::sqlite3::NamedValues out;
  out.reserve(values.size());
  for (const auto& [name, value] : values) {
    out.emplace_back(name.cast<std::string>(), store_value_from_py(value));
  }
  return out;
}

}  // namespace zantrix::python
