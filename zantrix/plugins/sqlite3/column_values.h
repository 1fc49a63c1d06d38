// Column values: what the store makes of a value before either back end sees
// it, so that SQLite and PostgreSQL store and compare the same thing.
//
// Every value a statement binds, whether it is stored in a column or compared
// with one (or is a parameter of a caller's own statement), is checked and
// settled by one rule for both back ends:
// - a text holding a NUL character, or bytes that are not UTF-8, is refused:
//   PostgreSQL's texts can hold neither;
// - a NaN is bound as NULL and -0.0 as 0.0 (SQLite's own reading of both);
// - a date-time outside the years 1 to 9999 is refused; one built into a
//   statement is bound as its "%Y-%m-%d %H:%M:%S" text, its fraction dropped.
// A value bound for a column whose declared type the engine reports is then
// made that column's kind:
// - an integer column takes whole numbers within the 64-bit range (a
//   floating-point number without a fraction becomes that integer) and texts
//   that read as such; a fraction is refused rather than rounded;
// - a number column takes numbers and texts that read as decimal numbers,
//   all as doubles (an integer as the nearest double, also in a comparison);
// - a text column takes texts, and numbers as their text (integers in
//   decimal, floating-point numbers in their shortest round-trip text,
//   booleans as 1 and 0);
// - a date-time column takes date-times and texts of the stored form
//   ("%Y-%m-%d %H:%M:%S" with an optional fraction without trailing zeros).
// A refusal is a ValueError naming the column ("the value of column
// quantity (1.5) ..."), or the parameter by its position.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "zantrix/plugins/sqlite3/statement.h"

namespace zantrix::plugins::sqlite3::detail {

enum class Declared { Integer, Number, Text, DateTime, Other };

// A table's columns by their lower-case names, as the engine declares them.
using DeclaredColumns = std::unordered_map<std::string, Declared>;

// The kind of SQLite's declared type text (INTEGER, DOUBLE, VARCHAR(20),
// DATETIME, ...) or of PostgreSQL's type name (bigint, double precision,
// character varying, timestamp without time zone, ...).
Declared declared_kind(std::string_view type);

std::string lower_case(std::string_view name);

// Settles every value of `statement` in place by the rules above, with the
// declared columns of its table (none known: only the rules for every value).
void settle_values(Statement& statement, const DeclaredColumns& columns);

// Whether every column `statement` names a value for is among `columns`.
bool knows_columns(const Statement& statement, const DeclaredColumns& columns);

}  // namespace zantrix::plugins::sqlite3::detail
