// The simulated CQG market of `zantrix demo`, for paper trading from Python:
// PaperMarket replays the stored one-minute history of its instruments (the
// demo's by default) as the simulated client's quotes, ticks and bars, and
// VexGate trades against it as against the real client. Making one
// registers the simulated client library, so a Ravelhost made afterwards
// starts on this market; one may be open at a time.
//
// Stepped, the engine replays one minute at a time (step), each call
// returning once the worker has delivered that minute's events; the same
// history, options and calls give the same session. Free-running (start),
// a thread of the market's own replays a minute every `interval` seconds
// until the history ends or stop. Every call that waits for the client
// releases the interpreter lock meanwhile.
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "apps/zantrix/demo/market_tape.h"
#include "apps/zantrix/demo/paper_market.h"
#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/event.h"

namespace zantrix::python {
namespace {

namespace demo = app::demo;
namespace cqgsim = platform::cqgsim;
using framework::DateTime;

// One replayed minute: its number (from 0), its time and the instruments
// whose bar it completed, by their index.
struct Minute {
  std::size_t index;
  DateTime time;
  std::vector<std::size_t> instruments;
};

struct VenueFill {
  std::string order_id;
  std::string deal_id;
  std::string instrument;
  framework::Direction direction;
  double price;
  long quantity;
  DateTime time;
};

struct VenuePosition {
  long account_id;
  std::string instrument;
  long quantity;
};

// The only PaperMarket of the process may be open.
std::atomic<bool> market_open{false};

demo::TapeInstrument without_bars(const demo::TapeInstrument& instrument) {
  return {.security = instrument.security,
          .cqg_full_name = instrument.cqg_full_name,
          .cqg_symbol = instrument.cqg_symbol,
          .tick_size = instrument.tick_size,
          .point_value = instrument.point_value,
          .trade_size = instrument.trade_size,
          .can_short = instrument.can_short};
}

class PythonPaperMarket {
 public:
  PythonPaperMarket(std::vector<demo::TapeInstrument> instruments,
                    demo::PaperMarketOptions options, std::size_t passes)
      : options_(std::move(options)) {
    if (passes == 0) throw framework::ValueError("a PaperMarket replays its history at least once");
    if (market_open.exchange(true)) {
      throw std::runtime_error("a PaperMarket is open in this process already: close it first");
    }
    try {
      tape_ = demo::load_tape(std::move(instruments));
      market_.emplace(tape_, options_);
    } catch (...) {
      market_open = false;
      throw;
    }
    minutes_ = tape_.steps.size() * passes;
    days_ = tape_.days * passes;
  }

  ~PythonPaperMarket() {
    // The replay may be waiting for the worker, which may wait for the lock.
    std::optional<py::gil_scoped_release> released;
    if (PyGILState_Check() != 0) released.emplace();
    close();
  }
  PythonPaperMarket(const PythonPaperMarket&) = delete;
  PythonPaperMarket& operator=(const PythonPaperMarket&) = delete;

  std::optional<Minute> step() {
    const std::lock_guard lock(mutex_);
    require_open();
    if (runner_.joinable()) {
      throw std::runtime_error("the PaperMarket runs on its own clock: stop() it before stepping");
    }
    return replay_next();
  }

  void sync() {
    const std::lock_guard lock(mutex_);
    require_open();
    market_->simulator().Sync();
  }

  void start(double interval) {
    const std::lock_guard lock(mutex_);
    require_open();
    if (runner_.joinable()) throw std::runtime_error("the PaperMarket runs already");
    finished_.clear();
    runner_error_ = nullptr;
    const auto pause = std::chrono::duration<double>(interval);
    runner_ = std::jthread([this, pause](std::stop_token stop) { run(stop, pause); });
  }

  // Ends the free-running replay and raises its error, if it had one.
  void stop() {
    std::jthread runner;
    {
      const std::lock_guard lock(mutex_);
      runner = std::move(runner_);
    }
    if (runner.joinable()) {
      runner.request_stop();
      wake_.notify_all();
      runner.join();
    }
    if (auto error = std::exchange(runner_error_, nullptr)) std::rethrow_exception(error);
  }

