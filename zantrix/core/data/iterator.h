// "Data generator": a history table replayed as market-data records.
//
// The iterator is lazy: nothing is checked or built until the first record is
// asked for; each request then builds one record from the next row. The
// table's first column is the time column (its name contains "time" or
// "Time") and gives each record's `datetime`; `security` is the instrument
// passed in; every other column sets the field of the same name. A missing
// number cell gives NaN, a missing text cell an empty text.
//
// At the first request: a KeyError for an unknown record type, then an
// AssertionError when the first column is no time column; building a record
// fails with an error naming a column that is no field of the type, or a
// required field that no column gives. The iterator shares ownership of the
// table, so it may outlive the caller's copy. It is a single pass, and is
// used from one thread at a time.
#pragma once

#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zantrix/core/data.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/table.h"

namespace zantrix::core {

class DataIterator {
 public:
  DataIterator(Security security, std::shared_ptr<const framework::Table> table,
               std::string class_name);

  // The next record, or none after the last row.
  std::optional<MarketRecord> next();

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = MarketRecord;
    using difference_type = std::ptrdiff_t;

    iterator() = default;
    const MarketRecord& operator*() const { return *current_; }
    const MarketRecord* operator->() const { return &*current_; }
    iterator& operator++() {
      current_ = owner_->next();
      return *this;
    }
    void operator++(int) { ++*this; }
    friend bool operator==(const iterator& it, std::default_sentinel_t) {
      return !it.current_.has_value();
    }

   private:
    friend class DataIterator;
    explicit iterator(DataIterator* owner) : owner_(owner), current_(owner->next()) {}
    DataIterator* owner_ = nullptr;
    std::optional<MarketRecord> current_;
  };

  // Asks for the first record: a range-for loop over the iterator replays the
  // remaining rows.
  iterator begin() { return iterator(this); }
  std::default_sentinel_t end() const { return {}; }

 private:
  void start();

  Security security_;
  std::shared_ptr<const framework::Table> table_;
  std::string class_name_;
  std::optional<RecordBuilder> builder_;
  std::vector<FieldValue> row_;
  std::size_t next_row_ = 0;
  bool started_ = false;
};

DataIterator _get_data_iterator(const Security& security,
                                std::shared_ptr<const framework::Table> full_data,
                                std::string_view class_name);
DataIterator _get_data_iterator(const Security& security, framework::Table full_data,
                                std::string_view class_name);

}  // namespace zantrix::core
