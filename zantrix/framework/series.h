// Series: a named numeric column with an index of positions or date-times.
//
// A missing value is NaN. Statistics over a series leave missing values out.
// Without an explicit index the positions 0, 1, 2, ... serve.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zantrix/framework/datetime.h"

namespace zantrix::framework {

class Series {
 public:
  Series() = default;
  explicit Series(std::vector<double> values, std::string name = {});
  // `index` must have as many entries as `values` (a ValueError otherwise).
  Series(std::vector<double> values, std::vector<DateTime> index, std::string name = {});

  std::size_t size() const { return values_.size(); }
  bool empty() const { return values_.empty(); }
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }

  std::span<const double> values() const { return values_; }
  std::vector<double>& values_mut() { return values_; }
  double operator[](std::size_t i) const { return values_[i]; }

  bool has_datetime_index() const { return index_.has_value(); }
  // The date-time index; empty when the index is positional.
  std::span<const DateTime> datetime_index() const;

  // A series of the same index and name holding `values` (same length).
  Series with_values(std::vector<double> values) const;

  std::size_t count() const;  // values that are not missing

  friend bool operator==(const Series&, const Series&) = default;

 private:
  std::vector<double> values_;
  std::optional<std::vector<DateTime>> index_;
  std::string name_;
};

}  // namespace zantrix::framework
