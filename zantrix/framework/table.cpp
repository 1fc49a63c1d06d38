#include "zantrix/framework/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <type_traits>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/fresh_memory.h"

namespace zantrix::framework {
namespace {

constexpr double kMissingNumber = std::numeric_limits<double>::quiet_NaN();

template <class T>
constexpr ColumnKind kind_of() {
  if constexpr (std::is_same_v<T, double>) return ColumnKind::Number;
  if constexpr (std::is_same_v<T, std::int64_t>) return ColumnKind::Integer;
  if constexpr (std::is_same_v<T, TextCells>) return ColumnKind::Text;
  if constexpr (std::is_same_v<T, DateTime>) return ColumnKind::DateTime;
}

template <class V>
using ValueOf = typename std::remove_cvref_t<V>::value_type;

std::string quoted(std::string_view name) {
  return "'" + std::string(name) + "'";
}

Column::Storage empty_storage(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Number:
      return std::vector<double>{};
    case ColumnKind::Integer:
      return std::vector<std::int64_t>{};
    case ColumnKind::Text:
      return TextCells{};
    case ColumnKind::DateTime:
      return std::vector<DateTime>{};
  }
  throw ValueError("unknown column kind " + std::to_string(static_cast<int>(kind)));
}

// The values of `storage` as a vector of T (TextCells for texts), or a
// ValueError naming the column.
template <class T>
using StoredAs = std::conditional_t<std::is_same_v<T, TextCells>, TextCells, std::vector<T>>;

template <class T, class S>
auto& values_as(S& storage, const std::string& name) {
  if (auto* values = std::get_if<StoredAs<T>>(&storage)) return *values;
  throw ValueError("column " + quoted(name) + " holds " +
                   std::string(column_kind_name(static_cast<ColumnKind>(storage.index()))) +
                   " cells, not " + std::string(column_kind_name(kind_of<T>())));
}

void check_position(std::size_t position, std::size_t rows) {
  if (position >= rows) {
    throw std::out_of_range("row position " + std::to_string(position) + " is out of range for " +
                            std::to_string(rows) + " rows");
  }
}

void check_positions(std::span<const std::size_t> positions, std::size_t rows) {
  for (const std::size_t p : positions) check_position(p, rows);
}

// Brings a missing-cell mask to `rows` entries, the new ones present. `room`
// (at least `rows`) is the capacity of the column's values: the mask is
// allocated to match it, so that it grows no more often than they do.
void extend_mask(std::vector<std::uint8_t>& mask, std::size_t rows, std::size_t room) {
  if (mask.capacity() < room) mask.reserve(room);
  mask.resize(rows, 0);
}

// Integer and number columns join as numbers; other kinds must agree.
ColumnKind joined_kind(std::string_view name, ColumnKind a, ColumnKind b) {
  if (a == b) return a;
  const auto numeric = [](ColumnKind k) {
    return k == ColumnKind::Number || k == ColumnKind::Integer;
  };
  if (numeric(a) && numeric(b)) return ColumnKind::Number;
  throw ValueError("column " + quoted(name) + " holds " + std::string(column_kind_name(a)) +
                   " cells in one table and " + std::string(column_kind_name(b)) +
                   " cells in another");
}

// 0, 1, 2, ... written once into fresh memory mapped up front.
std::vector<std::int64_t> labels_from_zero(std::size_t n) {
  std::vector<std::int64_t> labels;
  labels.reserve(n);
  prefault(labels.data(), n * sizeof(std::int64_t));
  for (std::size_t i = 0; i < n; ++i) labels.push_back(static_cast<std::int64_t>(i));
  return labels;
}

struct ColumnPlan {
  std::string_view name;
  ColumnKind kind;
};

// The columns of the tables joined end to end, in order of first appearance.
std::vector<ColumnPlan> plan_columns(std::span<const Table* const> parts) {
  std::vector<ColumnPlan> plan;
  for (const Table* part : parts) {
    for (const Column& column : part->column_list()) {
      const auto same = std::find_if(plan.begin(), plan.end(),
                                     [&](const ColumnPlan& p) { return p.name == column.name(); });
      if (same == plan.end()) {
        plan.push_back({column.name(), column.kind()});
      } else {
        same->kind = joined_kind(column.name(), same->kind, column.kind());
      }
    }
  }
  return plan;
}

}  // namespace

