// The record store. Conditions and column values are keyword arguments, in
// the order the caller gives them; selections return DataFrames. Every
// statement runs with the interpreter lock released, so Python threads may
// share one DB as C++ threads do.
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/zantrix/_zantrix/bind.h"
#include "python/zantrix/_zantrix/convert.h"
#include "python/zantrix/_zantrix/frame.h"
#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::python {
namespace {

using plugins::sqlite3::DB;
using plugins::sqlite3::NamedValues;
using plugins::sqlite3::Value;

std::optional<std::vector<std::string>> columns_arg(py::handle columns) {
  if (columns.is_none()) return std::nullopt;
  if (!PyList_Check(columns.ptr()) && !PyTuple_Check(columns.ptr())) {
    raise_type_error("columns", "a list of str or None", columns);
  }
  std::vector<std::string> out;
  for (const py::handle column : columns) out.push_back(text_arg(column, "every column"));
  return out;
}

std::optional<std::vector<Value>> parameters_arg(py::handle parameters) {
  if (parameters.is_none()) return std::nullopt;
  if (PyUnicode_Check(parameters.ptr()) || !PySequence_Check(parameters.ptr())) {
    raise_type_error("parameters", "a sequence or None", parameters);
  }
  std::vector<Value> out;
  for (const py::handle value : parameters) out.push_back(store_value_from_py(value));
  return out;
}

// A statement of `db` that takes no value, run with the interpreter lock
// released.
template <void (DB::*statement)()>
void run(DB& db) {
  py::gil_scoped_release unlocked;
  (db.*statement)();
}

// One transaction scope of a DB as a context manager: the statements this
// thread makes through the store inside the `with` block are committed once
// when it ends normally and rolled back when it ends by an exception. Entered
// and left on one thread, with the interpreter lock released while the
// scope waits for the store's lock or commits.
class PythonTransaction {
 public:
  explicit PythonTransaction(DB& db) : db_(db) {}

  void enter() {
    if (scope_) throw std::runtime_error("this transaction scope is open already");
    const py::gil_scoped_release unlocked;
    scope_.emplace(db_);
  }

  void exit(bool keep) {
    if (!scope_) return;
    const py::gil_scoped_release unlocked;
    try {
      if (keep) {
        scope_->scope.commit();
      } else {
        scope_->scope.rollback();
      }
    } catch (...) {
      scope_.reset();
      throw;
    }
    scope_.reset();
  }

 private:
  struct Open {
    explicit Open(DB& db) : scope(db.transaction()) {}
    DB::Transaction scope;
  };

  DB& db_;
  std::optional<Open> scope_;
};

}  // namespace

void bind_store(py::module_& module) {
  py::class_<PythonTransaction>(module, "Transaction",
                                "A transaction scope of a DB, for a with block.")
      .def("__enter__",
           [](const py::object& self) {
             self.cast<PythonTransaction&>().enter();
             return self;
           })
      .def("__exit__", [](PythonTransaction& scope, const py::handle& type, const py::args&) {
        scope.exit(type.is_none());
        return false;
      });

  module.def("_db_path", &plugins::sqlite3::_db_path,
             "The directory of the record store, from the DB configuration.");

  py::class_<DB>(module, "DB", "The SQLite record store of balances, positions, orders and deals.")
      .def(py::init([] {
             py::gil_scoped_release unlocked;
             return std::make_unique<DB>();
           }),
           "Opens the store the DB configuration names and creates its tables when missing.")
      .def("close", &run<&DB::close>, "Closes the connection; later calls fail.")
      .def("commit", &run<&DB::commit>,
           "Commits a transaction the caller began with its own BEGIN, if one is open.")
      .def(
          "execute",
          [](DB& db, py::handle sql, py::handle parameters) {
            const std::string text = text_arg(sql, "sql");
            const auto values = parameters_arg(parameters);
            py::gil_scoped_release unlocked;
            db.execute(text, values);
          },
          "Runs one statement, its parameters bound to its ? marks, and commits it.",
          py::arg("sql"), py::arg("parameters") = py::none())
      .def_static(
          "_parse_sql_value",
          [](py::handle value) { return DB::_parse_sql_value(store_value_from_py(value)); },
          py::arg("value"))
      .def_static("_parse_sql_where_condition",
                  [](const py::kwargs& conditions) {
                    return DB::_parse_sql_where_condition(named_values_from_py(conditions));
                  })
      .def(
          "delete_table",
          [](DB& db, py::handle table_name) {
            const std::string table = text_arg(table_name, "table_name");
            py::gil_scoped_release unlocked;
            db.delete_table(table);
          },
          "Drops the table.", py::arg("table_name"))
      .def(
          "select_records",
          [](DB& db, py::handle table_name, py::handle columns, const py::kwargs& conditions) {
            const std::string table = text_arg(table_name, "table_name");
            const auto names = columns_arg(columns);
            const NamedValues where = named_values_from_py(conditions);
            std::shared_ptr<const framework::Table> rows;
            {
              py::gil_scoped_release unlocked;
              rows =
                  std::make_shared<const framework::Table>(db.select_records(table, names, where));
            }
            return frame_from_table(std::move(rows));
          },
          "The rows matching the keyword conditions, as a DataFrame of the columns (all by "
          "default).",
          py::arg("table_name"), py::arg("columns") = py::none())
      .def(
          "update_records",
          [](DB& db, py::handle table_name, py::handle columns, const py::kwargs& conditions) {
            const std::string table = text_arg(table_name, "table_name");
            if (!PyDict_Check(columns.ptr())) raise_type_error("columns", "a dict", columns);
            const NamedValues values = named_values_from_py(columns.cast<py::dict>());
            const NamedValues where = named_values_from_py(conditions);
            py::gil_scoped_release unlocked;
            db.update_records(table, values, where);
          },
          "Sets the columns (a dict) of the rows matching the keyword conditions.",
          py::arg("table_name"), py::arg("columns"))
      .def(
          "insert_records",
          [](DB& db, py::handle table_name, const py::kwargs& values) {
            const std::string table = text_arg(table_name, "table_name");
            const NamedValues row = named_values_from_py(values);
            py::gil_scoped_release unlocked;
            db.insert_records(table, row);
          },
          "Inserts one row of the keyword values.", py::arg("table_name"))
      .def(
          "delete_records",
          [](DB& db, py::handle table_name, const py::kwargs& conditions) {
            const std::string table = text_arg(table_name, "table_name");
            const NamedValues where = named_values_from_py(conditions);
            py::gil_scoped_release unlocked;
            db.delete_records(table, where);
          },
          "Deletes the rows matching the keyword conditions.", py::arg("table_name"))
      .def("create_balance_table", &run<&DB::create_balance_table>,
           "Creates the balance table unless it exists.")
      .def("create_position_table", &run<&DB::create_position_table>,
           "Creates the position table unless it exists.")
      .def("create_order_table", &run<&DB::create_order_table>,
           "Creates the trading_order table unless it exists.")
      .def("create_deal_table", &run<&DB::create_deal_table>,
           "Creates the trading_deal table unless it exists.")
      .def(
          "last_insert_id",
          [](DB& db) {
            py::gil_scoped_release unlocked;
            return db.last_insert_id();
          },
          "The id the latest successful insert of this store gave its row.")
      .def(
          "transaction", [](DB& db) { return std::make_unique<PythonTransaction>(db); },
          py::keep_alive<0, 1>(),
          "A transaction scope for a with block: its statements are committed once at its "
          "end, or rolled back when the block raises.")
      .def("last_statement", &DB::last_statement,
           "The text of the latest statement this store ran or tried to run.");
}

}  // namespace zantrix::python
