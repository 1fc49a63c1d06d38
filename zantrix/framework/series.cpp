#include "zantrix/framework/series.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "zantrix/framework/errors.h"

namespace zantrix::framework {
namespace {

void check_lengths(std::size_t values, std::size_t index) {
  if (values != index) {
    throw ValueError("Length of values (" + std::to_string(values) +
                     ") does not match length of index (" + std::to_string(index) + ")");
  }
}

}  // namespace

Series::Series(std::vector<double> values, std::string name)
    : values_(std::move(values)), name_(std::move(name)) {}

Series::Series(std::vector<double> values, std::vector<DateTime> index, std::string name)
    : values_(std::move(values)), index_(std::move(index)), name_(std::move(name)) {
  check_lengths(values_.size(), index_->size());
}

std::span<const DateTime> Series::datetime_index() const {
  if (!index_) return {};
  return *index_;
}

Series Series::with_values(std::vector<double> values) const {
  check_lengths(values.size(), values_.size());
  Series out;
  out.values_ = std::move(values);
  out.index_ = index_;
  out.name_ = name_;
  return out;
}

std::size_t Series::count() const {
  return static_cast<std::size_t>(
      std::count_if(values_.begin(), values_.end(), [](double v) { return !std::isnan(v); }));
}

}  // namespace zantrix::framework