  bool wait(std::optional<double> timeout) {
    return timeout ? finished_.wait(std::chrono::duration<double>(*timeout)) : finished_.wait();
  }

  void close() {
    try {
      stop();
    } catch (...) {
      // Closing ends the market whatever its replay met.
    }
    const std::lock_guard lock(mutex_);
    if (!market_) return;
    market_.reset();
    market_open = false;
  }

  bool running() const {
    const std::lock_guard lock(mutex_);
    return runner_.joinable() && !finished_.is_set();
  }

  std::size_t replayed() const {
    const std::lock_guard lock(mutex_);
    return next_;
  }

  std::optional<DateTime> time() const {
    const std::lock_guard lock(mutex_);
    if (next_ == 0 || !market_) return std::nullopt;
    return market_->time_at(next_ - 1);
  }

  std::optional<DateTime> next_time() const {
    const std::lock_guard lock(mutex_);
    if (next_ == minutes_ || !market_) return std::nullopt;
    return market_->time_at(next_);
  }

  std::vector<demo::TapeInstrument> instruments() const {
    std::vector<demo::TapeInstrument> out;
    for (const auto& instrument : tape_.instruments) out.push_back(without_bars(instrument));
    return out;
  }

  std::size_t minutes() const { return minutes_; }
  std::size_t days() const { return days_; }
  const demo::PaperMarketOptions& options() const { return options_; }

  cqgsim::Simulator& simulator() {
    const std::lock_guard lock(mutex_);
    require_open();
    return market_->simulator();
  }

 private:
  void require_open() const {
    if (!market_) throw std::runtime_error("the PaperMarket is closed");
  }

  // Under mutex_.
  std::optional<Minute> replay_next() {
    if (next_ == minutes_) return std::nullopt;
    const std::size_t s = next_++;
    market_->replay(s);
    market_->simulator().Sync();
    Minute minute{.index = s, .time = market_->time_at(s), .instruments = {}};
    for (const auto& [i, b] : market_->step_at(s).bars) minute.instruments.push_back(i);
    return minute;
  }

  void run(const std::stop_token& stop, std::chrono::duration<double> pause) {
    try {
      while (!stop.stop_requested()) {
        std::unique_lock lock(mutex_);
        if (!replay_next()) break;
        wake_.wait_for(lock, stop, pause, [] { return false; });
      }
    } catch (...) {
      runner_error_ = std::current_exception();
    }
    finished_.set();
  }

