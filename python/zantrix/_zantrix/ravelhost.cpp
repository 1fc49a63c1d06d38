// The CQG client environment: Ravelhost, its events, Trace and
// AssertMessage.
//
// Init and Shutdown wait for the worker with the interpreter lock released,
// so that the worker can run Python callbacks meanwhile. The calling thread's
// COM is initialised for it (thread_client.h). At interpreter exit every
// environment still running is shut down, before the interpreter stops
// serving the callbacks.
#include <pybind11/stl.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "python/zantrix/_zantrix/environment.h"
#include "python/zantrix/_zantrix/thread_client.h"
#include "zantrix/framework/event.h"

namespace zantrix::python {

using gateways::cqg::Ravelhost;
using gateways::cqg::VexGate;

PythonRavelhost::PythonRavelhost() : host_(std::make_unique<Ravelhost>()) {}

PythonRavelhost::~PythonRavelhost() {
  std::optional<py::gil_scoped_release> unlocked;
  if (PyGILState_Check() != 0) unlocked.emplace();
  try {
    enter_environment(host_->clientHold());
  } catch (...) {
    // The environment still ends; its Shutdown traces what fails.
  }
  const std::lock_guard lock(mutex_);
  host_.reset();
}

std::shared_ptr<PythonVexGate> PythonRavelhost::Init() {
  enter_com();
  const std::lock_guard lock(mutex_);
  auto gate = host_->Init<VexGate>();
  entered_by_init(host_->clientHold());
  sink_ = std::make_shared<PythonVexGate>(PythonVexGate{std::move(gate), host_->clientHold()});
  return sink_;
}

void PythonRavelhost::Shutdown() {
  enter_environment(host_->clientHold());
  const std::lock_guard lock(mutex_);
  host_->Shutdown();
}

std::shared_ptr<PythonVexGate> PythonRavelhost::sink() const {
  const std::lock_guard lock(mutex_);
  return sink_;
}

namespace {

// The environments that Init started from Python (a weakref.WeakSet kept by
// the module), shut down at exit.
constexpr const char* kStarted = "_started_environments";

py::object started_environments() {
  return py::module_::import("zantrix._zantrix").attr(kStarted);
}

void shut_down_started_environments() {
  for (const py::handle environment : py::list(started_environments())) {
    PythonRavelhost& host = environment.cast<PythonRavelhost&>();
    const py::gil_scoped_release unlocked;
    try {
      host.Shutdown();
    } catch (const std::exception& error) {
      gateways::cqg::Trace(std::string("Exception in Shutdown at exit: ") + error.what());
    }
  }
}

}  // namespace

void bind_ravelhost(py::module_& module) {
  using framework::Event;

  py::class_<Event>(module, "Event", "A flag that one thread sets and another waits for.")
      .def(py::init<>())
      .def("set", &Event::set, "Raises the flag and wakes every waiter.")
      .def("clear", &Event::clear, "Lowers the flag.")
      .def("is_set", &Event::is_set, "Whether the flag is raised.")
      .def(
          "wait",
          [](Event& event, std::optional<double> timeout) {
            const py::gil_scoped_release unlocked;
            return timeout ? event.wait(std::chrono::duration<double>(*timeout)) : event.wait();
          },
          "Waits until the flag is raised, at most `timeout` seconds; returns whether it is.",
          py::arg("timeout") = py::none());

  py::class_<PythonRavelhost>(
      module, "Ravelhost",
      "The CQG client environment: the client object, its worker thread and message pump.")
      .def(py::init<>(),
           "Checks that the client library is registered; a RuntimeError when it is not.")
      .def(
          "Init",
          [](const py::object& self, const py::object& sinkType,
             const py::object& customAPIConfiguration) {
            const py::object vexgate = py::module_::import("zantrix._zantrix").attr("VexGate");
            if (!sinkType.is(vexgate)) raise_type_error("sinkType", "the class VexGate", sinkType);
            if (!customAPIConfiguration.is_none()) {
              raise_type_error("customAPIConfiguration", "None", customAPIConfiguration);
            }
            PythonRavelhost& host = self.cast<PythonRavelhost&>();
            std::shared_ptr<PythonVexGate> sink;
            {
              const py::gil_scoped_release unlocked;
              sink = host.Init();
            }
            started_environments().attr("add")(self);
            return sink;
          },
          "Starts the client with a VexGate as the application's sink and returns it once the "
          "client has started or reported a data error.",
          py::arg("sinkType"), py::arg("customAPIConfiguration") = py::none())
      .def(
          "Shutdown",
          [](PythonRavelhost& host) {
            const py::gil_scoped_release unlocked;
            host.Shutdown();
          },
          "Shuts the client down and ends the worker thread; a second call does nothing.")
      .def("SetError", [](PythonRavelhost& host) { host.host().SetError(); },
           "Marks that the client reported a data error.")
      .def_property_readonly(
          "errorHappened", [](PythonRavelhost& host) { return host.host().errorHappened.load(); },
          "Whether the client has reported a data error.")
      .def_property_readonly(
          "eventCELStarted", [](PythonRavelhost& host) -> Event& { return host.host().eventCELStarted; },
          py::return_value_policy::reference_internal,
          "Set when the client reports that it has started, or a data error.")
      .def_property_readonly(
          "eventAllPrepared",
          [](PythonRavelhost& host) -> Event& { return host.host().eventAllPrepared; },
          py::return_value_policy::reference_internal,
          "Set by the worker once the client exists and both sinks are attached.")
      .def_property_readonly("sink", &PythonRavelhost::sink,
                             "The VexGate that Init returned; None before Init.");

  module.def(
      "Trace", [](const std::string& message) { gateways::cqg::Trace(message); },
      "Writes \"<thread id>: <message>\" as one line to standard output.", py::arg("message"));
  module.def("AssertMessage", &gateways::cqg::AssertMessage,
             "Raises RuntimeError(message) when the condition is false.", py::arg("condition"),
             py::arg("message"));

  module.attr(kStarted) = py::module_::import("weakref").attr("WeakSet")();
  py::module_::import("atexit").attr("register")(py::cpp_function(&shut_down_started_environments));
}

}  // namespace zantrix::python
