#include "zantrix/core/data/iterator.h"

#include <cmath>
#include <limits>

#include "zantrix/framework/errors.h"

namespace zantrix::core {

using framework::Column;
using framework::ColumnKind;

namespace {

bool is_record_type(std::string_view name) {
  return name == "Bar" || name == "CapitalDistribution" || name == "OrderBook" || name == "Quote";
}

FieldValue cell_value(const Column& column, std::size_t row) {
  switch (column.kind()) {
    case ColumnKind::Number:
      return column.numbers()[row];  // NaN when missing
    case ColumnKind::Integer:
      if (column.missing(row)) return std::numeric_limits<double>::quiet_NaN();
      return column.integers()[row];
    case ColumnKind::Text:
      if (column.missing(row)) return std::string();
      return std::string(column.texts()[row]);
    case ColumnKind::DateTime:
      if (column.missing(row)) {
        throw framework::ValueError("row " + std::to_string(row) + ": column '" + column.name() +
                                    "' has no date-time");
      }
      return column.datetimes()[row];
  }
  return {};
}

}  // namespace

DataIterator::DataIterator(Security security, std::shared_ptr<const framework::Table> table,
                           std::string class_name)
    : security_(std::move(security)),
      table_(std::move(table)),
      class_name_(std::move(class_name)) {}

void DataIterator::start() {
  started_ = true;
  if (!is_record_type(class_name_)) {
    throw framework::KeyError("no record type named '" + class_name_ + "'");
  }
  const std::string time_name = table_->columns() > 0 ? table_->column_at(0).name() : "";
  if (time_name.find("time") == std::string::npos && time_name.find("Time") == std::string::npos) {
    throw framework::AssertionError(
        "The first column in `full_data` must be a `*time*` column, but " + time_name +
        " was given.");
  }
  if (table_->empty()) return;
  const Column& time = table_->column_at(0);
  if (time.kind() != ColumnKind::DateTime) {
    throw framework::TypeError("the time column " + time_name + " holds " +
                               std::string(framework::column_kind_name(time.kind())) +
                               " values, not date-times");
  }
  const std::vector<std::string> names = table_->column_names();
  builder_ = RecordBuilder::make(class_name_, std::span(names).subspan(1));
  row_.resize(names.size() - 1);
}

std::optional<MarketRecord> DataIterator::next() {
  if (!started_) start();
  if (!builder_ || next_row_ >= table_->rows()) return std::nullopt;
  const std::size_t r = next_row_++;
  const Column& time = table_->column_at(0);
  if (time.missing(r)) {
    throw framework::ValueError("row " + std::to_string(r) + ": the time column " + time.name() +
                                " has no date-time");
  }
  for (std::size_t c = 0; c < row_.size(); ++c) row_[c] = cell_value(table_->column_at(c + 1), r);
  return builder_->build(security_, time.datetimes()[r], row_);
}

DataIterator _get_data_iterator(const Security& security,
                                std::shared_ptr<const framework::Table> full_data,
                                std::string_view class_name) {
  return DataIterator(security, std::move(full_data), std::string(class_name));
}

DataIterator _get_data_iterator(const Security& security, framework::Table full_data,
                                std::string_view class_name) {
  return _get_data_iterator(
      security, std::make_shared<const framework::Table>(std::move(full_data)), class_name);
}

}  // namespace zantrix::core