std::string_view column_kind_name(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Number:
      return "number";
    case ColumnKind::Integer:
      return "integer";
    case ColumnKind::Text:
      return "text";
    case ColumnKind::DateTime:
      return "date-time";
  }
  return "unknown";
}

// ---- Column ----------------------------------------------------------------
//
// Number cells mark themselves missing with NaN. The other kinds keep a byte
// per cell in `missing_`, allocated only when the first cell goes missing.
// Cells past the end of the mask are present: pushing a value leaves the mask
// alone (as does `texts_mut`, which may change the number of cells), and every
// write to the mask first brings it to the column's length.

Column::Column(std::string name, ColumnKind kind)
    : name_(std::move(name)), storage_(empty_storage(kind)) {}
Column::Column(std::string name, std::vector<double> values)
    : name_(std::move(name)), storage_(std::move(values)) {}
Column::Column(std::string name, std::vector<std::int64_t> values)
    : name_(std::move(name)), storage_(std::move(values)) {}
Column::Column(std::string name, const std::vector<std::string>& values)
    : name_(std::move(name)), storage_(TextCells(values)) {}
Column::Column(std::string name, TextCells values)
    : name_(std::move(name)), storage_(std::move(values)) {}
Column::Column(std::string name, std::vector<DateTime> values)
    : name_(std::move(name)), storage_(std::move(values)) {}

std::size_t Column::size() const {
  return std::visit([](const auto& values) { return values.size(); }, storage_);
}

bool Column::missing(std::size_t row) const {
  if (const auto* numbers = std::get_if<std::vector<double>>(&storage_)) {
    return std::isnan((*numbers)[row]);
  }
  return row < missing_.size() && missing_[row] != 0;
}

bool Column::has_missing() const {
  if (const auto* numbers = std::get_if<std::vector<double>>(&storage_)) {
    return std::any_of(numbers->begin(), numbers->end(), [](double v) { return std::isnan(v); });
  }
  const std::size_t marked = std::min(missing_.size(), size());
  return marked != 0 && std::memchr(missing_.data(), 1, marked) != nullptr;
}

std::span<const double> Column::numbers() const {
  return values_as<double>(storage_, name_);
}
std::span<const std::int64_t> Column::integers() const {
  return values_as<std::int64_t>(storage_, name_);
}
const TextCells& Column::texts() const {
  return values_as<TextCells>(storage_, name_);
}
std::string_view Column::text_at(std::size_t row) const {
  const TextCells& cells = texts();
  return missing(row) ? std::string_view{} : cells[row];
}
std::span<const DateTime> Column::datetimes() const {
  return values_as<DateTime>(storage_, name_);
}
std::vector<double>& Column::numbers_mut() {
  return values_as<double>(storage_, name_);
}
TextCells& Column::texts_mut() {
  return values_as<TextCells>(storage_, name_);
}

double Column::number_at(std::size_t row) const {
  if (const auto* numbers = std::get_if<std::vector<double>>(&storage_)) return (*numbers)[row];
  if (const auto* integers = std::get_if<std::vector<std::int64_t>>(&storage_)) {
    return missing(row) ? kMissingNumber : static_cast<double>((*integers)[row]);
  }
  throw ValueError("column " + quoted(name_) + " holds " + std::string(column_kind_name(kind())) +
                   " cells, not numbers");
}

void Column::reserve(std::size_t rows) {
  std::visit([rows](auto& values) { values.reserve(rows); }, storage_);
  if (!missing_.empty()) missing_.reserve(rows);
}

void Column::push_number(double v) {
  values_as<double>(storage_, name_).push_back(v);
}

void Column::push_integer(std::int64_t v) {
  values_as<std::int64_t>(storage_, name_).push_back(v);
}

void Column::push_text(std::string_view v) {
  values_as<TextCells>(storage_, name_).push_back(v);
}

