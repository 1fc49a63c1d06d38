#include "zantrix/core/data/history_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/fresh_memory.h"

namespace zantrix::core {

using framework::Column;
using framework::ColumnKind;
using framework::CsvCursor;
using framework::DateTime;
using framework::ValueError;

namespace {

constexpr std::string_view kTimeKey = "time_key";
constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

bool holds(std::span<const std::string_view> fields, std::string_view name) {
  return std::find(fields.begin(), fields.end(), name) != fields.end();
}

std::string where(const std::filesystem::path& path, std::size_t line) {
  return path.string() + ", line " + std::to_string(line);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Plain decimals ("-123.45") with at most 15 digits are exact: the digits
// form an integer below 2^53 and the divisor a power of ten that a double
// holds exactly, so one division rounds correctly. Others take from_chars.
bool parse_plain_decimal(const char* p, const char* end, double& out) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const bool negative = p != end && *p == '-';
  if (negative || (p != end && *p == '+')) ++p;
  std::uint64_t digits = 0;
  int count = 0;
  int fraction = -1;
  for (; p != end; ++p) {
    const unsigned d = static_cast<unsigned char>(*p) - '0';
    if (d <= 9) {
      digits = digits * 10 + d;
      ++count;
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (count == 0 || count > 15) return false;
  const double value = static_cast<double>(digits) / kPowers[fraction < 0 ? 0 : fraction];
  out = negative ? -value : value;
  return true;
}

// A number cell: decimal or scientific, an optional sign, blanks around it,
// "nan" and "inf". False for anything else.
bool parse_number(std::string_view cell, double& out) {
  const char* p = cell.data();
  const char* end = p + cell.size();
  if (parse_plain_decimal(p, end, out)) return true;
  if (p != end && *p == '+') ++p;
  auto [stop, ec] = std::from_chars(p, end, out);
  if (ec == std::errc() && stop == end) return true;
  const std::string_view trimmed = trim(cell);  // the rare padded cell
  if (trimmed.size() == cell.size() || trimmed.empty()) return false;
  return parse_number(trimmed, out);
}

bool parse_time(std::string_view cell, DateTime& out) {
  if (framework::try_parse_datetime(cell, out)) return true;
  const std::string_view s = trim(cell);
  if (s.size() != cell.size() && framework::try_parse_datetime(s, out)) return true;
  framework::Date day;
  if (!framework::try_parse_date(s, day)) return false;
  out = framework::make_datetime(day);
  return true;
}

enum class Sink { Time, Number, Text, Undecided };

Sink sink_of(std::string_view name) {
  if (name == kTimeKey) return Sink::Time;
  if (name == "ticker" || name == "trading_date") return Sink::Text;
  if (name == "open" || name == "high" || name == "low" || name == "close" || name == "volume") {
    return Sink::Number;
  }
  return Sink::Undecided;
}

// The cells of one output column, filled row by row.
struct ColumnCells {
  std::string name;
  Sink sink;
  std::vector<double> numbers = {};
  std::vector<DateTime> times = {};
  std::vector<std::size_t> missing_times = {};
  std::optional<Column> texts = {};
  std::vector<std::string_view> raw = {};  // an undecided column's cells, decided at the end

  void reserve(std::size_t rows) {
    switch (sink) {
      case Sink::Number:
        numbers.reserve(rows);
        framework::prefault(numbers.data(), rows * sizeof(double));
        break;
      case Sink::Time:
        times.reserve(rows);
        framework::prefault(times.data(), rows * sizeof(DateTime));
        break;
      case Sink::Text:
        texts.emplace(name, ColumnKind::Text);
        texts->reserve(rows);
        break;
      case Sink::Undecided:
        raw.reserve(rows);
        break;
    }
  }

  void push_missing(std::size_t count) {
    switch (sink) {
      case Sink::Number:
        numbers.insert(numbers.end(), count, kMissing);
        break;
      case Sink::Time:
        for (std::size_t i = 0; i < count; ++i) missing_times.push_back(times.size() + i);
        times.insert(times.end(), count, DateTime{});
        break;
      case Sink::Text:
        texts->append_missing(count);
        break;
      case Sink::Undecided:
        raw.insert(raw.end(), count, std::string_view());
        break;
    }
  }

  Column finish() {
    switch (sink) {
      case Sink::Number:
        return Column(name, std::move(numbers));
      case Sink::Time: {
        Column column(name, std::move(times));
        for (const std::size_t i : missing_times) column.set_missing(i);
        return column;
      }
      case Sink::Text:
        return std::move(*texts);
      case Sink::Undecided:
        break;
    }
    return decide();
  }

  // A number column when every non-empty cell is a number, else a text one.
  Column decide() {
    std::vector<double> values(raw.size(), kMissing);
    bool all_numbers = true;
    for (std::size_t i = 0; i < raw.size() && all_numbers; ++i) {
      if (!raw[i].empty()) all_numbers = parse_number(raw[i], values[i]);
    }
    if (all_numbers) return Column(name, std::move(values));
    Column column(name, ColumnKind::Text);
    column.reserve(raw.size());
    for (const std::string_view cell : raw) {
      if (cell.empty()) {
        column.push_missing();
      } else {
        column.push_text(cell);
      }
    }
    return column;
  }
};

// About as many lines as [begin, end) holds, never fewer than a tenth less:
// counted in the first lines, scaled by their length to the rest. A whole
// pass over the bytes would cost as much as parsing them; an estimate a
// little high only reserves a little too much.
std::size_t estimate_lines(const char* begin, const char* end) {
  constexpr std::size_t kSample = 32;
  std::size_t lines = 0;
  const char* p = begin;
  while (p < end && lines < kSample) {
    const auto* eol =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    ++lines;
    if (eol == nullptr) return lines;
    p = eol + 1;
  }
  if (p >= end) return lines;
  const auto sampled = static_cast<double>(p - begin);
  const auto rest = static_cast<double>(end - p);
  return lines + static_cast<std::size_t>(rest / sampled * static_cast<double>(lines) * 1.1) + 1;
}

}  // namespace

// Fills the output columns from the files' bar records.
class HistoryTableBuilder {
 public:
  explicit HistoryTableBuilder(std::span<HistoryFile> files) : files_(files) {
    std::size_t rows = 0;
    for (const HistoryFile& file : files_) {
      rows += file.document_
                  ? file.document_->size()
                  : estimate_lines(file.bars_, file.buffer_.data() + file.buffer_.size());
      for (const std::string& name : file.names()) {
        const bool known = std::any_of(columns_.begin(), columns_.end(),
                                       [&](const ColumnCells& c) { return c.name == name; });
        if (!known) columns_.push_back({.name = name, .sink = sink_of(name)});
      }
    }
    for (ColumnCells& column : columns_) column.reserve(rows);
  }

  framework::Table build() {
    for (HistoryFile& file : files_) add(file);
    std::vector<Column> columns;
    columns.reserve(columns_.size());
    for (ColumnCells& column : columns_) columns.push_back(column.finish());
    return framework::Table(std::move(columns));
  }

 private:
  struct Target {
    std::size_t field;
    ColumnCells* cells;
  };

  void add(HistoryFile& file) {
    targets_.clear();
    std::vector<ColumnCells*> absent;
    for (ColumnCells& column : columns_) {
      const auto& names = file.names();
      const auto it = std::find(names.begin(), names.end(), column.name);
      if (it == names.end()) {
        absent.push_back(&column);
      } else {
        targets_.push_back({file.fields_[static_cast<std::size_t>(it - names.begin())], &column});
      }
    }
    std::size_t rows = 0;
    if (file.document_) {
      const auto& doc = *file.document_;
      for (std::size_t r = 2; r < doc.size(); ++r)
        rows += add_record(file, doc.record(r), doc.line(r));
    } else {
      CsvCursor cursor(file.bars_, file.buffer_.data() + file.buffer_.size());
      while (fields_.clear(), cursor.next(fields_)) {
        rows += add_record(file, fields_, file.bars_line_ + cursor.line() - 1);
      }
    }
    for (ColumnCells* column : absent) column->push_missing(rows);
  }

  // Adds one bar; false (0) for an empty line.
  std::size_t add_record(const HistoryFile& file, std::span<const std::string_view> fields,
                         std::size_t line) {
    if (fields.empty()) return 0;
    if (fields.size() > file.width_) {
      throw ValueError(where(file.path(), line) + ": " + std::to_string(fields.size()) +
                       " fields, the header has " + std::to_string(file.width_));
    }
    for (const Target& t : targets_) {
      const std::string_view cell = t.field < fields.size() ? fields[t.field] : std::string_view();
      ColumnCells& c = *t.cells;
      switch (c.sink) {
        case Sink::Number: {
          double v = kMissing;
          if (!cell.empty() && !parse_number(cell, v))
            bad_cell(file, line, c.name, cell, "a number");
          c.numbers.push_back(v);
          break;
        }
        case Sink::Time: {
          DateTime v{};
          if (cell.empty()) {
            c.missing_times.push_back(c.times.size());
          } else if (!parse_time(cell, v)) {
            bad_cell(file, line, c.name, cell, "a date-time");
          }
          c.times.push_back(v);
          break;
        }
        case Sink::Text:
          if (cell.empty()) {
            c.texts->push_missing();
          } else {
            c.texts->push_text(cell);
          }
          break;
        case Sink::Undecided:
          c.raw.push_back(cell);
          break;
      }
    }
    return 1;
  }

  [[noreturn]] static void bad_cell(const HistoryFile& file, std::size_t line,
                                    std::string_view name, std::string_view cell,
                                    std::string_view what) {
    throw ValueError(where(file.path(), line) + ", column '" + std::string(name) + "': '" +
                     std::string(cell) + "' is not " + std::string(what));
  }

  std::span<HistoryFile> files_;
  std::vector<ColumnCells> columns_;
  std::vector<Target> targets_;
  std::vector<std::string_view> fields_;
};

HistoryFile HistoryFile::read(const std::filesystem::path& path) {
  HistoryFile file(path, framework::FileBuffer::open(path));
  char* const begin = file.buffer_.data();
  const std::size_t size = file.buffer_.size();
  // Line 1 decides the layout. It is split from a copy, so that the buffer
  // stays as read for a multi-contract file, which is split from its start.
  // A header is short: its first kilobyte is copied, more only when line 1
  // runs past it.
  std::size_t probe = std::min<std::size_t>(size, 1024);
  for (;;) {
    framework::FileBuffer head = framework::FileBuffer::copy_of(begin, probe);
    CsvCursor cursor(head.data(), head.data() + probe);
    std::vector<std::string_view> first;
    cursor.next(first);
    const std::size_t consumed = static_cast<std::size_t>(cursor.position() - head.data());
    if (consumed == probe && probe < size) {  // line 1 is longer than the probe
      probe = std::min(size, probe * 8);
      continue;
    }
    if (holds(first, "open")) {
      file.read_plain(first);
      file.bars_ = begin + consumed;
      file.bars_line_ = cursor.next_line();
      return file;
    }
    break;
  }
  file.read_multi_contract();
  return file;
}

void HistoryFile::read_plain(std::span<const std::string_view> header) {
  for (std::size_t c = 0; c < header.size(); ++c) {
    std::string name = header[c].empty() ? "Unnamed: " + std::to_string(c) : std::string(header[c]);
    if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
      throw ValueError(where(path_, 1) + ": column '" + name + "' appears twice");
    }
    names_.push_back(std::move(name));
    fields_.push_back(c);
  }
  width_ = header.size();
}

void HistoryFile::read_multi_contract() {
  document_ = framework::CsvDocument::split(std::move(buffer_), path_);
  const auto& doc = *document_;
  if (doc.size() < 2 || !holds(doc.record(1), "open")) {
    throw ValueError(path_.string() +
                     ": not a history file (no \"open\" column on line 1 or line 2)");
  }
  const auto groups = doc.record(0);
  const auto header = doc.record(1);
  width_ = header.size();
  const std::size_t named = std::min(groups.size(), header.size());

  std::vector<std::string_view> contracts;
  for (std::size_t c = 1; c < named; ++c) {
    if (groups[c] != "meta" && !holds(contracts, groups[c])) contracts.push_back(groups[c]);
  }
  if (contracts.empty()) throw ValueError(where(path_, doc.line(0)) + ": no contract columns");

  std::string_view best;
  double best_volume = -std::numeric_limits<double>::infinity();
  for (const std::string_view contract : contracts) {
    std::vector<std::size_t> columns;
    std::optional<std::size_t> volume;
    for (std::size_t c = 1; c < named; ++c) {
      if (groups[c] != contract) continue;
      if (header[c] == "volume") volume = c;
      columns.push_back(c);
    }
    if (!volume) {
      throw ValueError(where(path_, doc.line(1)) + ": contract '" + std::string(contract) +
                       "' has no volume column");
    }
    double sum = 0;
    for (std::size_t r = 2; r < doc.size(); ++r) {
      const auto fields = doc.record(r);
      if (fields.size() > width_) {
        throw ValueError(where(path_, doc.line(r)) + ": " + std::to_string(fields.size()) +
                         " fields, the header has " + std::to_string(width_));
      }
      const bool complete =
          !fields.empty() && std::all_of(columns.begin(), columns.end(), [&](std::size_t c) {
            return c < fields.size() && !fields[c].empty();
          });
      if (!complete) continue;
      double v;
      if (!parse_number(fields[*volume], v)) {
        throw ValueError(where(path_, doc.line(r)) + ", column 'volume' of contract '" +
                         std::string(contract) + "': '" + std::string(fields[*volume]) +
                         "' is not a number");
      }
      sum += v;
    }
    if (sum > best_volume) {
      best_volume = sum;
      best = contract;
    }
  }

  names_.emplace_back(kTimeKey);
  fields_.push_back(0);
  for (std::size_t c = 1; c < named; ++c) {
    if (groups[c] != best) continue;
    std::string name(header[c]);
    if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
      throw ValueError(where(path_, doc.line(1)) + ": column '" + name +
                       "' appears twice in contract '" + std::string(best) + "'");
    }
    names_.push_back(std::move(name));
    fields_.push_back(c);
  }
}

framework::Table build_history_table(std::span<HistoryFile> files) {
  return HistoryTableBuilder(files).build();
}

}  // namespace zantrix::core
