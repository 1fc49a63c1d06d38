#include "apps/zantrix/table_csv.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/text.h"

namespace zantrix::app {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;
// The most a number, an integer or a date-time cell takes, with its comma.
constexpr std::size_t kCellMax = 48;

class CsvBuffer {
 public:
  explicit CsvBuffer(const std::function<void(std::string_view)>& emit)
      : emit_(emit), data_(std::make_unique_for_overwrite<char[]>(kBlock + kCellMax)) {}

  // Room for one short cell; hands the block on once it is full.
  char* room() {
    if (used_ >= kBlock) flush();
    return data_.get() + used_;
  }
  void advance(std::size_t n) { used_ += n; }
  void put(char c) {
    *room() = c;
    ++used_;
  }
  void put(std::string_view text) {
    while (!text.empty()) {
      if (used_ >= kBlock) flush();
      const std::size_t n = std::min(text.size(), kBlock + kCellMax - used_);
      std::memcpy(data_.get() + used_, text.data(), n);
      used_ += n;
      text.remove_prefix(n);
    }
  }
  void flush() {
    if (used_ == 0) return;
    emit_(std::string_view(data_.get(), used_));
    used_ = 0;
  }

 private:
  const std::function<void(std::string_view)>& emit_;
  std::unique_ptr<char[]> data_;
  std::size_t used_ = 0;
};

void put_text(CsvBuffer& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.put(text);
    return;
  }
  out.put('"');
  for (std::size_t at = 0;;) {
    const std::size_t quote = text.find('"', at);
    out.put(text.substr(at, quote == std::string_view::npos ? quote : quote + 1 - at));
    if (quote == std::string_view::npos) break;
    out.put('"');
    at = quote + 1;
  }
  out.put('"');
}

// Date-times of one day share their "%Y-%m-%d " prefix, made once per day.
class TimeText {
 public:
  std::size_t write(framework::DateTime value, char* out) {
    using namespace std::chrono;
    const auto day = floor<days>(value);
    if (day != day_) {
      day_ = day;
      char buf[40];
      const std::size_t n = framework::format_datetime_to(day, buf);
      prefix_ = n - 8;  // "%Y-%m-%d " of "%Y-%m-%d 00:00:00"
      std::memcpy(prefix_text_, buf, prefix_);
    }
    std::memcpy(out, prefix_text_, prefix_);
    const auto in_day = value - day;
    if (in_day.count() % 1'000'000 != 0) {
      // A fraction of a second: the full form.
      char buf[40];
      const std::size_t n = framework::format_datetime_to(value, buf);
      std::memcpy(out, buf, n);
      return n;
    }
    auto seconds = static_cast<unsigned>(in_day.count() / 1'000'000);
    char* p = out + prefix_;
    const unsigned h = seconds / 3600;
    const unsigned m = seconds / 60 % 60;
    const unsigned s = seconds % 60;
    p[0] = static_cast<char>('0' + h / 10);
    p[1] = static_cast<char>('0' + h % 10);
    p[2] = ':';
    p[3] = static_cast<char>('0' + m / 10);
    p[4] = static_cast<char>('0' + m % 10);
    p[5] = ':';
    p[6] = static_cast<char>('0' + s / 10);
    p[7] = static_cast<char>('0' + s % 10);
    return prefix_ + 8;
  }

 private:
  framework::DateTime day_ = framework::DateTime::min();
  char prefix_text_[32] = {};
  std::size_t prefix_ = 0;
};

void put_cell(CsvBuffer& out, const framework::Column& column, std::size_t row, TimeText& times) {
  if (column.missing(row)) return;
  switch (column.kind()) {
    case framework::ColumnKind::Number:
      out.advance(framework::format_number_to(column.numbers()[row], out.room()));
      break;
    case framework::ColumnKind::Integer: {
      char* const at = out.room();
      out.advance(static_cast<std::size_t>(
          std::to_chars(at, at + kCellMax, column.integers()[row]).ptr - at));
      break;
    }
    case framework::ColumnKind::Text:
      put_text(out, column.texts()[row]);
      break;
    case framework::ColumnKind::DateTime:
      out.advance(times.write(column.datetimes()[row], out.room()));
      break;
  }
}

}  // namespace

void write_table_csv(const framework::Table& table,
                     const std::function<void(std::string_view)>& emit) {
  CsvBuffer out(emit);
  const auto& columns = table.column_list();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) out.put(',');
    put_text(out, columns[c].name());
  }
  out.put('\n');
  std::vector<TimeText> times(columns.size());
  for (std::size_t r = 0; r < table.rows(); ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) out.put(',');
      put_cell(out, columns[c], r, times[c]);
    }
    out.put('\n');
  }
  out.flush();
}

void write_table_csv(const framework::Table& table, int fd) {
  write_table_csv(table, [fd](std::string_view block) {
    while (!block.empty()) {
      const ssize_t n = ::write(fd, block.data(), block.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        throw std::system_error(errno, std::generic_category(), "cannot write the table");
      }
      block.remove_prefix(static_cast<std::size_t>(n));
    }
  });
}

}  // namespace zantrix::app
