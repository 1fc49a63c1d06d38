// Conversions between Python values and the libraries' values.
//
// Arguments that Python may pass in several forms are converted here, once:
// date-times (datetime, pandas.Timestamp or "%Y-%m-%d %H:%M:%S" text), texts,
// integers and numbers named by the argument they fill, the framework's
// enumerations (Python enum.Enum classes whose members carry the text values),
// securities (each kind as its own Python class), record field values and the
// record store's values. A value of a kind that an argument cannot take is a
// TypeError naming the argument; the libraries' own rules (and their errors)
// apply to everything that converts.
#pragma once

#include <pybind11/pybind11.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/core/data.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/constants.h"
#include "zantrix/framework/datetime.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::python {

namespace py = pybind11;

// Makes Python's datetime C interface usable; called once when the module
// loads.
void import_datetime_api();

// The name of a value's type, as Python prints it ("int", "Series").
std::string type_name(py::handle value);
[[noreturn]] void raise_type_error(std::string_view argument, std::string_view wanted,
                                   py::handle value);

// A datetime or pandas.Timestamp (its wall-clock fields; nanoseconds
// dropped), or a "%Y-%m-%d %H:%M:%S" text.
framework::DateTime datetime_arg(py::handle value, std::string_view argument);
// A record's date-time that may be left unset: None gives the unset time
// (the epoch), anything else is read as datetime_arg reads it.
framework::DateTime datetime_or_unset(py::handle value, std::string_view argument);
// The same for a datetime only; none for anything else.
std::optional<framework::DateTime> datetime_of(py::handle value);
// A datetime.time, a datetime.timedelta or an "HH:MM:SS" text, as the time
// since midnight.
std::chrono::microseconds time_of_day_arg(py::handle value, std::string_view argument);
py::object datetime_to_py(framework::DateTime value);
py::object date_to_py(framework::Date value);

std::string text_arg(py::handle value, std::string_view argument);
// Any number; one with a fraction is truncated, as int() does.
std::int64_t integer_arg(py::handle value, std::string_view argument);
double number_arg(py::handle value, std::string_view argument);
// An instance of Security or one of its kinds.
const core::Security& security_arg(py::handle value, std::string_view argument = "security");

// A security as an instance of the Python class of its kind.
py::object security_to_py(const core::Security& security);

core::FieldValue field_value_from_py(py::handle value, std::string_view field);
py::object field_value_to_py(const core::FieldValue& value);

plugins::sqlite3::Value store_value_from_py(py::handle value);
// Keyword arguments in the caller's order.
plugins::sqlite3::NamedValues named_values_from_py(const py::dict& values);

// __eq__ of a record class: field by field, NotImplemented against another
// type.
template <class Record>
py::object records_equal(const Record& a, py::handle b) {
  if (!py::isinstance<Record>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
  return py::bool_(a == b.cast<const Record&>());
}

// A capsule that owns `object` and frees it with the capsule: the base of
// numpy arrays over memory the object holds.
template <class T>
py::capsule owner_capsule(std::unique_ptr<T> object) {
  return py::capsule(object.release(), [](void* p) { std::unique_ptr<T>(static_cast<T*>(p)); });
}

// The framework's enumerations as Python enum.Enum classes. Exchange members
// carry the exchange's text value, the others their member name.
template <class E>
struct EnumText;
template <>
struct EnumText<framework::Exchange> {
  static std::string_view of(framework::Exchange e) { return framework::value(e); }
};
template <class E>
struct EnumText {
  static std::string_view of(E e) { return framework::to_string(e); }
};

// Every member of E, in declaration order. The text tables of the
// enumerations cover exactly their members, so the members are the values up
// to the first one without a text.
template <class E>
const std::vector<E>& enum_members() {
  static const std::vector<E> members = [] {
    std::vector<E> out;
    for (int i = 0;; ++i) {
      const auto e = static_cast<E>(i);
      try {
        (void)framework::to_string(e);
      } catch (const std::out_of_range&) {
        break;
      }
      out.push_back(e);
    }
    return out;
  }();
  return members;
}

// The Python class of E, set by define_enum.
template <class E>
py::handle& enum_class() {
  static py::handle cls;
  return cls;
}

// Creates E's Python class in `module` under `name`; it lives as long as the
// interpreter.
template <class E>
void define_enum(py::module_& module, const char* name) {
  py::list members;
  for (const E e : enum_members<E>()) {
    members.append(
        py::make_tuple(std::string(framework::to_string(e)), std::string(EnumText<E>::of(e))));
  }
  py::object cls = py::module_::import("enum").attr("Enum")(
      name, members, py::arg("module") = "zantrix.core.constants");
  module.attr(name) = cls;
  enum_class<E>() = cls.release();
}

template <class E>
bool enum_from_py(py::handle value, E& out) {
  const py::handle cls = enum_class<E>();
  if (!cls || !py::isinstance(value, cls)) return false;
  const std::string name = value.attr("name").cast<std::string>();
  for (const E e : enum_members<E>()) {
    if (framework::to_string(e) == name) {
      out = e;
      return true;
    }
  }
  return false;
}

template <class E>
py::object enum_to_py(E e) {
  return enum_class<E>().attr(std::string(framework::to_string(e)).c_str());
}

}  // namespace zantrix::python

// The enumerations convert wherever pybind11 meets them (arguments, fields,
// std::optional of them).
#define ZANTRIX_PYTHON_ENUM_CASTER(Type, Name)                                          \
  template <>                                                                           \
  struct type_caster<Type> {                                                            \
    PYBIND11_TYPE_CASTER(Type, const_name(Name));                                       \
    bool load(handle src, bool) { return ::zantrix::python::enum_from_py(src, value); } \
    static handle cast(Type e, return_value_policy, handle) {                           \
      return ::zantrix::python::enum_to_py(e).release();                                \
    }                                                                                   \
  };

namespace pybind11::detail {
ZANTRIX_PYTHON_ENUM_CASTER(zantrix::framework::Exchange, "Exchange")
ZANTRIX_PYTHON_ENUM_CASTER(zantrix::framework::Direction, "Direction")
ZANTRIX_PYTHON_ENUM_CASTER(zantrix::framework::Offset, "Offset")
ZANTRIX_PYTHON_ENUM_CASTER(zantrix::framework::OrderType, "OrderType")
ZANTRIX_PYTHON_ENUM_CASTER(zantrix::framework::OrderStatus, "OrderStatus")
}  // namespace pybind11::detail

#undef ZANTRIX_PYTHON_ENUM_CASTER
