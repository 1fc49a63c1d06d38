// Table: a small columnar table with integer row labels.
//
// Each column has a name and one kind (number, integer, text, date-time);
// any cell may be missing. A text column keeps its cells in one character
// buffer (TextCells) and hands them out as std::string_view. A number cell that is missing also
// holds NaN, and a NaN number counts as missing. Rows carry integer labels, 0, 1, 2, ... after
// `renumber()`; selection, sorting and appending keep each row's label. Operations keep the column
// set. A Table is a value: copies are deep, and it is not safe to modify one Table from two
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/text_cells.h"

namespace zantrix::framework {

enum class ColumnKind { Number, Integer, Text, DateTime };

std::string_view column_kind_name(ColumnKind kind);

// One typed column. Cells are stored densely; `missing(i)` marks the cells
// that hold no value (their stored value is then unspecified, NaN for numbers).
class Column {
 public:
  using Storage = std::variant<std::vector<double>, std::vector<std::int64_t>, TextCells,
                               std::vector<DateTime>>;

  Column(std::string name, ColumnKind kind);
  Column(std::string name, std::vector<double> values);
  Column(std::string name, std::vector<std::int64_t> values);
  Column(std::string name, const std::vector<std::string>& values);
  Column(std::string name, TextCells values);
  Column(std::string name, std::vector<DateTime> values);

  const std::string& name() const { return name_; }
  void rename(std::string name) { name_ = std::move(name); }
  ColumnKind kind() const { return static_cast<ColumnKind>(storage_.index()); }
  std::size_t size() const;

  bool missing(std::size_t row) const;
  bool has_missing() const;

  // Typed access; a ValueError when the column is of another kind.
  std::span<const double> numbers() const;
  std::span<const std::int64_t> integers() const;
  const TextCells& texts() const;
  std::span<const DateTime> datetimes() const;
  // The stored values for filling or editing in place. A number set to NaN
  // becomes missing; the missing marks of a text column are not changed by
  // appending through `texts_mut`.
  std::vector<double>& numbers_mut();
  TextCells& texts_mut();

  // The cell as a number: numbers as they are, integers converted, NaN when
  // missing; a ValueError for text and date-time columns.
  double number_at(std::size_t row) const;
  // The text of a cell of a text column (empty when missing), valid until
  // the column changes; a ValueError for a column of another kind.
  std::string_view text_at(std::size_t row) const;

  void reserve(std::size_t rows);
  void push_number(double v);
  void push_integer(std::int64_t v);
  void push_text(std::string_view v);
  void push_datetime(DateTime v);
  void push_missing();
  void append_missing(std::size_t count);
  void set_missing(std::size_t row);

  const Storage& storage() const { return storage_; }

  // Rows at `rows`, in that order.
  Column take(std::span<const std::size_t> rows) const;
  // Keeps, in place and in order, the cells whose `keep` flag is set (one
  // flag per cell).
  void keep_cells(std::span<const std::uint8_t> keep);
  // Appends `other`'s cells (same kind; an integer column widens to number
  // when `other` is number).
  void append(const Column& other);
  // A column of `n` missing cells of this kind.
  Column missing_like(std::size_t n) const;

  // Same name, kind and cells; two missing cells are equal whatever they store
  // (so a NaN number equals a NaN number here).
  friend bool operator==(const Column&, const Column&);

 private:
  std::string name_;
  Storage storage_;
  std::vector<std::uint8_t> missing_;  // empty while nothing is missing
};

class Table {
 public:
  Table() = default;
  // Columns of equal length and distinct names (a ValueError otherwise);
  // labels 0, 1, 2, ...
  explicit Table(std::vector<Column> columns);

  std::size_t rows() const { return labels_.size(); }
  std::size_t columns() const { return columns_.size(); }
  bool empty() const { return labels_.empty(); }

  const std::vector<Column>& column_list() const { return columns_; }
  std::vector<std::string> column_names() const;
  std::span<const std::int64_t> labels() const { return labels_; }

  bool has_column(std::string_view name) const;
  std::optional<std::size_t> column_index(std::string_view name) const;
  // A KeyError naming the column when there is none.
  const Column& column(std::string_view name) const;
  Column& column(std::string_view name);
  const Column& column_at(std::size_t i) const { return columns_.at(i); }
  Column& column_at(std::size_t i) { return columns_.at(i); }

  // Adds a column of `rows()` cells (a ValueError on another length or a
  // duplicate name). The first column of a table without columns may have any
  // length; the rows are then labelled 0, 1, 2, ...
  void add_column(Column column);
  // Replaces a column of the same length in place.
  void replace_column(std::size_t i, Column column);

  // The rows at `positions`, in that order, with their labels
  // (std::out_of_range for a position past the last row).
  Table take(std::span<const std::size_t> positions) const;
  // The rows whose `keep` flag is set; one flag per row (a ValueError
  // otherwise).
  Table select(std::span<const std::uint8_t> keep) const;
  // Keeps, in place and in order, the rows whose `keep` flag is set; no
  // cell is copied to fresh memory (a ValueError for a wrong flag count).
  void keep_rows(std::span<const std::uint8_t> keep);
  // Rows ordered by the column's values ascending (stable; missing last;
  // texts by bytes).
  void sort_by(std::string_view column);
  // Appends `other`'s rows and labels. Columns are matched by name; a column
  // that only one side has is filled with missing cells on the other. An
  // integer column meeting a number column becomes a number column; any other
  // difference of kind is a ValueError naming the column, and leaves the table
  // unchanged.
  void append(const Table& other);
  // The rows of `parts` one after another, as repeated `append` would give,
  // but with every column built in one allocation: join many tables with this.
  static Table concat(std::span<const Table> parts);
  // Labels become 0, 1, 2, ... in row order.
  void renumber();
  // Drops every row with a missing cell in any column.
  void drop_missing();

  friend bool operator==(const Table&, const Table&) = default;

 private:
  std::vector<Column> columns_;
  std::vector<std::int64_t> labels_;
};

}  // namespace zantrix::framework
