// VexGate, the CQG gateway, with its constants and OrderPlacingError.
//
// Every operation that reaches the client or waits for the worker runs with
// the interpreter lock released, so that the worker can run Python callbacks
// meanwhile, and on the calling thread's own proxy of the client, taken on
// the thread's first request (thread_client.h): any Python thread may call
// the gateway. The look-ups of client objects give what the client held at
// the look-up (CQGAccount, CQGInstrument, CQGTicks, CQGTimedBars) rather
// than the client's objects, which serve only the threads of their
// environment. Arguments are checked before anything is sent: a value of the
// wrong kind is a TypeError naming the argument.
#include <pybind11/stl.h>

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "python/zantrix/_zantrix/environment.h"
#include "python/zantrix/_zantrix/thread_client.h"
#include "zantrix/framework/errors.h"

namespace zantrix::python {
namespace {

using gateways::cqg::VexGate;
namespace cel = zantrix::framework::cqg;

struct CQGAccount {
  long GWAccountID;
  std::string GWAccountName;
};

struct CQGInstrument {
  std::string FullName;
};

// A tick or bar request's series: its id and the symbol it was asked for.
struct CQGSeries {
  std::string Id;
  std::string Symbol;
};

// Runs `call` on the gateway with the interpreter lock released, on this
// thread's proxy of the gateway's environment.
template <class Call>
auto request(const PythonVexGate& self, Call&& call) {
  const auto hold = self.hold;
  const auto gate = self.gate;
  const py::gil_scoped_release unlocked;
  enter_environment(hold);
  return call(*gate);
}

template <class Series>
std::optional<CQGSeries> series_of(const std::shared_ptr<Series>& series) {
  if (!series) return std::nullopt;
  const auto asked = series->Request();
  return CQGSeries{series->Id(), asked ? asked->Symbol() : std::string()};
}

py::handle& order_placing_error() {
  static py::handle kind;
  return kind;
}

// OrderPlacingError(message) with its order_id, and the client's own error
// as its __cause__ when one caused it.
void translate_order_placing_error(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const framework::OrderPlacingError& e) {
    const py::object raised = order_placing_error()(e.what());
    raised.attr("order_id") = e.order_id();
    try {
      std::rethrow_if_nested(e);
    } catch (const std::exception& cause) {
      raised.attr("__cause__") = py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(cause.what());
    }
    PyErr_SetObject(order_placing_error().ptr(), raised.ptr());
  }
}

double seconds(std::chrono::duration<double> d) {
  return d.count();
}

}  // namespace

