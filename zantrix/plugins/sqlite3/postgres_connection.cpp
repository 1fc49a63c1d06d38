// The PostgreSQL back end of the record store, over libpq.
//
// Statements are sent in their PostgreSQL form (statement.h) with every value
// bound, each shape prepared once on the server and kept (and prepared again
// when the server finds its plan stale: another session changed the table).
// Values travel as text: integers and booleans (1 or 0, as SQLite keeps them)
// typed bigint, floating-point numbers typed double precision in their
// shortest round-trip text, everything else untyped so that the server reads
// it as the column needs (a time stamp as one). Results are read into the
// same column kinds as SQLite's: booleans and whole numerics (an integer
// sum) as integers, a column of an expression without any value as text.
//
// Texts are checked against the declared lengths of the columns they go to
// before they are sent, so that a text too long is an error naming its
// column, as the server's own check would not. Inside a transaction every
// statement runs under a savepoint of its own, so that a statement that
// fails is undone alone and the transaction goes on, as on SQLite. An insert
// of the store's own returns its row's id with its row.
//
// Every exchange with the server is bounded by the statement deadline
// (postgres_uri.h): a server that does not answer in time costs the
// connection, not a stalled thread. A lost connection is made again at the
// next call, with the caller's session settings (its SET statements) made
// again and the schema's lock taken again if it was held; a statement that
// may be run twice (a selection) is retried once at once, any other reports
// that its outcome is unknown, and a transaction lost with the connection
// fails until it is rolled back.
#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/plugins/sqlite3/connection.h"
#include "zantrix/plugins/sqlite3/postgres_uri.h"

namespace zantrix::plugins::sqlite3::detail {

namespace {

namespace zf = zantrix::framework;

// Type identifiers of the server's catalogue (pg_type).
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;
constexpr Oid kName = 19;
constexpr Oid kText = 25;
constexpr Oid kBpchar = 1042;
constexpr Oid kVarchar = 1043;
constexpr Oid kDate = 1082;
constexpr Oid kTimestamp = 1114;

// The schema's creation is serialised across engines by this advisory lock.
constexpr const char* kSchemaLock = "SELECT pg_advisory_lock(7270733)";
constexpr const char* kSchemaUnlock = "SELECT pg_advisory_unlock(7270733)";

constexpr const char* kLostWrite =
    "The connection to the database server was lost while the statement ran; whether it took "
    "effect is unknown: ";
constexpr const char* kLostTransaction =
    "The connection to the database server was lost during the transaction; none of its "
    "statements was stored.";

struct ResultFree {
  void operator()(PGresult* result) const noexcept { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConnectionFree {
  void operator()(PGconn* connection) const noexcept { PQfinish(connection); }
};

std::string trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.starts_with("ERROR:  ")) text.erase(0, 8);
  return text;
}

// The server's own message of a failed result, without its severity and
// detail lines; the connection's message when there is no result.
std::string message_of(const PGresult* result, const PGconn* connection) {
  if (result != nullptr) {
    if (const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) return primary;
    return trimmed(PQresultErrorMessage(result));
  }
  return trimmed(PQerrorMessage(connection));
}

// SQLite's result code for the same kind of failure, so that callers sort
// failures alike on both back ends: a broken constraint, a value that does
// not fit its column, a lost connection, anything else.
constexpr int kError = 1;        // SQLITE_ERROR
constexpr int kIoError = 10;     // SQLITE_IOERR
constexpr int kTooBig = 18;      // SQLITE_TOOBIG
constexpr int kConstraint = 19;  // SQLITE_CONSTRAINT

int code_of(const PGresult* result) {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  if (state == nullptr) return kIoError;
  const std::string_view family(state, std::min<std::size_t>(2, std::strlen(state)));
  if (family == "23") return kConstraint;
  if (family == "22") return kTooBig;
  if (family == "08" || family == "57") return kIoError;
  return kError;
}

// The number of characters of a UTF-8 text.
std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// One value as the text and type the server is sent.
struct Bound {
  std::optional<std::string> text;
  Oid type = 0;
};

Bound bound(const Value& value) {
  return std::visit(
      [](const auto& v) -> Bound {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return {std::nullopt, 0};
        } else if constexpr (std::is_same_v<T, std::string>) {
          return {v, 0};
        } else if constexpr (std::is_same_v<T, double>) {
          if (std::isnan(v)) return {"NaN", kFloat8};
          if (std::isinf(v)) return {v > 0 ? "Infinity" : "-Infinity", kFloat8};
          char buf[40];
          const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
          return {std::string(buf, end), kFloat8};
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return {std::to_string(v), kInt8};
        } else if constexpr (std::is_same_v<T, bool>) {
          return {v ? "1" : "0", kInt8};
        } else if constexpr (std::is_same_v<T, zf::DateTime>) {
          return {zf::format_datetime(v), 0};
        } else {
          return {zf::format_date(v), 0};
        }
      },
      value);
}

zf::ColumnKind kind_of(Oid type) {
  switch (type) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
      return zf::ColumnKind::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return zf::ColumnKind::Number;
    default:
      return zf::ColumnKind::Text;
  }
}