void Column::push_datetime(DateTime v) {
  values_as<DateTime>(storage_, name_).push_back(v);
}

void Column::push_missing() {
  append_missing(1);
}

void Column::append_missing(std::size_t count) {
  std::visit(
      [&](auto& values) {
        using T = ValueOf<decltype(values)>;
        const std::size_t old_size = values.size();
        if constexpr (std::is_same_v<T, double>) {
          values.resize(old_size + count, kMissingNumber);
        } else {
          values.resize(old_size + count);
          extend_mask(missing_, old_size, values.capacity());
          missing_.resize(old_size + count, 1);
        }
      },
      storage_);
}

void Column::set_missing(std::size_t row) {
  std::visit(
      [&](auto& values) {
        using T = ValueOf<decltype(values)>;
        check_position(row, values.size());
        if constexpr (std::is_same_v<T, double>) {
          values[row] = kMissingNumber;
        } else {
          // A text cell keeps its characters; only its mark says it is gone.
          if constexpr (!std::is_same_v<T, std::string_view>) values[row] = T{};
          if (missing_.size() < values.size()) {
            extend_mask(missing_, values.size(), values.capacity());
          }
          missing_[row] = 1;
        }
      },
      storage_);
}

void Column::keep_cells(std::span<const std::uint8_t> keep) {
  std::visit(
      [&](auto& values) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(values)>, TextCells>) {
          values.keep(keep);
        } else {
          std::size_t kept = 0;
          for (std::size_t i = 0; i < values.size(); ++i) {
            if (keep[i] != 0) {
              if (kept != i) values[kept] = std::move(values[i]);
              ++kept;
            }
          }
          values.resize(kept);
        }
      },
      storage_);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < missing_.size(); ++i) {
    if (keep[i] != 0) missing_[kept++] = missing_[i];
  }
  missing_.resize(kept);
}

Column Column::take(std::span<const std::size_t> rows) const {
  check_positions(rows, size());
  Column out(name_, kind());
  std::visit(
      [&](const auto& values) {
        auto& taken = std::get<std::remove_cvref_t<decltype(values)>>(out.storage_);
        taken.reserve(rows.size());
        for (const std::size_t r : rows) taken.push_back(values[r]);
      },
      storage_);
  if (!missing_.empty() &&
      std::any_of(rows.begin(), rows.end(), [this](std::size_t r) { return missing(r); })) {
    out.missing_.reserve(rows.size());
    for (const std::size_t r : rows) out.missing_.push_back(missing(r) ? 1 : 0);
  }
  return out;
}

void Column::append(const Column& other) {
  if (&other == this) {
    const Column copy = other;
    append(copy);
    return;
  }
  const ColumnKind joined = joined_kind(name_, kind(), other.kind());
  const std::size_t old_size = size();
  const std::size_t total = old_size + other.size();

  if (joined == ColumnKind::Number) {
    if (kind() == ColumnKind::Integer) {
      std::vector<double> widened;
      widened.reserve(total);
      for (std::size_t i = 0; i < old_size; ++i) widened.push_back(number_at(i));
      storage_ = std::move(widened);
      missing_ = {};
    }
    auto& numbers = std::get<std::vector<double>>(storage_);
    numbers.reserve(total);
    if (other.kind() == ColumnKind::Number) {
      const auto theirs = other.numbers();
      numbers.insert(numbers.end(), theirs.begin(), theirs.end());
    } else {
      for (std::size_t i = 0; i < other.size(); ++i) numbers.push_back(other.number_at(i));
    }
    return;
  }

  const std::size_t room = std::visit(
      [&](auto& values) {
        const auto& theirs = std::get<std::remove_cvref_t<decltype(values)>>(other.storage_);
        values.reserve(total);
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(values)>, TextCells>) {
          values.append(theirs);
        } else {
          values.insert(values.end(), theirs.begin(), theirs.end());
        }
        return values.capacity();
      },
      storage_);
  if (missing_.empty() && !other.has_missing()) return;
  extend_mask(missing_, old_size, room);
  const std::size_t marked = std::min(other.missing_.size(), other.size());
  missing_.insert(missing_.end(), other.missing_.begin(),
                  other.missing_.begin() + static_cast<std::ptrdiff_t>(marked));
  missing_.resize(total, 0);
}

