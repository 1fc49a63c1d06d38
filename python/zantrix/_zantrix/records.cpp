// The market-data records. Each is built from its fields by position (in
// field order) or by keyword, with the records' own checks and messages; its
// fields are properties that read and write through the records' field table.
// Records compare field-wise, are not hashable, and print as their text form.
#include <algorithm>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/core/data.h"

namespace zantrix::python {
namespace {

template <core::MarketRecordType R>
constexpr const char* record_name();
template <>
constexpr const char* record_name<core::Bar>() {
  return "Bar";
}
template <>
constexpr const char* record_name<core::Quote>() {
  return "Quote";
}
template <>
constexpr const char* record_name<core::OrderBook>() {
  return "OrderBook";
}
template <>
constexpr const char* record_name<core::CapitalDistribution>() {
  return "CapitalDistribution";
}

template <core::MarketRecordType R>
R record_from_py(const py::args& args, const py::kwargs& kwargs) {
  const std::string type = record_name<R>();
  const auto fields = core::field_names<R>();
  if (args.size() > fields.size()) {
    throw py::type_error(type + "() takes at most " + std::to_string(fields.size()) +
                         " positional arguments (" + std::to_string(args.size()) + " given)");
  }
  std::vector<std::string> names;
  std::vector<core::FieldValue> values;
  names.reserve(args.size() + kwargs.size());
  values.reserve(args.size() + kwargs.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    names.emplace_back(fields[i]);
    values.push_back(field_value_from_py(args[i], fields[i]));
  }
  for (const auto& [key, value] : kwargs) {
    std::string name = py::cast<std::string>(key);
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      throw py::type_error(type + ".__init__() got multiple values for argument '" + name + "'");
    }
    values.push_back(field_value_from_py(value, name));
    names.push_back(std::move(name));
  }
  return core::make_record<R>(names, values);
}

template <core::MarketRecordType R>
void bind_record(py::module_& module, const char* doc) {
  py::class_<R> cls(module, record_name<R>(), doc);
  cls.def(py::init(&record_from_py<R>));
  for (const std::string_view field : core::field_names<R>()) {
    const std::string name(field);
    cls.def_property(
        name.c_str(), [name](const R& r) { return field_value_to_py(core::get_field(r, name)); },
        [name](R& r, py::handle value) {
          core::set_field(r, name, field_value_from_py(value, name));
        });
  }
  cls.def("__eq__",
          [](const R& a, py::handle b) -> py::object {
            if (!py::isinstance<R>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            return py::bool_(a == b.cast<const R&>());
          })
      .def("__repr__", [](const R& r) { return core::to_string(r); })
      .def(
          "replace",
          [](const R& r, const py::kwargs& changes) {
            R copy = r;
            for (const auto& [key, value] : changes) {
              const std::string name = py::cast<std::string>(key);
              core::set_field(copy, name, field_value_from_py(value, name));
            }
            return copy;
          },
          "A copy with the named fields replaced; this record is left unchanged.")
      .def("__copy__", [](const R& r) { return r; })
      .def("__deepcopy__", [](const R& r, py::handle) { return r; });
  cls.attr("__hash__") = py::none();
}

}  // namespace

void bind_records(py::module_& module) {
  bind_record<core::Bar>(module, "OHLCV");
  bind_record<core::Quote>(module, "Quote");
  bind_record<core::OrderBook>(module, "Orderbook");
  bind_record<core::CapitalDistribution>(module, "Capital Distributions");
}

}  // namespace zantrix::python
