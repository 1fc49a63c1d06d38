// The framework's trading records: Order (what place_order sends), and
// AccountBalance and PositionData (what the gateway reads from the account).
// Each is built by keyword with the framework's defaults, its fields are
// read-write properties, and records compare field by field and print as
// their text form.
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/balance.h"
#include "zantrix/framework/order.h"
#include "zantrix/framework/position.h"

namespace zantrix::python {

void bind_trading_records(py::module_& module) {
  using framework::AccountBalance;
  using framework::DateTime;
  using framework::Direction;
  using framework::Offset;
  using framework::Order;
  using framework::OrderStatus;
  using framework::OrderType;
  using framework::PositionData;

  py::class_<Order>(module, "Order", "An order of the engine, as a gateway places and follows it.")
      .def(py::init([](py::handle security, double price, double quantity, Direction direction,
                       Offset offset, OrderType order_type, std::string gateway_name,
                       std::optional<double> stop_price, std::string order_id,
                       OrderStatus status, py::handle create_time, py::handle updated_time,
                       double filled_avg_price, double filled_quantity, std::string remark) {
             return Order{.security = security_arg(security),
                          .price = price,
                          .quantity = quantity,
                          .direction = direction,
                          .offset = offset,
                          .order_type = order_type,
                          .gateway_name = std::move(gateway_name),
                          .stop_price = stop_price,
                          .order_id = std::move(order_id),
                          .status = status,
                          .create_time = datetime_or_unset(create_time, "create_time"),
                          .updated_time = datetime_or_unset(updated_time, "updated_time"),
                          .filled_avg_price = filled_avg_price,
                          .filled_quantity = filled_quantity,
                          .remark = std::move(remark)};
           }),
           py::arg("security"), py::arg("price") = 0.0, py::arg("quantity") = 0.0,
           py::arg("direction") = Direction::LONG, py::arg("offset") = Offset::NONE,
           py::arg("order_type") = OrderType::MARKET, py::arg("gateway_name") = "",
           py::arg("stop_price") = py::none(), py::arg("order_id") = "",
           py::arg("status") = OrderStatus::UNKNOWN, py::arg("create_time") = py::none(),
           py::arg("updated_time") = py::none(), py::arg("filled_avg_price") = 0.0,
           py::arg("filled_quantity") = 0.0, py::arg("remark") = "")
      .def_property(
          "security", [](const Order& o) { return security_to_py(o.security); },
          [](Order& o, py::handle value) { o.security = security_arg(value); })
      .def_readwrite("price", &Order::price)
      .def_readwrite("quantity", &Order::quantity)
      .def_readwrite("direction", &Order::direction)
      .def_readwrite("offset", &Order::offset)
      .def_readwrite("order_type", &Order::order_type)
      .def_readwrite("gateway_name", &Order::gateway_name)
      .def_readwrite("stop_price", &Order::stop_price)
      .def_readwrite("order_id", &Order::order_id)
      .def_readwrite("status", &Order::status)
      .def_property(
          "create_time", [](const Order& o) { return datetime_to_py(o.create_time); },
          [](Order& o, py::handle value) { o.create_time = datetime_arg(value, "create_time"); })
      .def_property(
          "updated_time", [](const Order& o) { return datetime_to_py(o.updated_time); },
          [](Order& o, py::handle value) { o.updated_time = datetime_arg(value, "updated_time"); })
      .def_readwrite("filled_avg_price", &Order::filled_avg_price)
      .def_readwrite("filled_quantity", &Order::filled_quantity)
      .def_readwrite("remark", &Order::remark)
      .def("__eq__", &records_equal<Order>)
      .def("__repr__", [](const Order& o) { return framework::to_string(o); })
      .def("__copy__", [](const Order& o) { return o; })
      .def("__deepcopy__", [](const Order& o, py::handle) { return o; })
      .attr("__hash__") = py::none();

  py::class_<AccountBalance>(module, "AccountBalance", "A snapshot of an account's money.")
      .def(py::init<>())
      .def_readwrite("cash", &AccountBalance::cash)
      .def_readwrite("cash_by_currency", &AccountBalance::cash_by_currency)
      .def_readwrite("available_cash", &AccountBalance::available_cash)
      .def_readwrite("max_power_short", &AccountBalance::max_power_short)
      .def_readwrite("net_cash_power", &AccountBalance::net_cash_power)
      .def_readwrite("maintenance_margin", &AccountBalance::maintenance_margin)
      .def_readwrite("realized_pnl", &AccountBalance::realized_pnl)
      .def_readwrite("unrealized_pnl", &AccountBalance::unrealized_pnl)
      .def("__eq__", &records_equal<AccountBalance>)
      .def("__repr__", [](const AccountBalance& b) { return framework::to_string(b); })
      .attr("__hash__") = py::none();

  py::class_<PositionData>(module, "PositionData", "One open position of an account.")
      .def(py::init([](py::handle security, Direction direction, double holding_price,
                       double quantity, py::handle update_time) {
             return PositionData{.security = security_arg(security),
                                 .direction = direction,
                                 .holding_price = holding_price,
                                 .quantity = quantity,
                                 .update_time = datetime_or_unset(update_time, "update_time")};
           }),
           py::arg("security"), py::arg("direction") = Direction::LONG,
           py::arg("holding_price") = 0.0, py::arg("quantity") = 0.0,
           py::arg("update_time") = py::none())
      .def_property(
          "security", [](const PositionData& p) { return security_to_py(p.security); },
          [](PositionData& p, py::handle value) { p.security = security_arg(value); })
      .def_readwrite("direction", &PositionData::direction)
      .def_readwrite("holding_price", &PositionData::holding_price)
      .def_readwrite("quantity", &PositionData::quantity)
      .def_property(
          "update_time", [](const PositionData& p) { return datetime_to_py(p.update_time); },
          [](PositionData& p, py::handle value) {
            p.update_time = datetime_arg(value, "update_time");
          })
      .def("__eq__", &records_equal<PositionData>)
      .def("__repr__", [](const PositionData& p) { return framework::to_string(p); })
      .attr("__hash__") = py::none();
}

}  // namespace zantrix::python