Column Column::missing_like(std::size_t n) const {
  Column out(name_, kind());
  out.append_missing(n);
  return out;
}

bool operator==(const Column& a, const Column& b) {
  if (a.name_ != b.name_ || a.kind() != b.kind() || a.size() != b.size()) return false;
  return std::visit(
      [&](const auto& mine) {
        const auto& theirs = std::get<std::remove_cvref_t<decltype(mine)>>(b.storage_);
        for (std::size_t i = 0; i < mine.size(); ++i) {
          const bool gone = a.missing(i);
          if (gone != b.missing(i)) return false;
          if (!gone && !(mine[i] == theirs[i])) return false;
        }
        return true;
      },
      a.storage_);
}

// ---- Table -----------------------------------------------------------------

Table::Table(std::vector<Column> columns) : columns_(std::move(columns)) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Column& column = columns_[i];
    if (column.size() != columns_.front().size()) {
      throw ValueError("column " + quoted(column.name()) + " has " + std::to_string(column.size()) +
                       " cells, but column " + quoted(columns_.front().name()) + " has " +
                       std::to_string(columns_.front().size()));
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (columns_[j].name() == column.name()) {
        throw ValueError("duplicate column " + quoted(column.name()));
      }
    }
  }
  labels_ = labels_from_zero(columns_.empty() ? 0 : columns_.front().size());
}

std::vector<std::string> Table::column_names() const {
  std::vector<std::string> names;
  names.reserve(columns_.size());
  for (const Column& column : columns_) names.push_back(column.name());
  return names;
}

bool Table::has_column(std::string_view name) const {
  return column_index(name).has_value();
}

std::optional<std::size_t> Table::column_index(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name() == name) return i;
  }
  return std::nullopt;
}

const Column& Table::column(std::string_view name) const {
  if (const auto i = column_index(name)) return columns_[*i];
  throw KeyError("no column " + quoted(name));
}

Column& Table::column(std::string_view name) {
  return const_cast<Column&>(std::as_const(*this).column(name));
}

void Table::add_column(Column column) {
  if (has_column(column.name())) throw ValueError("duplicate column " + quoted(column.name()));
  if (columns_.empty()) {
    labels_ = labels_from_zero(column.size());
  } else if (column.size() != rows()) {
    throw ValueError("column " + quoted(column.name()) + " has " + std::to_string(column.size()) +
                     " cells, but the table has " + std::to_string(rows()) + " rows");
  }
  columns_.push_back(std::move(column));
}

void Table::replace_column(std::size_t i, Column column) {
  Column& slot = columns_.at(i);
  if (column.size() != rows()) {
    throw ValueError("column " + quoted(column.name()) + " has " + std::to_string(column.size()) +
                     " cells, but the table has " + std::to_string(rows()) + " rows");
  }
  const auto same_name = column_index(column.name());
  if (same_name && *same_name != i) {
    throw ValueError("duplicate column " + quoted(column.name()));
  }
  slot = std::move(column);
}

Table Table::take(std::span<const std::size_t> positions) const {
  check_positions(positions, rows());
  Table out;
  out.columns_.reserve(columns_.size());
  for (const Column& column : columns_) out.columns_.push_back(column.take(positions));
  out.labels_.reserve(positions.size());
  for (const std::size_t p : positions) out.labels_.push_back(labels_[p]);
  return out;
}

void Table::keep_rows(std::span<const std::uint8_t> keep) {
  if (keep.size() != rows()) {
    throw ValueError("row selection has " + std::to_string(keep.size()) + " flags for a table of " +
                     std::to_string(rows()) + " rows");
  }
  for (Column& column : columns_) column.keep_cells(keep);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < keep.size(); ++i) {
    if (keep[i] != 0) labels_[kept++] = labels_[i];
  }
  labels_.resize(kept);
}

