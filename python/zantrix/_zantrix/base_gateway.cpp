// The framework's gateway object as a Python class subclasses it, and the
// records VexGate hands it (OrderUpdate, DealUpdate).
//
// VexGate calls a gateway object's process_* operations on the CQG worker
// thread. For a Python subclass each call takes the interpreter lock, looks
// the method up on the Python object and calls it with a new record object.
// An exception the method raises is traced with its traceback, one Trace line
// each, and goes no further: the worker delivers the next event. The two
// lookups are called the same way, from either thread; an exception they
// raise becomes the error of the same kind in the gateway, which the request
// (or the handler) that asked reports. Once the interpreter shuts down the
// gateway object hears nothing more.
//
// A Python gateway object is retired (no callback reaches it any more; those
// under way finish first) when Python collects it, with the interpreter lock
// released meanwhile so that a callback waiting for the lock can finish.
#include <pybind11/stl.h>

#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "python/zantrix/_zantrix/environment.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

namespace zantrix::python {
namespace {

using framework::BaseGateway;
using framework::DealUpdate;
using framework::OrderUpdate;

bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// Traces what a callback raised: a heading, then the traceback's lines.
void trace_exception(const std::string& where, py::error_already_set& error) {
  std::string text;
  try {
    const py::object lines = py::module_::import("traceback")
                                 .attr("format_exception")(error.type(), error.value(),
                                                           error.trace());
    text = py::str("").attr("join")(lines).cast<std::string>();
  } catch (const py::error_already_set&) {
    text = error.what();
  }
  gateways::cqg::Trace("Exception in " + where + ":");
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) gateways::cqg::Trace(line);
}

// The error of the gateway's kind for what a lookup raised.
[[noreturn]] void rethrow_in_gateway(const py::error_already_set& error) {
  const std::string message = py::str(error.value()).cast<std::string>();
  if (error.matches(PyExc_KeyError)) throw framework::KeyError(message);
  if (error.matches(PyExc_TypeError)) throw framework::TypeError(message);
  if (error.matches(PyExc_ValueError)) throw framework::ValueError(message);
  throw std::runtime_error(message);
}

// The interpreter lock for a call into Python from a thread of the CQG side.
// The thread's Python thread state is made on its first call and kept for
// the thread's life: making and dropping one for each of a stream of quotes
// would cost more than the call itself.
class Locked {
 public:
  Locked() {
    thread_local bool kept = false;
    if (!kept) {
      acquired_.inc_ref();
      kept = true;
    }
  }

 private:
  py::gil_scoped_acquire acquired_;
};

// Where a gateway object keeps its environment's Python object alive.
constexpr const char* kRavelhostAttribute = "_BaseGateway__ravelhost";

class PythonBaseGateway final : public BaseGateway {
 public:
  ~PythonBaseGateway() override {
    if (PyGILState_Check() != 0) {
      const py::gil_scoped_release unlocked;
      retire();
    } else {
      retire();
    }
  }

  void process_quote(const core::Quote& quote) override { hand_on("process_quote", quote); }
  void process_orderbook(const core::OrderBook& orderbook) override {
    hand_on("process_orderbook", orderbook);
  }
  void process_order(const OrderUpdate& update) override { hand_on("process_order", update); }
  void process_deal(const DealUpdate& deal) override { hand_on("process_deal", deal); }

  std::optional<core::Security> get_zx_security_from_cqg_symbol(
      const std::string& cqg_symbol) const override {
    if (interpreter_finalizing()) return std::nullopt;
    const Locked locked;
    const KeptSelf self(*this);
    if (!self) return std::nullopt;
    try {
      const py::object found = implementation("get_zx_security_from_cqg_symbol")(cqg_symbol);
      if (found.is_none()) return std::nullopt;
      return security_arg(found, "get_zx_security_from_cqg_symbol's result");
    } catch (const py::error_already_set& error) {
      rethrow_in_gateway(error);
    }
  }

  std::string get_cqg_symbol_from_zx_security(const core::Security& security) const override {
    if (interpreter_finalizing()) throw std::runtime_error("the Python interpreter has ended");
    const Locked locked;
    const KeptSelf self(*this);
    if (!self) throw framework::KeyError(core::to_string(security));
    try {
      const py::object symbol =
          implementation("get_cqg_symbol_from_zx_security")(security_to_py(security));
      return text_arg(symbol, "get_cqg_symbol_from_zx_security's result");
    } catch (const py::error_already_set& error) {
      rethrow_in_gateway(error);
    }
  }

 private:
  // The Python method; a NotImplementedError naming it when the subclass
  // has none. The interpreter lock must be held.
  py::function implementation(const char* name) const {
    py::function method = py::get_override(static_cast<const BaseGateway*>(this), name);
    if (!method) {
      PyErr_Format(PyExc_NotImplementedError, "%s is not implemented by this gateway", name);
      throw py::error_already_set();
    }
    return method;
  }

