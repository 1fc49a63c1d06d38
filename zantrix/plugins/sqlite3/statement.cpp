#include "zantrix/plugins/sqlite3/statement.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/sqlite3/column_values.h"

namespace zantrix::plugins::sqlite3::detail {

namespace zf = zantrix::framework;

namespace {

// The words PostgreSQL reserves, which a column or table name must quote
// there ("offset" is a column of the order and deal tables).
constexpr std::array<std::string_view, 77> kReserved{"all",          "analyse",
                                                     "analyze",      "and",
                                                     "any",          "array",
                                                     "as",           "asc",
                                                     "asymmetric",   "both",
                                                     "case",         "cast",
                                                     "check",        "collate",
                                                     "column",       "constraint",
                                                     "create",       "current_catalog",
                                                     "current_date", "current_role",
                                                     "current_time", "current_timestamp",
                                                     "current_user", "default",
                                                     "deferrable",   "desc",
                                                     "distinct",     "do",
                                                     "else",         "end",
                                                     "except",       "false",
                                                     "fetch",        "for",
                                                     "foreign",      "from",
                                                     "grant",        "group",
                                                     "having",       "in",
                                                     "initially",    "intersect",
                                                     "into",         "lateral",
                                                     "leading",      "limit",
                                                     "localtime",    "localtimestamp",
                                                     "not",          "null",
                                                     "offset",       "on",
                                                     "only",         "or",
                                                     "order",        "placing",
                                                     "primary",      "references",
                                                     "returning",    "select",
                                                     "session_user", "some",
                                                     "symmetric",    "table",
                                                     "then",         "to",
                                                     "trailing",     "true",
                                                     "union",        "unique",
                                                     "user",         "using",
                                                     "variadic",     "when",
                                                     "where",        "window",
                                                     "with"};

bool reserved(std::string_view lower) {
  return std::find(kReserved.begin(), kReserved.end(), lower) != kReserved.end();
}

// Whether a selected column is a plain name, which both engines report by
// the column's declared name (PostgreSQL folding it to lower case as the
// schema declares it); anything else they report by different names.
bool plain_name(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

// `name` between double quotes, any double quote inside doubled.
void append_quoted(std::string& out, std::string_view name) {
  out += '"';
  for (const char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// A name in the server's form: a reserved word quoted in lower case, so
// that it names the column an unquoted name names; a selected expression
// named as written, as SQLite names it.
void append_name(std::string& out, std::string_view name, bool selected) {
  const std::string lower = lower_case(name);
  if (reserved(lower)) {
    append_quoted(out, lower);
  } else {
    out += name;
  }
  if (selected && !plain_name(name)) {
    out += " AS ";
    append_quoted(out, name);
  }
}

}  // namespace

std::vector<std::size_t> caller_marks(const std::string& sql) {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = sql.find(c, i + 1);
      i = close == std::string::npos ? sql.size() : close;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t eol = sql.find('\n', i);
      i = eol == std::string::npos ? sql.size() : eol;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      i = end == std::string::npos ? sql.size() : end + 1;
    } else if (c == '?') {
      found.push_back(i);
    }
  }
  return found;
}

DatabaseError wrong_bindings(std::size_t marks, std::size_t supplied, std::string statement) {
  return DatabaseError("Incorrect number of bindings supplied. The current statement uses " +
                           std::to_string(marks) + ", and there are " + std::to_string(supplied) +
                           " supplied.",
                       0, std::move(statement));
}

namespace {

// `sql` with each of its marks as `$1`, `$2`, ...: a caller's own statement
// with bound values.
std::string numbered_marks(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 8);
  std::size_t from = 0;
  int next = 1;
  for (const std::size_t at : caller_marks(sql)) {
    out.append(sql, from, at - from);
    out += '$';
    out += std::to_string(next++);
    from = at + 1;
  }
  out.append(sql, from);
  return out;
}

}  // namespace

Statement Statement::plain(std::string_view sql) {
  Statement statement;
  statement.sql = sql;
  return statement;
}

std::string Statement::text() const {
  if (marks.empty()) return sql;
  std::string out;
  std::size_t from = 0;
  for (std::size_t k = 0; k < marks.size(); ++k) {
    out.append(sql, from, marks[k] - from);
    out += std::holds_alternative<std::monostate>(parameters[k])
               ? std::string("NULL")
               : DB::_parse_sql_value(parameters[k]);
    from = marks[k] + 1;
  }
  out.append(sql, from);
  return out;
}

std::string Statement::postgres() const {
  if (!postgres_sql.empty()) return postgres_sql;
  if (marks.empty() && names.empty()) return parameters.empty() ? sql : numbered_marks(sql);
  // Marks and names in the order they stand in `sql`.
  std::string out;
  out.reserve(sql.size() + 4 * marks.size());
  std::size_t from = 0;
  std::size_t mark = 0;
  std::size_t name = 0;
  while (mark < marks.size() || name < names.size()) {
    const bool next_is_mark =
        name == names.size() || (mark < marks.size() && marks[mark] < names[name].at);
    if (next_is_mark) {
      out.append(sql, from, marks[mark] - from);
      out += '$';
      out += std::to_string(mark + 1);
      from = marks[mark] + 1;
      ++mark;
    } else {
      const Name& entry = names[name++];
      out.append(sql, from, entry.at - from);
      append_name(out, std::string_view(sql.data() + entry.at, entry.length), entry.selected);
      from = entry.at + entry.length;
    }
  }
  out.append(sql, from);
  return out;
}

void Statement::reserve(std::size_t values, std::size_t bytes) {
  sql.reserve(bytes);
  parameters.reserve(values);
  marks.reserve(values);
  value_columns.reserve(values);
  value_names.reserve(values);
  names.reserve(values + 1);
}

std::string_view Statement::column_of(std::size_t k) const {
  const std::size_t entry = value_columns[k];
  if (entry == kNoColumn) return {};
  return std::string_view(sql).substr(names[entry].at, names[entry].length);
}

std::string_view Statement::name_of(std::size_t k) const {
  if (k >= value_names.size() || value_names[k] == kNoColumn) return {};
  const Name& entry = names[value_names[k]];
  return std::string_view(sql).substr(entry.at, entry.length);
}

std::size_t Statement::add_name(std::string_view name, bool selected) {
  names.push_back({sql.size(), name.size(), selected});
  sql += name;
  return names.size() - 1;
}

void Statement::add_value(const Value& value, std::size_t column, bool stored) {
  // An absent value or a date has no literal: the same error as the
  // literal's.
  if (std::holds_alternative<std::monostate>(value) || std::holds_alternative<zf::Date>(value)) {
    DB::_parse_sql_value(value);
  }
  marks.push_back(sql.size());
  value_columns.push_back(stored ? column : kNoColumn);
  value_names.push_back(column);
  sql += '?';
  parameters.push_back(value);
}

void Statement::add_where(const NamedValues& conditions) {
  if (conditions.empty()) return;
  add("WHERE ");
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    const auto& [name, value] = conditions[i];
    if (i != 0) add("AND ");
    if (name == "condition_str") {
      const auto* raw = std::get_if<std::string>(&value);
      if (raw == nullptr) throw zf::TypeError("condition_str must be text");
      add(*raw);
    } else {
      const std::size_t column = add_name(name);
      add("=");
      add_value(value, column, false);
    }
    add(" ");
  }
}

}  // namespace zantrix::plugins::sqlite3::detail
