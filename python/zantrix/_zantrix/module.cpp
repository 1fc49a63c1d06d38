// _zantrix: the libraries as one Python extension module. The package
// `zantrix` re-exports its names under the system's module paths.
//
// Errors keep their kind and their exact message: the framework's value,
// type, key, file-not-found and assertion errors become ValueError,
// TypeError, KeyError, FileNotFoundError and AssertionError; a file-system
// error becomes the OSError of its errno (FileNotFoundError for a missing
// directory); the record store's database errors become the sqlite3 module's
// exception of the same SQLite result code, carrying `sqlite_errorcode` and
// `statement`; run-time errors become RuntimeError.
#include <pybind11/pybind11.h>

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/sqlite3/db.h"
#include "zantrix/version.h"

namespace zantrix::python {
namespace {

// The sqlite3 module's exception for a SQLite result code, as that module
// chooses it; 0 is a misuse the store detects itself.
const char* sqlite3_error_class(int code) {
  switch (code & 0xff) {
    case 0:
      return "ProgrammingError";
    case 2:   // SQLITE_INTERNAL
    case 12:  // SQLITE_NOTFOUND
      return "InternalError";
    case 11:  // SQLITE_CORRUPT
    case 26:  // SQLITE_NOTADB
      return "DatabaseError";
    case 18:  // SQLITE_TOOBIG
      return "DataError";
    case 19:  // SQLITE_CONSTRAINT
    case 20:  // SQLITE_MISMATCH
      return "IntegrityError";
    case 21:  // SQLITE_MISUSE
    case 25:  // SQLITE_RANGE
      return "InterfaceError";
    default:
      return "OperationalError";
  }
}

void set_database_error(const plugins::sqlite3::DatabaseError& e) {
  const py::object error =
      py::module_::import("sqlite3").attr(sqlite3_error_class(e.code()))(e.what());
  error.attr("sqlite_errorcode") = e.code();
  error.attr("statement") = e.statement();
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
}

// A key the libraries quote as Python prints a KeyError ("'time_key'") is
// handed over unquoted, so that str() of the error gives the same text.
void set_key_error(std::string_view message) {
  if (message.size() >= 2 && message.front() == '\'' && message.back() == '\'' &&
      message.substr(1, message.size() - 2).find('\'') == std::string_view::npos) {
    message = message.substr(1, message.size() - 2);
  }
  PyErr_SetObject(PyExc_KeyError, py::str(std::string(message)).ptr());
}

void translate_error(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const plugins::sqlite3::DatabaseError& e) {
    set_database_error(e);
  } catch (const std::filesystem::filesystem_error& e) {
    const py::tuple arguments =
        py::make_tuple(e.code().value(), e.code().message(), e.path1().string());
    PyErr_SetObject(PyExc_OSError, arguments.ptr());
  } catch (const framework::TypeError& e) {
    PyErr_SetString(PyExc_TypeError, e.what());
  } catch (const framework::ValueError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const framework::KeyError& e) {
    set_key_error(e.what());
  } catch (const framework::FileNotFoundError& e) {
    PyErr_SetString(PyExc_FileNotFoundError, e.what());
  } catch (const framework::AssertionError& e) {
    PyErr_SetString(PyExc_AssertionError, e.what());
  }
}

}  // namespace
}  // namespace zantrix::python

PYBIND11_MODULE(_zantrix, module) {
  using namespace zantrix::python;
  module.doc() = "The zantrix libraries; import them through the package zantrix.";
  import_datetime_api();
  pybind11::register_exception_translator(&translate_error);
  bind_constants(module);
  bind_securities(module);
  bind_records(module);
  bind_fees(module);
  bind_history(module);
  bind_metrics(module);
  bind_store(module);
  bind_config(module);
  bind_trading_records(module);
  bind_base_gateway(module);
  bind_ravelhost(module);
  bind_vexgate(module);
  bind_paper(module);
  bind_report(module);
  bind_telegram(module);
  module.attr("__version__") = std::string(zantrix::version);
}
