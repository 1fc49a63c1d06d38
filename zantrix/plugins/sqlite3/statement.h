// Statement: one statement of the record store, in the forms its back ends
// and its callers need.
//
// `sql` is the statement as SQLite runs it, with a `?` for each value and the
// values in `parameters` (a date-time already as its stored text). `text()`
// is the form callers see (messages, last_statement): every value as its
// literal in place of its `?`, made only when asked for. `postgres()` is the
// form sent to a PostgreSQL server: `$1`, `$2`, ... for the values and the
// names that PostgreSQL reserves quoted; a statement may carry its own
// PostgreSQL form instead (the schema's CREATE statements). Values and names
// are recorded where the statement is built, so that no form has to guess
// them from the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/plugins/sqlite3/db.h"

namespace zantrix::plugins::sqlite3::detail {

struct Statement {
  std::string sql;
  std::vector<Value> parameters;
  // Where in `sql` each value's `?` stands; none for a caller's own text.
  std::vector<std::size_t> marks;
  // The column each value goes to (empty for a condition's value).
  std::vector<std::string> columns;
  // Where in `sql` each table or column name stands, and its length.
  std::vector<std::pair<std::size_t, std::size_t>> names;
  // The table an insert or update writes to.
  std::string table;
  // The statement's own PostgreSQL form, when it has one.
  std::string postgres_sql;

  static Statement plain(std::string_view sql);

  std::string text() const;
  std::string postgres() const;

  void add(std::string_view part) { sql += part; }
  void add_name(std::string_view name);
  // A value, with the column it goes to (empty for a condition).
  void add_value(const Value& value, std::string_view column = {});
  void add_where(const NamedValues& conditions);
};

// The store's refusal of a caller's statement whose marks and values differ
// in number.
DatabaseError wrong_bindings(std::size_t marks, std::size_t supplied, std::string statement);
// The store's refusal of a text that holds more than one statement.
inline constexpr const char* kOneStatement = "You can only execute one statement at a time.";

// Where the `?` marks of a caller's own statement stand: those outside quotes
// and `--` comments.
std::vector<std::size_t> caller_marks(const std::string& sql);

}  // namespace zantrix::plugins::sqlite3::detail