  // A reference to the Python object for the length of a call into it, so
  // that it cannot be collected during the call; empty once Python has begun
  // to collect it (its destructor then waits in retire() for this call). The
  // reference is not dropped here when it is the last one: this thread is
  // inside a guard of the hold, where collecting the object would wait in
  // retire() for this very call; the main thread drops it instead. Made and
  // destroyed with the interpreter lock held.
  class KeptSelf {
   public:
    explicit KeptSelf(const PythonBaseGateway& gateway) {
      const auto* type = py::detail::get_type_info(typeid(BaseGateway));
      self_ = py::reinterpret_borrow<py::object>(
          py::detail::get_object_handle(static_cast<const BaseGateway*>(&gateway), type));
    }
    ~KeptSelf() {
      if (!self_ || Py_REFCNT(self_.ptr()) > 1) return;
      PyObject* last = self_.release().ptr();
      if (Py_AddPendingCall(&drop_reference, last) != 0) {
        // The queue is full: keeping the object is the safe way to fail.
        gateways::cqg::Trace("BaseGateway: a collected gateway object is kept until exit");
      }
    }
    KeptSelf(const KeptSelf&) = delete;
    KeptSelf& operator=(const KeptSelf&) = delete;
    explicit operator bool() const { return static_cast<bool>(self_); }

   private:
    py::object self_;
  };

  template <class Record>
  void hand_on(const char* name, const Record& record) const {
    if (interpreter_finalizing()) return;
    const Locked locked;
    const KeptSelf self(*this);
    if (!self) return;
    try {
      implementation(name)(record);
    } catch (py::error_already_set& error) {
      trace_exception(std::string("BaseGateway.") + name, error);
    } catch (const std::exception& error) {
      gateways::cqg::Trace(std::string("Exception in BaseGateway.") + name + ": " +
                           error.what());
    }
  }

  static int drop_reference(void* object) {
    Py_DECREF(static_cast<PyObject*>(object));
    return 0;
  }
};

template <class Record>
void bind_latest(py::module_& module, const char* name, const char* doc) {
  using Latest = framework::LatestRecords<Record>;
  py::class_<Latest>(module, name, doc)
      .def(
          "open", [](Latest& latest, py::handle security) { latest.open(security_arg(security)); },
          "Gives the security an empty entry unless it has one.", py::arg("security"))
      .def("__contains__", [](const Latest& latest,
                              py::handle security) { return latest.contains(security_arg(security)); })
      .def(
          "__getitem__",
          [](const Latest& latest, py::handle security) {
            return latest.at(security_arg(security));
          },
          "The latest record of the security, or None before its first; a KeyError for a "
          "security without an entry.")
      .def("__setitem__", [](Latest& latest, py::handle security, const Record& record) {
        latest.store(security_arg(security), record);
      });
}

}  // namespace