  demo::PaperMarketOptions options_;
  demo::MarketTape tape_;
  std::size_t minutes_ = 0;
  std::size_t days_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::optional<demo::PaperMarket> market_;
  std::size_t next_ = 0;
  std::jthread runner_;
  // Written by the runner before it sets finished_, read after its join.
  std::exception_ptr runner_error_;
  framework::Event finished_;
};

template <class Fields, class Field>
void set_field(Fields& fields, const std::string& name, const char* field_name, Field Fields::*field,
               py::handle value, bool& found) {
  if (name != field_name) return;
  found = true;
  if constexpr (std::is_same_v<Field, bool>) {
    fields.*field = PyObject_IsTrue(value.ptr()) == 1;
  } else {
    fields.*field = number_arg(value, field_name);
  }
}

cqgsim::Misbehaviour misbehaviour_from(const py::kwargs& rates) {
  cqgsim::Misbehaviour out;
  for (const auto& [key, value] : rates) {
    const std::string name = key.cast<std::string>();
    bool found = false;
    set_field(out, name, "partialFill", &cqgsim::Misbehaviour::partialFill, value, found);
    set_field(out, name, "repeatFill", &cqgsim::Misbehaviour::repeatFill, value, found);
    set_field(out, name, "repeatFillOnReload", &cqgsim::Misbehaviour::repeatFillOnReload, value,
              found);
    set_field(out, name, "placeFailsAfterArrival", &cqgsim::Misbehaviour::placeFailsAfterArrival,
              value, found);
    set_field(out, name, "emptyProperty", &cqgsim::Misbehaviour::emptyProperty, value, found);
    set_field(out, name, "nullOrderWithFill", &cqgsim::Misbehaviour::nullOrderWithFill, value,
              found);
    if (!found) {
      throw py::type_error("set_misbehaviour() got an unexpected keyword argument '" + name + "'");
    }
  }
  return out;
}

cqgsim::Quirks quirks_from(const py::kwargs& flags) {
  cqgsim::Quirks out;
  for (const auto& [key, value] : flags) {
    const std::string name = key.cast<std::string>();
    bool found = false;
    set_field(out, name, "eventsDuringCalls", &cqgsim::Quirks::eventsDuringCalls, value, found);
    set_field(out, name, "fillOnArrival", &cqgsim::Quirks::fillOnArrival, value, found);
    set_field(out, name, "accountsReload", &cqgsim::Quirks::accountsReload, value, found);
    set_field(out, name, "guidChangesOnPlace", &cqgsim::Quirks::guidChangesOnPlace, value, found);
    set_field(out, name, "partialFills", &cqgsim::Quirks::partialFills, value, found);
    set_field(out, name, "repeatFillsOnReload", &cqgsim::Quirks::repeatFillsOnReload, value,
              found);
    set_field(out, name, "reloadOnSwitchOff", &cqgsim::Quirks::reloadOnSwitchOff, value, found);
    set_field(out, name, "itemByGuidFollowsConfiguration",
              &cqgsim::Quirks::itemByGuidFollowsConfiguration, value, found);
    if (!found) {
      throw py::type_error("set_quirks() got an unexpected keyword argument '" + name + "'");
    }
  }
  return out;
}

template <class Work>
auto unlocked(Work&& work) {
  const py::gil_scoped_release released;
  return work();
}

}  // namespace

void bind_paper(py::module_& module) {
  py::class_<demo::TapeInstrument>(module, "TapeInstrument",
                                   "One instrument of a paper market and how the market lists it.")
      .def(py::init([](py::handle security, std::string cqg_full_name,
                       std::optional<std::string> cqg_symbol, double tick_size,
                       double point_value, double trade_size, bool can_short) {
             std::string symbol = cqg_symbol.value_or(
                 cqg_full_name.substr(cqg_full_name.rfind('.') == std::string::npos
                                          ? 0
                                          : cqg_full_name.rfind('.') + 1));
             return demo::TapeInstrument{.security = security_arg(security),
                                         .cqg_full_name = std::move(cqg_full_name),
                                         .cqg_symbol = std::move(symbol),
                                         .tick_size = tick_size,
                                         .point_value = point_value,
                                         .trade_size = trade_size,
                                         .can_short = can_short};
           }),
           py::arg("security"), py::arg("cqg_full_name"), py::arg("cqg_symbol") = py::none(),
           py::arg("tick_size") = 0.01, py::arg("point_value") = 1.0,
           py::arg("trade_size") = 1.0, py::arg("can_short") = false)
      .def_property_readonly("security",
                             [](const demo::TapeInstrument& i) { return security_to_py(i.security); })
      .def_readonly("cqg_full_name", &demo::TapeInstrument::cqg_full_name)
      .def_readonly("cqg_symbol", &demo::TapeInstrument::cqg_symbol)
      .def_readonly("tick_size", &demo::TapeInstrument::tick_size)
      .def_readonly("point_value", &demo::TapeInstrument::point_value)
      .def_readonly("trade_size", &demo::TapeInstrument::trade_size)
      .def_readonly("can_short", &demo::TapeInstrument::can_short)
      .def("__repr__", [](const demo::TapeInstrument& i) {
        return py::str("TapeInstrument(security={!r}, cqg_full_name={!r}, cqg_symbol={!r}, "
                       "tick_size={!r}, point_value={!r}, trade_size={!r}, can_short={!r})")
            .format(security_to_py(i.security), i.cqg_full_name, i.cqg_symbol, i.tick_size,
                    i.point_value, i.trade_size, i.can_short);
      });

  module.def(
      "demo_instruments",
      [] {
        std::vector<demo::TapeInstrument> out;
        for (const auto& instrument : demo::demo_instruments()) {
          out.push_back(without_bars(instrument));
        }
        return out;
      },
      "The instruments of zantrix demo: the stock HK.00700 and the futures series HK.HSImain.");

  py::class_<Minute>(module, "Minute", "One replayed minute of a paper market.")
      .def_readonly("index", &Minute::index)
      .def_property_readonly("time", [](const Minute& m) { return datetime_to_py(m.time); })
      .def_readonly("instruments", &Minute::instruments)
      .def("__repr__", [](const Minute& m) {
        return py::str("Minute(index={!r}, time={!r}, instruments={!r})")
            .format(m.index, datetime_to_py(m.time), m.instruments);
      });

  py::class_<VenueFill>(module, "VenueFill", "A fill the simulated venue reported.")
      .def_readonly("order_id", &VenueFill::order_id)
      .def_readonly("deal_id", &VenueFill::deal_id)
      .def_readonly("instrument", &VenueFill::instrument)
      .def_readonly("direction", &VenueFill::direction)
      .def_readonly("price", &VenueFill::price)
      .def_readonly("quantity", &VenueFill::quantity)
      .def_property_readonly("time", [](const VenueFill& f) { return datetime_to_py(f.time); });

  py::class_<VenuePosition>(module, "VenuePosition",
                            "A position the simulated venue holds; negative when short.")
      .def_readonly("account_id", &VenuePosition::account_id)
      .def_readonly("instrument", &VenuePosition::instrument)
      .def_readonly("quantity", &VenuePosition::quantity);

  py::class_<PythonPaperMarket>(
      module, "PaperMarket",
      "The simulated CQG market replaying stored history; a Ravelhost made afterwards starts "
      "on it.")
      .def(py::init([](std::optional<std::vector<demo::TapeInstrument>> instruments,
                       std::size_t lookback, std::uint64_t seed, long account_id,
                       std::string account_name, double starting_cash, std::size_t passes) {
             auto chosen = instruments ? std::move(*instruments) : demo::demo_instruments();
             demo::PaperMarketOptions options{.lookback = lookback,
                                              .seed = seed,
                                              .account_id = account_id,
                                              .account_name = std::move(account_name),
                                              .starting_cash = starting_cash};
             const py::gil_scoped_release released;
             return std::make_unique<PythonPaperMarket>(std::move(chosen), std::move(options),
                                                        passes);
           }),
           "Loads the instruments' stored one-minute history (DATA_PATH) and lists them with "
           "the account on the simulated market.",
           py::arg("instruments") = py::none(), py::kw_only(), py::arg("lookback") = 120,
           py::arg("seed") = 20240319, py::arg("account_id") = 20240319,
           py::arg("account_name") = "DEMO-HK", py::arg("starting_cash") = 1'000'000.0,
           py::arg("passes") = 1)
      .def(
          "step", [](PythonPaperMarket& m) { return unlocked([&] { return m.step(); }); },
          "Replays the next minute and returns it once the worker has delivered its events; "
          "None at the end of the history.")
      .def(
          "sync", [](PythonPaperMarket& m) { unlocked([&] { m.sync(); }); },
          "Returns once the worker has delivered everything asked of the market so far.")
      .def(
          "start",
          [](PythonPaperMarket& m, double interval) { unlocked([&] { m.start(interval); }); },
          "Replays a minute every `interval` seconds on a thread of the market's own.",
          py::arg("interval") = 0.01)
      .def(
          "stop", [](PythonPaperMarket& m) { unlocked([&] { m.stop(); }); },
          "Ends the free-running replay after its current minute; raises what ended it, if an "
          "error did.")
      .def(
          "wait",
          [](PythonPaperMarket& m, std::optional<double> timeout) {
            return unlocked([&] { return m.wait(timeout); });
          },
          "Waits until the free-running replay has ended, at most `timeout` seconds; returns "
          "whether it has.",
          py::arg("timeout") = py::none())
      .def(
          "close", [](PythonPaperMarket& m) { unlocked([&] { m.close(); }); },
          "Stops the replay and removes the simulated client library; another market may then "
          "open.")
      .def("__enter__", [](const py::object& self) { return self; })
      .def("__exit__",
           [](PythonPaperMarket& m, const py::args&) { unlocked([&] { m.close(); }); })
      .def_property_readonly("running", &PythonPaperMarket::running,
                             "Whether the free-running replay is under way.")
      .def_property_readonly("instruments", &PythonPaperMarket::instruments,
                             "The market's instruments, in the order minutes name them.")
      .def_property_readonly("minutes", &PythonPaperMarket::minutes,
                             "The minutes the market replays in all.")
      .def_property_readonly("days", &PythonPaperMarket::days,
                             "The trading days the market replays in all.")
      .def_property_readonly("replayed", &PythonPaperMarket::replayed,
                             "The minutes replayed so far.")
      .def_property_readonly(
          "time",
          [](const PythonPaperMarket& m) -> py::object {
            const auto t = m.time();
            return t ? datetime_to_py(*t) : py::none();
          },
          "The time of the latest replayed minute; None before the first.")
      .def_property_readonly(
          "next_time",
          [](const PythonPaperMarket& m) -> py::object {
            const auto t = m.next_time();
            return t ? datetime_to_py(*t) : py::none();
          },
          "The time of the minute step() replays next; None at the end of the history.")
      .def_property_readonly(
          "account_id", [](const PythonPaperMarket& m) { return m.options().account_id; },
          "The id of the market's account.")
      .def_property_readonly(
          "account_name", [](const PythonPaperMarket& m) { return m.options().account_name; },
          "The name of the market's account.")
      .def_property_readonly(
          "starting_cash", [](const PythonPaperMarket& m) { return m.options().starting_cash; },
          "The cash the account starts with.")
      .def(
          "set_misbehaviour",
          [](PythonPaperMarket& m, const py::kwargs& rates) {
            const auto chosen = misbehaviour_from(rates);
            unlocked([&] { m.simulator().SetMisbehaviour(chosen); });
          },
          "Sets the probabilities of the venue's faults, drawn from the seed (partialFill, "
          "repeatFill, repeatFillOnReload, placeFailsAfterArrival, emptyProperty, "
          "nullOrderWithFill); those not named are 0.")
      .def(
          "set_quirks",
          [](PythonPaperMarket& m, const py::kwargs& flags) {
            const auto chosen = quirks_from(flags);
            unlocked([&] { m.simulator().SetQuirks(chosen); });
          },
          "Sets the ways the simulated client behaves as the real one may (fillOnArrival, "
          "partialFills, ...); those not named are off.")
      .def(
          "run_market",
          [](PythonPaperMarket& m, const std::string& cqg_symbol, long steps) {
            unlocked([&] {
              m.simulator().RunMarket(cqg_symbol, steps);
              m.simulator().Sync();
            });
          },
          "Moves the instrument's quotes `steps` times off the history, one quote event each "
          "(a walk drawn from the seed); returns once they have been delivered.",
          py::arg("cqg_symbol"), py::arg("steps"))
      .def(
          "hold_answers",
          [](PythonPaperMarket& m, const std::string& member) {
            unlocked([&] { m.simulator().HoldAnswers(member); });
          },
          "Keeps what a call of the client (\"CQGCEL.GWLogon\") raises until release_answers.",
          py::arg("member"))
      .def(
          "release_answers",
          [](PythonPaperMarket& m, const std::string& member) {
            unlocked([&] { m.simulator().ReleaseAnswers(member); });
          },
          "Raises what was held for the call; later answers come at once.", py::arg("member"))
      .def(
          "fills",
          [](PythonPaperMarket& m) {
            const auto reports = unlocked([&] { return m.simulator().Fills(); });
            std::vector<VenueFill> out;
            for (const auto& r : reports) {
              out.push_back({r.orderGuid, r.fillId, r.instrument,
                             r.side == framework::cqg::osdSell ? framework::Direction::SHORT
                                                               : framework::Direction::LONG,
                             r.price, r.quantity, r.timestamp});
            }
            return out;
          },
          "Every normal fill the venue reported, in order, once each.")
      .def(
          "positions",
          [](PythonPaperMarket& m) {
            const auto held = unlocked([&] { return m.simulator().Positions(); });
            std::vector<VenuePosition> out;
            for (const auto& p : held) out.push_back({p.accountId, p.instrument, p.quantity});
            return out;
          },
          "The positions the venue holds, as the client holds them now.");
}

}  // namespace zantrix::python