Table Table::select(std::span<const std::uint8_t> keep) const {
  if (keep.size() != rows()) {
    throw ValueError("row selection has " + std::to_string(keep.size()) + " flags for a table of " +
                     std::to_string(rows()) + " rows");
  }
  std::vector<std::size_t> positions;
  positions.reserve(static_cast<std::size_t>(
      std::count_if(keep.begin(), keep.end(), [](std::uint8_t k) { return k != 0; })));
  for (std::size_t i = 0; i < keep.size(); ++i) {
    if (keep[i] != 0) positions.push_back(i);
  }
  return take(positions);
}

void Table::sort_by(std::string_view name) {
  const Column& key = column(name);
  const std::size_t n = rows();
  std::vector<std::size_t> order;
  std::visit(
      [&](const auto& values) {
        // Missing cells never reach `<`, which keeps NaN out of the ordering.
        const auto in_order = [&](std::size_t a, std::size_t b) {
          const bool a_missing = key.missing(a);
          const bool b_missing = key.missing(b);
          if (a_missing || b_missing) return a_missing <= b_missing;
          return !(values[b] < values[a]);
        };
        bool sorted = true;
        for (std::size_t i = 1; i < n && sorted; ++i) sorted = in_order(i - 1, i);
        if (sorted) return;

        order.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
          if (!key.missing(i)) order.push_back(i);
        }
        const auto present_end = order.end();
        std::stable_sort(order.begin(), present_end,
                         [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
        for (std::size_t i = 0; i < n; ++i) {
          if (key.missing(i)) order.push_back(i);
        }
      },
      key.storage());
  if (!order.empty()) *this = take(order);
}

void Table::append(const Table& other) {
  if (&other == this) {
    const Table copy = other;
    append(copy);
    return;
  }
  const Table* parts[] = {this, &other};
  const std::vector<ColumnPlan> plan = plan_columns(parts);
  const std::size_t total = rows() + other.rows();

  std::vector<Column> added;
  for (const ColumnPlan& p : plan) {
    if (has_column(p.name)) continue;
    Column column(std::string(p.name), p.kind);
    column.reserve(total);
    column.append_missing(rows());
    column.append(other.column(p.name));
    added.push_back(std::move(column));
  }
  for (Column& column : columns_) {
    if (const auto i = other.column_index(column.name())) {
      column.append(other.columns_[*i]);
    } else {
      column.reserve(total);
      column.append_missing(other.rows());
    }
  }
  for (Column& column : added) columns_.push_back(std::move(column));
  labels_.reserve(total);
  labels_.insert(labels_.end(), other.labels_.begin(), other.labels_.end());
}

Table Table::concat(std::span<const Table> parts) {
  std::vector<const Table*> pointers;
  pointers.reserve(parts.size());
  std::size_t total = 0;
  for (const Table& part : parts) {
    pointers.push_back(&part);
    total += part.rows();
  }

  Table out;
  for (const ColumnPlan& p : plan_columns(pointers)) {
    Column column(std::string(p.name), p.kind);
    column.reserve(total);
    for (const Table& part : parts) {
      if (const auto i = part.column_index(p.name)) {
        column.append(part.columns_[*i]);
      } else {
        column.append_missing(part.rows());
      }
    }
    out.columns_.push_back(std::move(column));
  }
  out.labels_.reserve(total);
  for (const Table& part : parts) {
    out.labels_.insert(out.labels_.end(), part.labels_.begin(), part.labels_.end());
  }
  return out;
}

void Table::renumber() {
  std::iota(labels_.begin(), labels_.end(), std::int64_t{0});
}

void Table::drop_missing() {
  std::vector<const Column*> gappy;
  for (const Column& column : columns_) {
    if (column.has_missing()) gappy.push_back(&column);
  }
  if (gappy.empty()) return;
  std::vector<std::uint8_t> keep(rows(), 1);
  for (const Column* column : gappy) {
    for (std::size_t i = 0; i < keep.size(); ++i) {
      if (column->missing(i)) keep[i] = 0;
    }
  }
  keep_rows(keep);
}

}  // namespace zantrix::framework