void bind_base_gateway(py::module_& module) {
  using framework::DateTime;
  using framework::OrderStatus;

  py::class_<OrderUpdate>(module, "OrderUpdate", "The named values of an order update.")
      .def(py::init([](std::string order_id, py::handle updated_time, double filled_avg_price,
                       double filled_quantity, OrderStatus status) {
             return OrderUpdate{.order_id = std::move(order_id),
                                .updated_time = datetime_or_unset(updated_time, "updated_time"),
                                .filled_avg_price = filled_avg_price,
                                .filled_quantity = filled_quantity,
                                .status = status};
           }),
           py::arg("order_id"), py::arg("updated_time") = py::none(),
           py::arg("filled_avg_price") = 0.0, py::arg("filled_quantity") = 0.0,
           py::arg("status") = OrderStatus::UNKNOWN)
      .def_readwrite("order_id", &OrderUpdate::order_id)
      .def_property(
          "updated_time", [](const OrderUpdate& u) { return datetime_to_py(u.updated_time); },
          [](OrderUpdate& u, py::handle value) {
            u.updated_time = datetime_arg(value, "updated_time");
          })
      .def_readwrite("filled_avg_price", &OrderUpdate::filled_avg_price)
      .def_readwrite("filled_quantity", &OrderUpdate::filled_quantity)
      .def_readwrite("status", &OrderUpdate::status)
      .def("__eq__", &records_equal<OrderUpdate>)
      .def("__repr__",
           [](const OrderUpdate& u) {
             return py::str("OrderUpdate(order_id={!r}, updated_time={!r}, "
                            "filled_avg_price={!r}, filled_quantity={!r}, status={})")
                 .format(u.order_id, datetime_to_py(u.updated_time), u.filled_avg_price,
                         u.filled_quantity, framework::repr(u.status));
           })
      .attr("__hash__") = py::none();

  py::class_<DealUpdate>(module, "DealUpdate", "The named values of a deal: one fill of an order.")
      .def(py::init([](std::string deal_id, std::string order_id, py::handle updated_time,
                       double filled_avg_price, double filled_quantity) {
             return DealUpdate{.deal_id = std::move(deal_id),
                               .order_id = std::move(order_id),
                               .updated_time = datetime_or_unset(updated_time, "updated_time"),
                               .filled_avg_price = filled_avg_price,
                               .filled_quantity = filled_quantity};
           }),
           py::arg("deal_id"), py::arg("order_id"), py::arg("updated_time") = py::none(),
           py::arg("filled_avg_price") = 0.0, py::arg("filled_quantity") = 0.0)
      .def_readwrite("deal_id", &DealUpdate::deal_id)
      .def_readwrite("order_id", &DealUpdate::order_id)
      .def_property(
          "updated_time", [](const DealUpdate& d) { return datetime_to_py(d.updated_time); },
          [](DealUpdate& d, py::handle value) {
            d.updated_time = datetime_arg(value, "updated_time");
          })
      .def_readwrite("filled_avg_price", &DealUpdate::filled_avg_price)
      .def_readwrite("filled_quantity", &DealUpdate::filled_quantity)
      .def("__eq__", &records_equal<DealUpdate>)
      .def("__repr__",
           [](const DealUpdate& d) {
             return py::str("DealUpdate(deal_id={!r}, order_id={!r}, updated_time={!r}, "
                            "filled_avg_price={!r}, filled_quantity={!r})")
                 .format(d.deal_id, d.order_id, datetime_to_py(d.updated_time),
                         d.filled_avg_price, d.filled_quantity);
           })
      .attr("__hash__") = py::none();

  bind_latest<core::Quote>(module, "LatestQuotes",
                           "The latest quote of each security the gateway object trades.");
  bind_latest<core::OrderBook>(module, "LatestOrderBooks",
                               "The latest order book of each security the gateway object trades.");

  py::class_<BaseGateway, PythonBaseGateway>(
      module, "BaseGateway", py::dynamic_attr(),
      "The framework's gateway object that VexGate calls back; subclass it in Python.\n"
      "\n"
      "A subclass calls BaseGateway.__init__ and implements process_quote(quote),\n"
      "process_orderbook(orderbook), process_order(update), process_deal(deal),\n"
      "get_zx_security_from_cqg_symbol(cqg_symbol) (a Security or None) and\n"
      "get_cqg_symbol_from_zx_security(security) (a str; KeyError for a security it does\n"
      "not trade), and opens the cqg_quotes and cqg_orderbooks entries of the securities it\n"
      "trades. The process_* methods run on the CQG worker thread with the interpreter lock\n"
      "held, while the engine's threads run too. A callback may record what it receives,\n"
      "put it on a queue or answer from its own thread; it must not call the gateway (VexGate\n"
      "refuses such a call on the worker thread), and no lock a callback takes may be held\n"
      "across a gateway call: the two threads would wait for each other for ever. An\n"
      "exception a callback raises is traced with its traceback and the worker goes on.\n"
      "Updates and deals of an order may come before place_order has returned its id: hold\n"
      "what cannot be matched yet until the id is known. The object is retired when Python\n"
      "collects it, so no callback reaches it afterwards.")
      .def(py::init<>())
      .def_property(
          "ravelhost",
          [](const py::object& self) { return py::getattr(self, kRavelhostAttribute, py::none()); },
          [](const py::object& self, const py::object& host) {
            BaseGateway& gateway = self.cast<BaseGateway&>();
            gateway.ravelhost = host.is_none() ? nullptr : &host.cast<PythonRavelhost&>().host();
            py::setattr(self, kRavelhostAttribute, host);
          },
          "The client environment (a Ravelhost) that VexGate.Init reaches through this object; "
          "this object keeps it alive.")
      .def_property_readonly(
          "cqg_quotes", [](BaseGateway& gateway) -> auto& { return gateway.cqg_quotes; },
          py::return_value_policy::reference_internal,
          "The latest quote of each security, readable from any thread.")
      .def_property_readonly(
          "cqg_orderbooks", [](BaseGateway& gateway) -> auto& { return gateway.cqg_orderbooks; },
          py::return_value_policy::reference_internal,
          "The latest order book of each security, readable from any thread.")
      .def(
          "retire",
          [](BaseGateway& gateway) {
            const py::gil_scoped_release unlocked;
            gateway.retire();
          },
          "Ends callbacks into this object now; those under way finish first.");
}

}  // namespace zantrix::python