// Whether a result column of `type` can travel in the binary format, which
// spares the server formatting numbers and this side parsing them: the
// types the store reads (others come as text).
bool binary_readable(Oid type) {
  switch (type) {
    case kBool:
    case kInt2:
    case kInt4:
    case kInt8:
    case kFloat4:
    case kFloat8:
    case kNumeric:
    case kText:
    case kVarchar:
    case kBpchar:
    case kName:
    case kDate:
    case kTimestamp:
      return true;
    default:
      return false;
  }
}

// Big-endian integers of the binary format.
template <class T>
T big_endian(const char* at) {
  std::make_unsigned_t<T> v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    v = static_cast<std::make_unsigned_t<T>>((v << 8) | static_cast<unsigned char>(at[i]));
  }
  return static_cast<T>(v);
}

// Writes `value` as `width` digits at `out`.
char* digits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// The nearest double of a decimal text; beyond double's range, an infinity
// or a zero of the text's sign.
double decimal_value(std::string_view text) {
  double v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc::result_out_of_range) return v;
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  const std::size_t e = text.find_first_of("eE");
  const long exponent =
      e == std::string_view::npos ? 0 : std::strtol(text.data() + e + 1, nullptr, 10);
  const std::string_view mantissa = text.substr(0, e);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  // The decimal exponent of the first significant digit.
  const long magnitude = first == std::string_view::npos
                             ? 0
                             : exponent + (first < point ? static_cast<long>(point - first) - 1
                                                         : -static_cast<long>(first - point));
  const double v2 = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -v2 : v2;
}

// A numeric in the binary format: digits of base 10000 with the weight of
// the first one, a sign (or NaN, an infinity) and the count of decimals.
struct Numeric {
  std::int16_t count;
  std::int16_t weight;
  std::uint16_t sign;
  std::int16_t scale;
};

Numeric numeric_header(const char* at) {
  return {big_endian<std::int16_t>(at), big_endian<std::int16_t>(at + 2),
          static_cast<std::uint16_t>(big_endian<std::int16_t>(at + 4)),
          big_endian<std::int16_t>(at + 6)};
}

// The numeric's digits as a decimal text "0.<digits>e<exponent>".
std::string numeric_text(const char* at) {
  const Numeric n = numeric_header(at);
  std::string text = n.sign == 0x4000 ? "-0." : "0.";
  for (int i = 0; i < n.count; ++i) {
    char group[4];
    digits(group, static_cast<unsigned>(big_endian<std::int16_t>(at + 8 + 2 * i)), 4);
    text.append(group, 4);
  }
  text += 'e';
  text += std::to_string(4 * (n.weight + 1));
  return text;
}

double numeric_value(const char* at) {
  const Numeric n = numeric_header(at);
  if (n.sign == 0xC000) return std::numeric_limits<double>::quiet_NaN();
  if (n.sign == 0xD000) return std::numeric_limits<double>::infinity();
  if (n.sign == 0xF000) return -std::numeric_limits<double>::infinity();
  // Read as text so that the value is the nearest double, as the text form
  // would give.
  return decimal_value(numeric_text(at));
}

// A whole numeric within the 64-bit range, as an integer.
std::optional<std::int64_t> numeric_integer(const char* at) {
  const Numeric n = numeric_header(at);
  if (n.scale != 0 || (n.sign != 0 && n.sign != 0x4000)) return std::nullopt;
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;  // |INT64_MIN|
  std::uint64_t v = 0;
  for (int i = 0; i <= std::max<int>(n.weight, n.count - 1); ++i) {
    const auto group =
        i < n.count ? static_cast<std::uint64_t>(big_endian<std::int16_t>(at + 8 + 2 * i)) : 0;
    if (v > (kLimit - group) / 10000) return std::nullopt;
    v = v * 10000 + group;
  }
  if (n.sign == 0x4000)
    return v == kLimit ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(v);
  if (v == kLimit) return std::nullopt;
  return static_cast<std::int64_t>(v);
}

