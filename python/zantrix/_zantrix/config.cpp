// zantrix_config(): the process's configuration, the same object the
// libraries read. Its keys are properties, settable from Python; the file is
// the one ZANTRIX_CONFIG names (read when a key is first asked for), or the
// one given to use_file.
#include <pybind11/stl.h>

#include <string>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/config.h"

namespace zantrix::python {

void bind_config(py::module_& module) {
  using framework::Config;

  py::class_<Config>(module, "Config", "The configuration keys of zantrix_config.")
      .def_property("DATA_PATH", &Config::DATA_PATH, &Config::set_DATA_PATH)
      .def_property("TIME_STEP", &Config::TIME_STEP, &Config::set_TIME_STEP)
      .def_property("BAR_CONVENTION", &Config::BAR_CONVENTION, &Config::set_BAR_CONVENTION)
      .def_property(
          "DB",
          [](const Config& config) {
            py::dict stores;
            if (config.DB_has("sqlite3")) stores["sqlite3"] = config.DB("sqlite3");
            if (config.DB_has("postgresql")) stores["postgresql"] = config.DB_text("postgresql");
            if (stores.empty()) stores["sqlite3"] = config.DB("sqlite3");
            return stores;
          },
          &Config::set_DB)
      .def_property("TELEGRAM_TOKEN", &Config::TELEGRAM_TOKEN, &Config::set_TELEGRAM_TOKEN)
      .def_property("TELEGRAM_CHAT_ID", &Config::TELEGRAM_CHAT_ID, &Config::set_TELEGRAM_CHAT_ID)
      .def_property("TELEGRAM_API_URL", &Config::TELEGRAM_API_URL, &Config::set_TELEGRAM_API_URL)
      .def_property("TELEGRAM_USER_IDS", &Config::TELEGRAM_USER_IDS, &Config::set_TELEGRAM_USER_IDS)
      .def(
          "use_file",
          [](Config& config, py::handle path) {
            config.use_file(py::module_::import("os").attr("fspath")(path).cast<std::string>());
          },
          "Reads from this file from now on and forgets the values set in code.", py::arg("path"))
      .def_property_readonly("file", [](const Config& config) { return config.file().string(); });

  module.def("zantrix_config", &framework::zantrix_config, py::return_value_policy::reference,
             "The process-wide configuration.");
}

}  // namespace zantrix::python
