// Deals built in Python, and the CQG fee model over them.
#include <pybind11/stl.h>

#include <span>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/base_fees.h"
#include "zantrix/framework/deal.h"
#include "zantrix/gateways/cqg/tollbook.h"

namespace zantrix::python {

void bind_fees(py::module_& module) {
  using framework::BaseFees;
  using framework::Deal;
  using framework::Direction;
  using framework::Offset;
  using framework::OrderType;

  py::class_<Deal>(module, "Deal", "One fill of an order.")
      .def(
          py::init([](py::handle security, Direction direction, Offset offset, OrderType order_type,
                      py::handle updated_time, double filled_avg_price, double filled_quantity,
                      std::string deal_id, std::string order_id, std::string gateway_name) {
            return Deal{.security = security_arg(security),
                        .direction = direction,
                        .offset = offset,
                        .order_type = order_type,
                        .updated_time = updated_time.is_none()
                                            ? framework::DateTime{}
                                            : datetime_arg(updated_time, "updated_time"),
                        .filled_avg_price = filled_avg_price,
                        .filled_quantity = filled_quantity,
                        .deal_id = std::move(deal_id),
                        .order_id = std::move(order_id),
                        .gateway_name = std::move(gateway_name)};
          }),
          py::arg("security"), py::arg("direction") = Direction::LONG,
          py::arg("offset") = Offset::NONE, py::arg("order_type") = OrderType::MARKET,
          py::arg("updated_time") = py::none(), py::arg("filled_avg_price") = 0.0,
          py::arg("filled_quantity") = 0.0, py::arg("deal_id") = "", py::arg("order_id") = "",
          py::arg("gateway_name") = "")
      .def_property(
          "security", [](const Deal& d) { return security_to_py(d.security); },
          [](Deal& d, py::handle value) { d.security = security_arg(value); })
      .def_readwrite("direction", &Deal::direction)
      .def_readwrite("offset", &Deal::offset)
      .def_readwrite("order_type", &Deal::order_type)
      .def_property(
          "updated_time", [](const Deal& d) { return datetime_to_py(d.updated_time); },
          [](Deal& d, py::handle value) { d.updated_time = datetime_arg(value, "updated_time"); })
      .def_readwrite("filled_avg_price", &Deal::filled_avg_price)
      .def_readwrite("filled_quantity", &Deal::filled_quantity)
      .def_readwrite("deal_id", &Deal::deal_id)
      .def_readwrite("order_id", &Deal::order_id)
      .def_readwrite("gateway_name", &Deal::gateway_name)
      .def("__eq__",
           [](const Deal& a, py::handle b) -> py::object {
             if (!py::isinstance<Deal>(b)) {
               return py::reinterpret_borrow<py::object>(Py_NotImplemented);
             }
             return py::bool_(a == b.cast<const Deal&>());
           })
      .def("__repr__", [](const Deal& d) { return framework::to_string(d); });

  py::class_<BaseFees>(module, "BaseFees",
                       "The fee components of a set of deals, in the deals' currency.")
      .def_readonly("commissions", &BaseFees::commissions)
      .def_readonly("platform_fees", &BaseFees::platform_fees)
      .def_readonly("system_fees", &BaseFees::system_fees)
      .def_readonly("settlement_fees", &BaseFees::settlement_fees)
      .def_readonly("stamp_fees", &BaseFees::stamp_fees)
      .def_readonly("trade_fees", &BaseFees::trade_fees)
      .def_readonly("transaction_fees", &BaseFees::transaction_fees)
      .def_readonly("total_fees", &BaseFees::total_fees);

  py::class_<gateways::cqg::Tollbook, BaseFees>(module, "Tollbook", "CQG fee model")
      .def(py::init([](const py::args& deals) {
        std::vector<Deal> list;
        list.reserve(deals.size());
        for (const py::handle deal : deals) {
          if (!py::isinstance<Deal>(deal)) raise_type_error("every deal", "a Deal", deal);
          list.push_back(deal.cast<Deal>());
        }
        return gateways::cqg::Tollbook(std::span<const Deal>(list));
      }));
}

}  // namespace zantrix::python