// A numeric's text form that is a whole number within the 64-bit range.
std::optional<std::int64_t> integer_text(std::string_view text) {
  std::int64_t v = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// The server's text of a date (days since 2000-01-01): "%Y-%m-%d", the year
// in at least four digits; a year before 1 as the server writes it, counted
// back from 1 BC, with `bc` set (" BC" ends the text).
char* date_text(char* out, std::int32_t days, bool& bc) {
  using namespace std::chrono;
  const year_month_day day{sys_days{year{2000} / January / 1} + std::chrono::days{days}};
  const int y = static_cast<int>(day.year());
  bc = y <= 0;
  const auto shown = static_cast<unsigned>(bc ? 1 - y : y);
  int width = 4;
  for (unsigned rest = shown / 10000; rest != 0; rest /= 10) ++width;
  out = digits(out, shown, width);
  *out++ = '-';
  out = digits(out, static_cast<unsigned>(day.month()), 2);
  *out++ = '-';
  return digits(out, static_cast<unsigned>(day.day()), 2);
}

char* era(char* out, bool bc) {
  if (!bc) return out;
  std::memcpy(out, " BC", 3);
  return out + 3;
}

// The server's text of a time stamp (microseconds since 2000-01-01):
// "%Y-%m-%d %H:%M:%S", with the fraction of a second when there is one.
std::string_view timestamp_text(char (&buffer)[48], std::int64_t micros) {
  if (micros == std::numeric_limits<std::int64_t>::max()) return "infinity";
  if (micros == std::numeric_limits<std::int64_t>::min()) return "-infinity";
  constexpr std::int64_t kDay = 86400000000;
  const std::int64_t days = micros >= 0 ? micros / kDay : -((-micros + kDay - 1) / kDay);
  std::int64_t of_day = micros - days * kDay;
  bool bc = false;
  char* out = date_text(buffer, static_cast<std::int32_t>(days), bc);
  *out++ = ' ';
  const auto fraction = static_cast<unsigned>(of_day % 1000000);
  of_day /= 1000000;
  out = digits(out, static_cast<unsigned>(of_day / 3600), 2);
  *out++ = ':';
  out = digits(out, static_cast<unsigned>(of_day / 60 % 60), 2);
  *out++ = ':';
  out = digits(out, static_cast<unsigned>(of_day % 60), 2);
  if (fraction != 0) {
    *out++ = '.';
    out = digits(out, fraction, 6);
    while (out[-1] == '0') --out;
  }
  out = era(out, bc);
  return {buffer, static_cast<std::size_t>(out - buffer)};
}

// One cell of the binary format into its column.
void push_binary(zf::Column& column, Oid type, const char* cell, std::size_t length) {
  switch (type) {
    case kBool:
      column.push_integer(cell[0] != 0 ? 1 : 0);
      return;
    case kInt2:
      column.push_integer(big_endian<std::int16_t>(cell));
      return;
    case kInt4:
      column.push_integer(big_endian<std::int32_t>(cell));
      return;
    case kInt8:
      column.push_integer(big_endian<std::int64_t>(cell));
      return;
    case kFloat4: {
      // The double the text form gives: the float's shortest digits.
      char text[32];
      const auto end = std::to_chars(text, text + sizeof text,
                                     std::bit_cast<float>(big_endian<std::int32_t>(cell)))
                           .ptr;
      double v = 0;
      std::from_chars(text, end, v);
      column.push_number(v);
      return;
    }
    case kFloat8:
      column.push_number(std::bit_cast<double>(big_endian<std::int64_t>(cell)));
      return;
    case kNumeric:
      if (column.kind() == zf::ColumnKind::Integer) {
        column.push_integer(numeric_integer(cell).value_or(0));
      } else {
        column.push_number(numeric_value(cell));
      }
      return;
    case kDate: {
      char buffer[24];
      bool bc = false;
      char* end = date_text(buffer, big_endian<std::int32_t>(cell), bc);
      end = era(end, bc);
      column.push_text({buffer, static_cast<std::size_t>(end - buffer)});
      return;
    }
    case kTimestamp: {
      char buffer[48];
      column.push_text(timestamp_text(buffer, big_endian<std::int64_t>(cell)));
      return;
    }
    default:
      column.push_text(std::string_view(cell, length));
  }
}

// One cell of the text format into its column.
void push_text_cell(zf::Column& column, Oid type, const char* cell, std::size_t length) {
  switch (column.kind()) {
    case zf::ColumnKind::Integer: {
      if (type == kBool) {
        column.push_integer(cell[0] == 't' ? 1 : 0);
        return;
      }
      std::int64_t v = 0;
      std::from_chars(cell, cell + length, v);
      column.push_integer(v);
      return;
    }
    case zf::ColumnKind::Number: {
      const std::string_view text(cell, length);
      if (text == "NaN") {
        column.push_number(std::numeric_limits<double>::quiet_NaN());
      } else if (text == "Infinity" || text == "-Infinity") {
        column.push_number(text[0] == '-' ? -std::numeric_limits<double>::infinity()
                                          : std::numeric_limits<double>::infinity());
      } else {
        column.push_number(decimal_value(text));
      }
      return;
    }
    default:
      column.push_text(std::string_view(cell, length));
  }
}

// The kind of a result column, as SQLite would give it: a numeric column
// whose values are all whole and within the 64-bit range (an integer sum) is
// integer; a column of an expression without any value is text, as SQLite
// knows no declared type for it.
zf::ColumnKind column_kind(const PGresult* result, int f, int rows) {
  const Oid type = PQftype(result, f);
  bool any = false;
  bool whole = true;
  for (int r = 0; r < rows; ++r) {
    if (PQgetisnull(result, r, f) != 0) continue;
    any = true;
    if (type != kNumeric) break;
    const char* cell = PQgetvalue(result, r, f);
    const bool is_whole =
        PQfformat(result, f) == 1
            ? numeric_integer(cell).has_value()
            : integer_text({cell, static_cast<std::size_t>(PQgetlength(result, r, f))}).has_value();
    if (!is_whole) {
      whole = false;
      break;
    }
  }
  if (!any && PQftable(result, f) == InvalidOid) return zf::ColumnKind::Text;
  if (type == kNumeric && any && whole) return zf::ColumnKind::Integer;
  return kind_of(type);
}

// The rows of a result as a table of the store's column kinds, read row by
// row as libpq keeps them.
zf::Table table_of(const PGresult* result) {
  const int rows = PQntuples(result);
  const int fields = PQnfields(result);
  std::vector<zf::Column> columns;
  std::vector<Oid> types;
  std::vector<bool> binary;
  columns.reserve(static_cast<std::size_t>(fields));
  for (int f = 0; f < fields; ++f) {
    types.push_back(PQftype(result, f));
    binary.push_back(PQfformat(result, f) == 1);
    columns.emplace_back(PQfname(result, f), column_kind(result, f, rows));
    columns.back().reserve(static_cast<std::size_t>(rows));
  }
  for (int r = 0; r < rows; ++r) {
    for (int f = 0; f < fields; ++f) {
      auto& column = columns[static_cast<std::size_t>(f)];
      if (PQgetisnull(result, r, f) != 0) {
        column.push_missing();
        continue;
      }
      const char* cell = PQgetvalue(result, r, f);
      const auto length = static_cast<std::size_t>(PQgetlength(result, r, f));
      const Oid type = types[static_cast<std::size_t>(f)];
      if (binary[static_cast<std::size_t>(f)]) {
        push_binary(column, type, cell, length);
      } else {
        push_text_cell(column, type, cell, length);
      }
    }
  }
  return zf::Table(std::move(columns));
}

constexpr const char* kTimedOut =
    "The database server did not answer in time (statement_timeout %s s): the connection was "
    "dropped and is made again at the next call; whether the statement took effect is unknown.";
constexpr const char* kCommitRolledBack =
    "A statement of the transaction failed and the server rolled the transaction back; none of "
    "its statements was stored.";
constexpr const char* kStatementSavepoint = "SAVEPOINT zantrix_statement";
constexpr const char* kUndoStatement = "ROLLBACK TO SAVEPOINT zantrix_statement";

// The first word of a caller's statement, in lower case, and the rest.
std::pair<std::string, std::string_view> first_word(std::string_view sql) {
  const std::size_t begin = std::min(sql.find_first_not_of(" \t\r\n"), sql.size());
  sql.remove_prefix(begin);
  const std::size_t end = std::min(sql.find_first_of(" \t\r\n;"), sql.size());
  return {lower_case(sql.substr(0, end)), sql.substr(end)};
}

// The setting a caller's SET or RESET statement changes ("all" for RESET
// ALL), or empty when the statement is no such change of the session.
std::string session_setting(std::string_view sql) {
  auto [verb, rest] = first_word(sql);
  if (verb != "set" && verb != "reset") return {};
  auto [name, after] = first_word(rest);
  if (verb == "set" && name == "session") std::tie(name, after) = first_word(after);
  if (name == "local" || name == "transaction" || name == "constraints" || name == "role" ||
      name == "session" || name.empty()) {
    return {};
  }
  if (const std::size_t cut = name.find_first_of("=("); cut != std::string::npos) {
    name.resize(cut);
  }
  return name;
}

class PostgresConnection final : public Connection {
 public:
  PostgresConnection(ServerUri uri, PGconn* connection)
      : uri_(std::move(uri)), connection_(connection) {
    configure();
  }

  std::optional<zf::Table> run(const Statement& statement, Run how) override {
    const bool own = statement.marks.empty() && statement.postgres_sql.empty();
    if (own) {
      const std::size_t marks = caller_marks(statement.sql).size();
      if (marks != statement.parameters.size()) {
        throw wrong_bindings(marks, statement.parameters.size(), statement.text());
      }
    }
    reconnect_if_lost();
    refuse_lost_transaction(statement);
    check_lengths(statement);
    std::string sql = statement.postgres();
    const std::string identity = statement.inserts ? shape_of(statement.table).identity : "";
    if (!identity.empty()) sql += " RETURNING \"" + identity + "\"";
    std::vector<Bound> values;
    values.reserve(statement.parameters.size());
    for (const auto& value : statement.parameters) values.push_back(bound(value));
    bool replanned = false;
    for (int attempt = 0;; ++attempt) {
      Result result = execute(sql, values, how.rows || !identity.empty(), statement);
      const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
      if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
        if (changes_schema(sql)) forget_shapes();
        if (!identity.empty()) last_id_ = returned_id(result.get());
        if (own) after_own_statement(statement);
        if (!how.rows) return std::nullopt;
        return table_of(result.get());
      }
      if (PQstatus(connection_.get()) != CONNECTION_BAD) {
        undo_statement();
        if (!replanned && stale_plan(result.get())) {
          replanned = true;
          forget_prepared(sql, values);
          --attempt;
          continue;
        }
        std::string message = message_of(result.get(), connection_.get());
        if (message == "cannot insert multiple commands into a prepared statement") {
          message = kOneStatement;
        }
        throw DatabaseError(message, code_of(result.get()), statement.text());
      }
      lost();
      if (!how.idempotent || attempt > 0 || transaction_lost_) {
        throw DatabaseError(
            (transaction_lost_ ? std::string(kLostTransaction) + " " : std::string(kLostWrite)) +
                trimmed(PQerrorMessage(connection_.get())),
            kIoError, statement.text());
      }
      reconnect_if_lost();
    }
  }

  // The first statement of the transaction gets its savepoint with the BEGIN.
  void begin() override {
    reconnect_if_lost();
    transaction_lost_ = false;
    command(std::string("BEGIN; ") + kStatementSavepoint);
    statement_savepoint_ = true;
    in_transaction_ = true;
  }

  // A transaction whose connection was lost is over: its end (COMMIT or
  // ROLLBACK) clears the loss, a COMMIT reporting that nothing was stored,
  // so that the statements after it run again. The statement savepoint is
  // always the newest: a scope's savepoint is made after releasing it, and
  // releasing or rolling back to a scope's savepoint, or ending the
  // transaction, ends it too.
  void control(const std::string& sql) override {
    const bool ends = sql == "COMMIT" || sql == "ROLLBACK";
    if (in_transaction_ && !alive()) lost();
    if (transaction_lost_) {
      if (ends) transaction_lost_ = in_transaction_ = false;
      if (sql.starts_with("ROLLBACK")) return;
      throw DatabaseError(kLostTransaction, kIoError, sql);
    }
    reconnect_if_lost();
    const bool release_first = statement_savepoint_ && sql.starts_with("SAVEPOINT");
    statement_savepoint_ = false;
    try {
      command(release_first ? "RELEASE SAVEPOINT zantrix_statement; " + sql : sql);
    } catch (...) {
      if (ends) {
        transaction_lost_ = in_transaction_ = false;
        pending_settings_.clear();
      }
      throw;
    }
    if (ends) {
      in_transaction_ = false;
      if (sql == "COMMIT") {
        for (auto& [name, set] : pending_settings_) keep_setting(name, std::move(set));
      }
      pending_settings_.clear();
    }
  }

  bool in_transaction() override {
    const auto status = PQtransactionStatus(connection_.get());
    return in_transaction_ || status == PQTRANS_INTRANS || status == PQTRANS_INERROR;
  }

  void commit_open() override {
    if (!connection_) return;
    const auto status = PQtransactionStatus(connection_.get());
    if (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) {
      statement_savepoint_ = false;
      command("COMMIT");
    }
  }

  // Held until unlock_schema, also across a reconnect (it is taken again).
  void lock_schema() override {
    reconnect_if_lost();
    command(kSchemaLock);
    schema_locked_ = true;
  }
  void unlock_schema() override {
    schema_locked_ = false;
    command(kSchemaUnlock);
  }

  std::int64_t last_insert_id() override {
    if (!last_id_) {
      throw DatabaseError("lastval is not yet defined in this session", kError, "SELECT lastval()");
    }
    return *last_id_;
  }

  // Asked afresh: another session may have changed the table.
  DeclaredColumns declared_columns(const std::string& table) override {
    reconnect_if_lost();
    shapes_.erase(lower_case(table));
    return shape_of(table).declared;
  }

 private:
  // Settings that make the server's texts those the store reads (time
  // stamps as "%Y-%m-%d %H:%M:%S", UTF-8) and its statement time-out; its
  // notices ("already exists, skipping") are not printed. Then the caller's
  // own session settings, in the order they were made.
  void configure() {
    PQsetNoticeProcessor(
        connection_.get(), [](void*, const char*) {}, nullptr);
    prepared_.clear();
    shapes_.clear();
    statement_savepoint_ = false;
    command("SET datestyle TO ISO, YMD; SET client_encoding TO 'UTF8'; SET statement_timeout = " +
            std::to_string(std::chrono::milliseconds(uri_.statement_timeout).count()));
    for (const auto& [name, set] : settings_) command(set);
  }

  // How long one exchange may wait for the server: a second past the
  // server's own statement time-out, so that the server's cancellation
  // arrives first when the server still answers.
  std::optional<std::chrono::steady_clock::time_point> deadline() const {
    if (uri_.statement_timeout.count() == 0) return std::nullopt;
    return std::chrono::steady_clock::now() + uri_.statement_timeout + std::chrono::seconds(1);
  }

  // Sends with `send` and gathers every result within the deadline: the
  // first failed one, else the last. A server that does not answer in time
  // costs the connection: it is dropped (a cancel request would wait on the
  // same silent server; the server ends the statement itself when it runs
  // again, at its statement_timeout), and made again at the next call.
  Result exchange(const std::function<int(PGconn*)>& send, const std::string& statement) {
    PGconn* connection = connection_.get();
    if (send(connection) == 0) return nullptr;
    const auto until = deadline();
    Result kept;
    for (;;) {
      while (PQisBusy(connection) != 0) {
        wait_or_drop(connection, until, statement);
        if (PQconsumeInput(connection) == 0) break;
      }
      Result result(PQgetResult(connection));
      if (!result) break;
      if (!failed(kept.get())) kept = std::move(result);
      if (PQstatus(connection) == CONNECTION_BAD) break;
    }
    return kept;
  }

  // Waits for the server's answer until the deadline; past it, the
  // connection is dropped and the statement fails.
  void wait_or_drop(PGconn* connection,
                    const std::optional<std::chrono::steady_clock::time_point>& until,
                    const std::string& statement) {
    if (wait_readable(connection, until)) return;
    lost();
    connection_.reset();
    std::string message = kTimedOut;
    message.replace(message.find("%s"), 2, std::to_string(uri_.statement_timeout.count()));
    throw DatabaseError(message, kIoError, statement);
  }

  // Sends the savepoint commands `ahead` and the prepared statement in one
  // pipeline, so that the savepoint costs no exchange of its own; the
  // statement's result, or the first failed one.
  Result pipelined(const std::vector<const char*>& ahead, const std::string& name,
                   const std::vector<const char*>& values, bool binary,
                   const std::string& statement) {
    PGconn* connection = connection_.get();
    if (PQenterPipelineMode(connection) == 0) return nullptr;
    bool sent = true;
    for (const char* command : ahead) {
      sent = sent &&
             PQsendQueryParams(connection, command, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    }
    sent = sent && PQsendQueryPrepared(connection, name.c_str(), static_cast<int>(values.size()),
                                       values.data(), nullptr, nullptr, binary ? 1 : 0) == 1;
    sent = sent && PQpipelineSync(connection) == 1;
    const auto until = deadline();
    Result kept;
    for (bool synced = !sent; !synced;) {
      while (PQisBusy(connection) != 0) {
        wait_or_drop(connection, until, statement);
        if (PQconsumeInput(connection) == 0) break;
      }
      Result result(PQgetResult(connection));
      if (!result) {
        if (PQstatus(connection) == CONNECTION_BAD) break;
        continue;
      }
      if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) {
        synced = true;
      } else if (!failed(kept.get())) {
        kept = std::move(result);
      }
    }
    PQexitPipelineMode(connection);
    return kept;
  }

  static bool failed(const PGresult* result) {
    if (result == nullptr) return false;
    const auto status = PQresultStatus(result);
    return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
  }

  static bool wait_readable(PGconn* connection,
                            const std::optional<std::chrono::steady_clock::time_point>& until) {
    pollfd waiting{PQsocket(connection), POLLIN, 0};
    for (;;) {
      int timeout = -1;
      if (until) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        timeout = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
      }
      const int ready = poll(&waiting, 1, timeout);
      if (ready > 0) return true;
      if (ready == 0) return false;
      if (errno != EINTR) return true;  // libpq's read then reports the failure
    }
  }

  // Runs a statement of the connection's own; a COMMIT cut off in flight
  // may or may not have taken effect, and says so; a COMMIT the server
  // answers with ROLLBACK (its transaction had failed) stored nothing.
  void command(const std::string& sql) {
    if (!connection_) reconnect_if_lost();
    const Result result = exchange([&](PGconn* c) { return PQsendQuery(c, sql.c_str()); }, sql);
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      if (sql == "COMMIT" && std::strcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0) {
        throw DatabaseError(kCommitRolledBack, kError, sql);
      }
      return;
    }
    if (PQstatus(connection_.get()) == CONNECTION_BAD) {
      lost();
      if (sql == "COMMIT") {
        throw DatabaseError(kLostWrite + trimmed(PQerrorMessage(connection_.get())), kIoError, sql);
      }
    }
    throw DatabaseError(message_of(result.get(), connection_.get()), code_of(result.get()), sql);
  }

  // Inside a transaction, the statement gets a savepoint of its own (the
  // one of the statement before it released), so that its failure undoes it
  // alone: the commands to send ahead of the statement.
  std::vector<const char*> statement_guard() {
    if (PQtransactionStatus(connection_.get()) != PQTRANS_INTRANS) {
      statement_savepoint_ = false;
      return {};
    }
    std::vector<const char*> ahead;
    if (statement_savepoint_) ahead.push_back("RELEASE SAVEPOINT zantrix_statement");
    ahead.push_back(kStatementSavepoint);
    statement_savepoint_ = true;
    return ahead;
  }

  void undo_statement() {
    if (statement_savepoint_ && PQtransactionStatus(connection_.get()) == PQTRANS_INERROR) {
      command(kUndoStatement);
    }
  }

  // A caller's own statement that went through: an insert's id (the
  // session's latest sequence value), a change of a session setting.
  void after_own_statement(const Statement& statement) {
    const auto [verb, rest] = first_word(statement.sql);
    if (verb == "insert") {
      const Result result =
          exchange([](PGconn* c) { return PQsendQuery(c, "SELECT lastval()"); }, "");
      if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK &&
          PQntuples(result.get()) == 1) {
        if (const auto id = integer_text(PQgetvalue(result.get(), 0, 0))) last_id_ = *id;
      }
      return;
    }
    const std::string name = session_setting(statement.sql);
    if (name.empty()) return;
    if (in_transaction()) {
      pending_settings_.emplace_back(name, statement.sql);
    } else {
      keep_setting(name, statement.sql);
    }
  }

  void keep_setting(const std::string& name, std::string set) {
    const bool reset = first_word(set).first == "reset";
    if (name == "all") {
      settings_.clear();
      if (!reset) settings_.emplace_back(name, std::move(set));
      return;
    }
    std::erase_if(settings_, [&](const auto& kept) { return kept.first == name; });
    if (!reset) settings_.emplace_back(name, std::move(set));
  }

  static bool stale_plan(const PGresult* result) {
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr && std::strcmp(state, "0A000") == 0 &&
           message_of(result, nullptr).starts_with("cached plan must not change result type");
  }

  static std::string key_of(const std::string& sql, const std::vector<Bound>& values) {
    std::string key = sql;
    for (const auto& v : values) {
      key += '|';
      key += std::to_string(v.type);
    }
    return key;
  }

  void forget_prepared(const std::string& sql, const std::vector<Bound>& values) {
    const auto found = prepared_.find(key_of(sql, values));
    if (found == prepared_.end()) return;
    const std::string name = found->second.name;
    prepared_.erase(found);
    exchange([&](PGconn* c) { return PQsendQuery(c, ("DEALLOCATE " + name).c_str()); }, "");
  }

  // Prepares the shape once (per the types of its values), then runs it. A
  // selection whose columns are all of types the store reads in the binary
  // format asks for its rows in that format (learnt once, when prepared).
  Result execute(const std::string& sql, const std::vector<Bound>& values, bool rows,
                 const Statement& statement) {
    std::vector<const char*> ahead = statement_guard();
    std::string key = key_of(sql, values);
    std::vector<Oid> types;
    types.reserve(values.size());
    for (const auto& v : values) types.push_back(v.type);
    auto found = prepared_.find(key);
    if (found == prepared_.end()) {
      // A statement that cannot be prepared fails the transaction: its
      // savepoint must stand before it.
      if (!ahead.empty()) {
        std::string commands;
        for (const char* command : ahead) commands += std::string(command) + ";";
        command(commands);
      }
      ahead.clear();
      if (prepared_.size() >= kKept) {
        exchange([](PGconn* c) { return PQsendQuery(c, "DEALLOCATE ALL"); }, "");
        prepared_.clear();
      }
      const std::string name = "zantrix_" + std::to_string(next_name_++);
      Result made = exchange(
          [&](PGconn* c) {
            return PQsendPrepare(c, name.c_str(), sql.c_str(), static_cast<int>(types.size()),
                                 types.data());
          },
          statement.text());
      if (!made || PQresultStatus(made.get()) != PGRES_COMMAND_OK) return made;
      found = prepared_.emplace(std::move(key), Prepared{name, rows && all_binary(name)}).first;
    }
    std::vector<const char*> texts;
    texts.reserve(values.size());
    for (const auto& v : values) texts.push_back(v.text ? v.text->c_str() : nullptr);
    const Prepared& prepared = found->second;
    if (!ahead.empty()) {
      return pipelined(ahead, prepared.name, texts, prepared.binary, statement.text());
    }
    return exchange(
        [&](PGconn* c) {
          return PQsendQueryPrepared(c, prepared.name.c_str(), static_cast<int>(texts.size()),
                                     texts.data(), nullptr, nullptr, prepared.binary ? 1 : 0);
        },
        statement.text());
  }

  bool all_binary(const std::string& name) {
    const Result described =
        exchange([&](PGconn* c) { return PQsendDescribePrepared(c, name.c_str()); }, "");
    if (!described || PQresultStatus(described.get()) != PGRES_COMMAND_OK) return false;
    const int fields = PQnfields(described.get());
    for (int f = 0; f < fields; ++f) {
      if (!binary_readable(PQftype(described.get(), f))) return false;
    }
    return fields > 0;
  }

  static std::int64_t returned_id(const PGresult* result) {
    if (PQntuples(result) != 1 || PQgetisnull(result, 0, 0) != 0) return 0;
    const char* cell = PQgetvalue(result, 0, 0);
    if (PQfformat(result, 0) == 1) return big_endian<std::int64_t>(cell);
    return integer_text(cell).value_or(0);
  }

  // A table made, changed or dropped may change the lengths of its columns
  // and the rows of a prepared selection: both are asked for afresh.
  static bool changes_schema(std::string_view sql) {
    return sql.starts_with("DROP ") || sql.starts_with("CREATE ") || sql.starts_with("ALTER ");
  }
  void forget_shapes() {
    shapes_.clear();
    if (!prepared_.empty()) {
      exchange([](PGconn* c) { return PQsendQuery(c, "DEALLOCATE ALL"); }, "");
    }
    prepared_.clear();
  }

  void lost() {
    if (in_transaction_) transaction_lost_ = true;
    in_transaction_ = false;
    statement_savepoint_ = false;
    pending_settings_.clear();
    prepared_.clear();
  }

  // Reads what the server sent since the last statement, so that a
  // connection it closed meanwhile (a restart) is made again before a
  // statement is sent on it, rather than failing that statement. The new
  // connection gets the settings and the schema's lock the old one had.
  void reconnect_if_lost() {
    if (alive()) return;
    lost();
    connection_.reset(PQconnectdb(uri_.conninfo.c_str()));
    if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK) {
      std::string why =
          connection_ ? trimmed(PQerrorMessage(connection_.get())) : std::string("out of memory");
      connection_.reset();
      throw DatabaseError(why, kIoError, "");
    }
    configure();
    if (schema_locked_) command(kSchemaLock);
  }

  // Whether the connection is still open: what the server sent while the
  // connection was idle is read (a parameter's new value, or the notice and
  // end of a connection the server closes); a closed one shows at the read
  // that meets its end.
  bool alive() {
    PGconn* connection = connection_.get();
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) return false;
    pollfd waiting{PQsocket(connection), POLLIN, 0};
    while (poll(&waiting, 1, 0) > 0) {
      if (PQconsumeInput(connection) == 0) return false;
      PQisBusy(connection);
    }
    return PQstatus(connection) == CONNECTION_OK;
  }

  void refuse_lost_transaction(const Statement& statement) const {
    if (transaction_lost_) throw DatabaseError(kLostTransaction, kIoError, statement.text());
  }

  // Each text bound for a column of declared length must fit in it.
  void check_lengths(const Statement& statement) {
    if (statement.table.empty() || statement.value_columns.empty()) return;
    const auto& limits = shape_of(statement.table).lengths;
    for (std::size_t k = 0; k < statement.value_columns.size(); ++k) {
      const auto* text = std::get_if<std::string>(&statement.parameters[k]);
      const std::string_view column = statement.column_of(k);
      if (text == nullptr || column.empty()) continue;
      const auto limit = limits.find(lower_case(column));
      if (limit == limits.end()) continue;
      const std::size_t length = characters(*text);
      if (length > limit->second) {
        throw DatabaseError("value too long for column " + std::string(column) + " of " +
                                statement.table + ": " + std::to_string(length) +
                                " characters, at most " + std::to_string(limit->second),
                            kTooBig, statement.text());
      }
    }
  }

  // What the store needs of a table's columns: their kinds, their declared
  // lengths and the column the server numbers rows by; asked of the
  // server's catalogue once (none for a table that does not exist).
  struct Shape {
    DeclaredColumns declared;
    std::map<std::string, std::size_t, std::less<>> lengths;
    std::string identity;
  };
  const Shape& shape_of(const std::string& table) {
    const std::string name = lower_case(table);
    if (const auto found = shapes_.find(name); found != shapes_.end()) return found->second;
    Shape shape;
    const char* values[] = {name.c_str()};
    const Result result = exchange(
        [&](PGconn* c) {
          return PQsendQueryParams(
              c,
              "SELECT a.attname, format_type(a.atttypid, a.atttypmod), CASE WHEN a.atttypid IN "
              "(1042, 1043) AND a.atttypmod > 4 THEN a.atttypmod - 4 END, a.attidentity <> '' "
              "OR coalesce(pg_get_expr(d.adbin, d.adrelid) LIKE 'nextval(%', false) FROM "
              "pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = "
              "a.attnum WHERE a.attrelid = to_regclass(quote_ident($1)) AND a.attnum > 0 AND "
              "NOT a.attisdropped",
              1, nullptr, values, nullptr, nullptr, 0);
        },
        "");
    if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK) {
      for (int r = 0; r < PQntuples(result.get()); ++r) {
        const std::string column = PQgetvalue(result.get(), r, 0);
        shape.declared.emplace(column, declared_kind(PQgetvalue(result.get(), r, 1)));
        if (PQgetisnull(result.get(), r, 2) == 0) {
          shape.lengths.emplace(
              column, static_cast<std::size_t>(std::atoll(PQgetvalue(result.get(), r, 2))));
        }
        if (PQgetvalue(result.get(), r, 3)[0] == 't' && shape.identity.empty()) {
          shape.identity = column;
        }
      }
    }
    return shapes_.emplace(name, std::move(shape)).first->second;
  }

  static constexpr std::size_t kKept = 64;
  ServerUri uri_;
  std::unique_ptr<PGconn, ConnectionFree> connection_;
  struct Prepared {
    std::string name;
    bool binary = false;
  };
  std::unordered_map<std::string, Prepared> prepared_;
  std::unordered_map<std::string, Shape> shapes_;
  int next_name_ = 0;
  bool in_transaction_ = false;
  bool transaction_lost_ = false;
  bool statement_savepoint_ = false;
  bool schema_locked_ = false;
  std::optional<std::int64_t> last_id_;
  // The caller's SET statements, by setting, made again on a new
  // connection; those of an open transaction until it commits.
  std::vector<std::pair<std::string, std::string>> settings_;
  std::vector<std::pair<std::string, std::string>> pending_settings_;
};

}  // namespace

std::unique_ptr<Connection> open_postgres(const std::string& uri) {
  ServerUri server = read_server_uri(uri);
  std::unique_ptr<PGconn, ConnectionFree> connection(PQconnectdb(server.conninfo.c_str()));
  if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
    throw DatabaseError(
        connection ? trimmed(PQerrorMessage(connection.get())) : std::string("out of memory"),
        kIoError, "");
  }
  return std::make_unique<PostgresConnection>(std::move(server), connection.release());
}

}  // namespace zantrix::plugins::sqlite3::detail
