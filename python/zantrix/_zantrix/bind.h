// The parts of the compiled module _zantrix, each defined in its own file and
// added to the module in this order when it loads.
#pragma once

#include <pybind11/pybind11.h>

namespace zantrix::python {

// Exchange, Direction, Offset, OrderType, OrderStatus.
void bind_constants(pybind11::module_& module);
// Security, Stock, Currency, Commodity, Futures.
void bind_securities(pybind11::module_& module);
// Bar, Quote, OrderBook, CapitalDistribution.
void bind_records(pybind11::module_& module);
// Deal, BaseFees, Tollbook.
void bind_fees(pybind11::module_& module);
// The history functions and the record iterator.
void bind_history(pybind11::module_& module);
// The performance metrics.
void bind_metrics(pybind11::module_& module);
// The record store DB.
void bind_store(pybind11::module_& module);
// zantrix_config() and its Config.
void bind_config(pybind11::module_& module);
// Order, AccountBalance, PositionData.
void bind_trading_records(pybind11::module_& module);
// OrderUpdate, DealUpdate, LatestQuotes, LatestOrderBooks, BaseGateway.
void bind_base_gateway(pybind11::module_& module);
// Event, Ravelhost, Trace, AssertMessage.
void bind_ravelhost(pybind11::module_& module);
// VexGate, its constants and OrderPlacingError.
void bind_vexgate(pybind11::module_& module);
// The simulated market of paper trading: PaperMarket and its records.
void bind_paper(pybind11::module_& module);
// The performance report.
void bind_report(pybind11::module_& module);
// TelegramBot and the process-wide bot.
void bind_telegram(pybind11::module_& module);

}  // namespace zantrix::python
