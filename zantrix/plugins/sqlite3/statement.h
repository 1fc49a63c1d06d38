// Statement: one statement of the record store, in the forms its back ends
// and its callers need.
//
// `sql` is the statement as SQLite runs it, with a `?` for each value and the
// values in `parameters`. `text()` is the form callers see (messages,
// last_statement): every value as its literal in place of its `?` (NULL for
// an absent one), made only when asked for. `postgres()` is the form sent to
// a PostgreSQL server: `$1`, `$2`, ... for the values, the names that
// PostgreSQL reserves quoted (in lower case, the name PostgreSQL folds any
// unquoted name to), and each selected expression given its text as its
// name (`sum(quantity)` AS "sum(quantity)"), as SQLite names it; a statement may carry its own
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
  // Where in `sql` each table or column name stands, its length, and
  // whether it is a column of a selection's result.
  struct Name {
    std::size_t at = 0;
    std::size_t length = 0;
    bool selected = false;
  };
  std::vector<Name> names;
  // For each value, the entry of `names` of the column it goes to; kNoColumn
  // for a condition's value.
  static constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);
  std::vector<std::size_t> value_columns;
  // For each value, the entry of `names` of the column it goes to or is
  // compared with; kNoColumn for a parameter of a caller's own statement.
  std::vector<std::size_t> value_names;
  // The table the statement reads or writes.
  std::string table;
  // An insert of the store's own, whose new row's id a back end may return.
  bool inserts = false;
  // The statement's own PostgreSQL form, when it has one.
  std::string postgres_sql;

  static Statement plain(std::string_view sql);

  std::string text() const;
  std::string postgres() const;

  // Room for a statement of `values` values and about `bytes` characters.
  void reserve(std::size_t values, std::size_t bytes);
  // The name of the column value `k` goes to; empty for a condition's value.
  std::string_view column_of(std::size_t k) const;
  // The name of the column value `k` goes to or is compared with; empty for
  // a parameter of a caller's own statement.
  std::string_view name_of(std::size_t k) const;

  void add(std::string_view part) { sql += part; }
  // Adds a name and returns its entry in `names`.
  std::size_t add_name(std::string_view name, bool selected = false);
  // A value, with the entry of `names` of the column it goes to (`stored`)
  // or is compared with.
  void add_value(const Value& value, std::size_t column, bool stored = true);
  void add_where(const NamedValues& conditions);
};

// The store's refusal of a caller's statement whose marks and values differ
// in number.
DatabaseError wrong_bindings(std::size_t marks, std::size_t supplied, std::string statement);
// The store's refusal of a text that holds more than one statement.
inline constexpr const char* kOneStatement = "You can only execute one statement at a time.";

// Where the `?` marks of a caller's own statement stand: those outside quotes
// and comments (`--` to the end of the line, `/* ... */`).
std::vector<std::size_t> caller_marks(const std::string& sql);

}  // namespace zantrix::plugins::sqlite3::detail