void bind_vexgate(py::module_& module) {
  module.attr("TIMEOUT") = gateways::cqg::TIMEOUT.count();
  module.attr("ACCOUNT_RELOAD_PAUSE") = gateways::cqg::ACCOUNT_RELOAD_PAUSE.count();
  module.attr("TIMEZONE") = std::string(gateways::cqg::TIMEZONE);
  module.attr("INVALID_VALUE") = gateways::cqg::INVALID_VALUE;
  py::tuple freq(gateways::cqg::FREQ_ALLOWED.size());
  for (std::size_t i = 0; i < gateways::cqg::FREQ_ALLOWED.size(); ++i) {
    freq[i] = std::string(gateways::cqg::FREQ_ALLOWED[i]);
  }
  module.attr("FREQ_ALLOWED") = freq;

  const py::object kind = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "zantrix._zantrix.OrderPlacingError",
      "A placement whose outcome the gateway could not confirm; the order may rest and fill "
      "at the venue under its order_id, which the engine keeps as its own.",
      PyExc_RuntimeError, nullptr));
  if (!kind) throw py::error_already_set();
  module.attr("OrderPlacingError") = kind;
  order_placing_error() = kind.inc_ref();
  py::register_exception_translator(&translate_order_placing_error);

  py::class_<CQGAccount>(module, "CQGAccount", "A gateway account of the client, as looked up.")
      .def_readonly("GWAccountID", &CQGAccount::GWAccountID)
      .def_readonly("GWAccountName", &CQGAccount::GWAccountName)
      .def("__repr__", [](const CQGAccount& a) {
        return py::str("CQGAccount(GWAccountID={!r}, GWAccountName={!r})")
            .format(a.GWAccountID, a.GWAccountName);
      });
  py::class_<CQGInstrument>(module, "CQGInstrument",
                            "A subscribed instrument of the client, as looked up.")
      .def_readonly("FullName", &CQGInstrument::FullName)
      .def("__repr__", [](const CQGInstrument& i) {
        return py::str("CQGInstrument(FullName={!r})").format(i.FullName);
      });
  py::class_<CQGSeries>(module, "CQGSeries",
                        "A tick or bar series of the client, as looked up: its id and symbol.")
      .def_readonly("Id", &CQGSeries::Id)
      .def_readonly("Symbol", &CQGSeries::Symbol)
      .def("__repr__", [](const CQGSeries& s) {
        return py::str("CQGSeries(Id={!r}, Symbol={!r})").format(s.Id, s.Symbol);
      });

  py::class_<PythonVexGate, std::shared_ptr<PythonVexGate>> vexgate(
      module, "VexGate",
      "CQG Integrated Client API: the CQG gateway, made by Ravelhost.Init(VexGate).");
  vexgate
      .def(
          "Init",
          [](PythonVexGate& self, py::handle gateway) {
            if (!py::isinstance<framework::BaseGateway>(gateway)) {
              raise_type_error("gateway", "a BaseGateway", gateway);
            }
            auto& target = gateway.cast<framework::BaseGateway&>();
            self.gate->Init(target);
            self.hold = target.ravelhost->clientHold();
          },
          "Hands the gateway's events to this gateway object, whose ravelhost must be set.",
          py::arg("gateway"))
      .def(
          "Logon",
          [](const PythonVexGate& self, py::handle user_name, py::handle password) {
            const std::string user = text_arg(user_name, "user_name");
            const std::string secret = text_arg(password, "password");
            request(self, [&](VexGate& gate) { gate.Logon(user, secret); });
          },
          "Logs on to the CQG gateway and waits until the connection is up.",
          py::arg("user_name"), py::arg("password"))
      .def(
          "Logoff",
          [](const PythonVexGate& self) { request(self, [](VexGate& gate) { gate.Logoff(); }); },
          "Logs the selected account off and waits until the connection is down.")
      .def(
          "get_account_from_gwaccountid",
          [](const PythonVexGate& self, py::handle GWAccountID) {
            const auto id = static_cast<long>(integer_arg(GWAccountID, "GWAccountID"));
            return request(self, [&](VexGate& gate) -> std::optional<CQGAccount> {
              const auto account = gate.get_account_from_gwaccountid(id);
              if (!account) return std::nullopt;
              return CQGAccount{account->GWAccountID(), account->GWAccountName()};
            });
          },
          "The client's account with this id, or None.", py::arg("GWAccountID"))
      .def(
          "subscribe_quote",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            request(self, [&](VexGate& gate) { gate.subscribe_quote(symbol); });
          },
          "Subscribes the symbol's quotes and waits, at most TIMEOUT, for the subscription.",
          py::arg("cqg_symbol"))
      .def(
          "unsubscribe_quote",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            request(self, [&](VexGate& gate) { gate.unsubscribe_quote(symbol); });
          },
          "Removes the symbol's subscribed instrument, if there is one.", py::arg("cqg_symbol"))
      .def(
          "subscribe_orderbook",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            request(self, [&](VexGate& gate) { gate.subscribe_orderbook(symbol); });
          },
          "Requests the symbol's ticks as order books and waits, at most TIMEOUT, for them.",
          py::arg("cqg_symbol"))
      .def(
          "unsubscribe_orderbook",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            request(self, [&](VexGate& gate) { gate.unsubscribe_orderbook(symbol); });
          },
          "Removes the symbol's tick request, if there is one.", py::arg("cqg_symbol"))
      .def(
          "get_instrument_from_cqg_symbol",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            return request(self, [&](VexGate& gate) -> std::optional<CQGInstrument> {
              const auto instrument = gate.get_instrument_from_cqg_symbol(symbol);
              if (!instrument) return std::nullopt;
              return CQGInstrument{instrument->FullName()};
            });
          },
          "The subscribed instrument the symbol names, or None.", py::arg("cqg_symbol"))
      .def(
          "get_ticks_from_cqg_symbol",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            return request(self, [&](VexGate& gate) {
              return series_of(gate.get_ticks_from_cqg_symbol(symbol));
            });
          },
          "The tick series the symbol names, or None.", py::arg("cqg_symbol"))
      .def(
          "subscribe_bar",
          [](const PythonVexGate& self, py::handle cqg_symbol, py::handle lookback_period,
             py::handle freq) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            const auto lookback = static_cast<long>(integer_arg(lookback_period, "lookback_period"));
            const std::string length = text_arg(freq, "freq");
            request(self, [&](VexGate& gate) { gate.subscribe_bar(symbol, lookback, length); });
          },
          "Subscribes the security's timed bars of length freq (one of FREQ_ALLOWED).",
          py::arg("cqg_symbol"), py::arg("lookback_period"), py::arg("freq") = "1Min")
      .def(
          "unsubscribe_bar",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            request(self, [&](VexGate& gate) { gate.unsubscribe_bar(symbol); });
          },
          "Removes the security's bar series and its cache.", py::arg("cqg_symbol"))
      .def(
          "get_subscribe_bars_data",
          [](const PythonVexGate& self, py::handle security) {
            const core::Security& s = security_arg(security);
            return request(self, [&](VexGate& gate) { return gate.get_subscribe_bars_data(s); });
          },
          "The security's cached completed bars, oldest first, or None.", py::arg("security"))
      .def(
          "get_timedbars_from_cqg_symbol",
          [](const PythonVexGate& self, py::handle cqg_symbol) {
            const std::string symbol = text_arg(cqg_symbol, "cqg_symbol");
            return request(self, [&](VexGate& gate) {
              return series_of(gate.get_timedbars_from_cqg_symbol(symbol));
            });
          },
          "The bar series the symbol names, or None.", py::arg("cqg_symbol"))
      .def(
          "place_order",
          [](const PythonVexGate& self, py::handle order) {
            if (!py::isinstance<framework::Order>(order)) {
              raise_type_error("order", "an Order", order);
            }
            const framework::Order placed = order.cast<framework::Order>();
            return request(self, [&](VexGate& gate) { return gate.place_order(placed); });
          },
          "Places the order and returns its id (GUID) once it has arrived at the venue.",
          py::arg("order"))
      .def(
          "cancel_order",
          [](const PythonVexGate& self, py::handle orderid) {
            const std::string id = text_arg(orderid, "orderid");
            request(self, [&](VexGate& gate) { gate.cancel_order(id); });
          },
          "Asks the client to cancel the order with this id.", py::arg("orderid"))
      .def(
          "subscribe_account_and_positions",
          [](const PythonVexGate& self, py::handle GWAccountID) {
            const auto id = static_cast<long>(integer_arg(GWAccountID, "GWAccountID"));
            request(self, [&](VexGate& gate) { gate.subscribe_account_and_positions(id); });
          },
          "Trades on this account: switches account data on and reads its balance and "
          "positions.",
          py::arg("GWAccountID"))
      .def(
          "unsubscribe_account_and_positions",
          [](const PythonVexGate& self, py::handle GWAccountID) {
            const auto id = static_cast<long>(integer_arg(GWAccountID, "GWAccountID"));
            request(self, [&](VexGate& gate) { gate.unsubscribe_account_and_positions(id); });
          },
          "Switches account and position data off.", py::arg("GWAccountID"))
      .def(
          "update_account_balance",
          [](const PythonVexGate& self) {
            request(self, [](VexGate& gate) { gate.update_account_balance(); });
          },
          "Reads the selected account's balance into account_balance.")
      .def(
          "update_positions",
          [](const PythonVexGate& self) {
            request(self, [](VexGate& gate) { gate.update_positions(); });
          },
          "Reads the selected account's open positions into positions.")
      .def_property_readonly(
          "account_balance",
          [](const PythonVexGate& self) {
            return request(self, [](VexGate& gate) { return gate.account_balance(); });
          },
          "The balance as the last update read it (a copy).")
      .def_property_readonly(
          "positions",
          [](const PythonVexGate& self) {
            return request(self, [](VexGate& gate) { return gate.positions(); });
          },
          "The open positions as the last update read them (a copy).")
      .def_property_readonly(
          "GWAccountID",
          [](const PythonVexGate& self) {
            return request(self, [](VexGate& gate) { return gate.GWAccountID(); });
          },
          "The selected account's id; None before the first subscription.")
      .def_property_readonly(
          "order_id",
          [](const PythonVexGate& self) {
            return request(self, [](VexGate& gate) { return gate.order_id(); });
          },
          "The id handed from an order's arrival to place_order; None except between the two.")
      .def_property(
          "wait_timeout", [](const PythonVexGate& self) { return seconds(self.gate->wait_timeout); },
          [](PythonVexGate& self, double value) {
            self.gate->wait_timeout = std::chrono::duration<double>(value);
          },
          "Seconds a request waits for its answer (TIMEOUT); set it before the requests it is "
          "meant for.")
      .def_property(
          "account_reload_pause",
          [](const PythonVexGate& self) { return seconds(self.gate->account_reload_pause); },
          [](PythonVexGate& self, double value) {
            self.gate->account_reload_pause = std::chrono::duration<double>(value);
          },
          "Seconds the account subscription pauses between switching account data off and on.");

  module.def(
      "_place_order_loop",
      [](const PythonVexGate& self, py::handle order, std::size_t count) {
        if (!py::isinstance<framework::Order>(order)) raise_type_error("order", "an Order", order);
        const framework::Order placed = order.cast<framework::Order>();
        return request(self, [&](VexGate& gate) {
          const auto start = std::chrono::steady_clock::now();
          for (std::size_t i = 0; i < count; ++i) gate.place_order(placed);
          return seconds(std::chrono::steady_clock::now() - start);
        });
      },
      "Places the order `count` times from C++ and returns the seconds taken: the floor that "
      "the benchmark compares VexGate.place_order from Python with.",
      py::arg("vexgate"), py::arg("order"), py::arg("count"));

  const auto event = [&vexgate](const char* name, framework::Event VexGate::*member,
                                const char* doc) {
    vexgate.def_property_readonly(
        name,
        [member](const PythonVexGate& self) -> framework::Event& { return (*self.gate).*member; },
        py::return_value_policy::reference_internal, doc);
  };
  event("eventGatewayIsUp", &VexGate::eventGatewayIsUp, "Set when the connection is up.");
  event("eventGatewayIsDown", &VexGate::eventGatewayIsDown, "Set when the connection is down.");
  event("eventAccountIsReady", &VexGate::eventAccountIsReady,
        "Set when the client has reloaded its accounts.");
  event("eventOrderPlaced", &VexGate::eventOrderPlaced,
        "Set when a placed order has arrived at the venue.");
  event("eventQuoteDone", &VexGate::eventQuoteDone, "Set when a quote subscription resolves.");
  event("eventOrderbookDone", &VexGate::eventOrderbookDone,
        "Set when an order-book subscription resolves.");
  event("eventBarDone", &VexGate::eventBarDone, "Set when a bar subscription resolves.");
}

}  // namespace zantrix::python
