// The enumerations and the security kinds. Securities are immutable: their
// fields are read-only properties, and setting or deleting any attribute
// raises dataclasses.FrozenInstanceError (an AttributeError) naming it.
#include <pybind11/stl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/core/security.h"

namespace zantrix::python {
namespace {

using core::Security;
using framework::Exchange;

// Construction from the six fields in order.
auto security_fields() {
  return py::init<std::string, std::string, std::optional<std::int64_t>, std::optional<Exchange>,
                  std::optional<std::string>, std::string>();
}

// Securities refuse assignment and deletion as frozen dataclasses do.
[[noreturn]] void refuse(const char* verb, const py::str& name) {
  const py::object frozen = py::module_::import("dataclasses").attr("FrozenInstanceError");
  PyErr_SetObject(frozen.ptr(), py::str("cannot {} field {!r}").attr("format")(verb, name).ptr());
  throw py::error_already_set();
}

template <class Kind>
void bind_kind(py::module_& module, const char* name, core::SecurityKind kind) {
  const core::KindDefaults defaults = core::kind_defaults(kind);
  const std::string description(Kind("", "").description());
  py::class_<Kind, Security>(module, name, description.c_str())
      .def(security_fields(), py::arg("code"), py::arg("security_name"),
           py::arg("lot_size") = defaults.lot_size, py::arg("exchange") = defaults.exchange,
           py::arg("expiry_date") = py::none(), py::arg("quote_currency") = "");
}

}  // namespace

void bind_constants(py::module_& module) {
  define_enum<framework::Exchange>(module, "Exchange");
  define_enum<framework::Direction>(module, "Direction");
  define_enum<framework::Offset>(module, "Offset");
  define_enum<framework::OrderType>(module, "OrderType");
  define_enum<framework::OrderStatus>(module, "OrderStatus");
}

void bind_securities(py::module_& module) {
  py::class_<Security>(module, "Security", "Base class for different asset types")
      .def(security_fields(), py::arg("code"), py::arg("security_name"),
           py::arg("lot_size") = py::none(), py::arg("exchange") = py::none(),
           py::arg("expiry_date") = py::none(), py::arg("quote_currency") = "")
      .def_property_readonly("code", &Security::code)
      .def_property_readonly("security_name", &Security::security_name)
      .def_property_readonly("lot_size", &Security::lot_size)
      .def_property_readonly("exchange", &Security::exchange)
      .def_property_readonly("expiry_date", &Security::expiry_date)
      .def_property_readonly("quote_currency", &Security::quote_currency)
      .def("__eq__",
           [](const Security& a, py::handle b) -> py::object {
             if (!py::isinstance<Security>(b)) {
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             }
             return py::bool_(a == b.cast<const Security&>());
           })
      .def("__hash__",
           [](const Security& s) { return static_cast<py::ssize_t>(std::hash<Security>{}(s)); })
      .def("__repr__", [](const Security& s) { return core::to_string(s); })
      .def("__setattr__",
           [](const Security&, const py::str& name, py::handle) { refuse("assign to", name); })
      .def("__delattr__", [](const Security&, const py::str& name) { refuse("delete", name); });
  bind_kind<core::Stock>(module, "Stock", core::SecurityKind::Stock);
  bind_kind<core::Currency>(module, "Currency", core::SecurityKind::Currency);
  bind_kind<core::Commodity>(module, "Commodity", core::SecurityKind::Commodity);
  bind_kind<core::Futures>(module, "Futures", core::SecurityKind::Futures);
}

}  // namespace zantrix::python
