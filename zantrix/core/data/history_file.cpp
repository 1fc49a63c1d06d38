#include "zantrix/core/data/history_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "zantrix/framework/datetime.h"
#include "zantrix/framework/errors.h"

namespace zantrix::core {

using framework::Column;
using framework::ColumnKind;
using framework::CsvDocument;
using framework::DateTime;
using framework::ValueError;

namespace {

constexpr std::string_view kTimeKey = "time_key";
constexpr std::string_view kTextColumns[] = {"ticker", "trading_date"};
constexpr std::string_view kNumberColumns[] = {"open", "high", "low", "close", "volume"};

bool holds(std::span<const std::string_view> fields, std::string_view name) {
  return std::find(fields.begin(), fields.end(), name) != fields.end();
}

std::string where(const CsvDocument& doc, std::size_t record) {
  return doc.path().string() + ", line " + std::to_string(doc.line(record));
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A number cell: decimal or scientific, an optional sign, blanks around it,
// "nan" and "inf". False for anything else.
bool parse_number(std::string_view cell, double& out) {
  std::string_view s = trim(cell);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool parse_time(std::string_view cell, DateTime& out) {
  const std::string_view s = trim(cell);
  if (framework::try_parse_datetime(s, out)) return true;
  framework::Date day;
  if (!framework::try_parse_date(s, day)) return false;
  out = framework::make_datetime(day);
  return true;
}

ColumnKind fixed_kind(std::string_view name, bool& fixed) {
  fixed = true;
  if (name == kTimeKey) return ColumnKind::DateTime;
  if (std::find(std::begin(kTextColumns), std::end(kTextColumns), name) != std::end(kTextColumns)) {
    return ColumnKind::Text;
  }
  if (std::find(std::begin(kNumberColumns), std::end(kNumberColumns), name) !=
      std::end(kNumberColumns)) {
    return ColumnKind::Number;
  }
  fixed = false;
  return ColumnKind::Number;
}

// Where each file holds a column: its index among the file's columns, or
// none.
using Placement = std::vector<std::optional<std::size_t>>;

ColumnKind kind_of(std::string_view name, std::span<const HistoryFile> files,
                   const Placement& placement) {
  bool fixed;
  const ColumnKind kind = fixed_kind(name, fixed);
  if (fixed) return kind;
  double ignored;
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (!placement[f]) continue;
    for (const std::size_t r : files[f].rows()) {
      const std::string_view cell = files[f].cell(r, *placement[f]);
      if (!cell.empty() && !parse_number(cell, ignored)) return ColumnKind::Text;
    }
  }
  return ColumnKind::Number;
}

[[noreturn]] void bad_cell(const HistoryFile& file, std::size_t record, std::string_view name,
                           std::string_view cell, std::string_view what) {
  throw ValueError(where(file.document(), record) + ", column '" + std::string(name) + "': '" +
                   std::string(cell) + "' is not " + std::string(what));
}

Column fill_numbers(const std::string& name, std::span<const HistoryFile> files,
                    const Placement& placement, std::size_t total) {
  std::vector<double> values;
  values.reserve(total);
  constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t f = 0; f < files.size(); ++f) {
    const HistoryFile& file = files[f];
    if (!placement[f]) {
      values.insert(values.end(), file.rows().size(), kMissing);
      continue;
    }
    for (const std::size_t r : file.rows()) {
      const std::string_view cell = file.cell(r, *placement[f]);
      double v = kMissing;
      if (!cell.empty() && !parse_number(cell, v)) bad_cell(file, r, name, cell, "a number");
      values.push_back(v);
    }
  }
  return Column(name, std::move(values));
}

Column fill_times(const std::string& name, std::span<const HistoryFile> files,
                  const Placement& placement, std::size_t total) {
  std::vector<DateTime> values;
  values.reserve(total);
  std::vector<std::size_t> missing;
  for (std::size_t f = 0; f < files.size(); ++f) {
    const HistoryFile& file = files[f];
    for (const std::size_t r : file.rows()) {
      const std::string_view cell = placement[f] ? file.cell(r, *placement[f]) : "";
      DateTime t{};
      if (cell.empty()) {
        missing.push_back(values.size());
      } else if (!parse_time(cell, t)) {
        bad_cell(file, r, name, cell, "a date-time");
      }
      values.push_back(t);
    }
  }
  Column column(name, std::move(values));
  for (const std::size_t i : missing) column.set_missing(i);
  return column;
}

Column fill_texts(const std::string& name, std::span<const HistoryFile> files,
                  const Placement& placement, std::size_t total) {
  Column column(name, ColumnKind::Text);
  column.reserve(total);
  for (std::size_t f = 0; f < files.size(); ++f) {
    const HistoryFile& file = files[f];
    for (const std::size_t r : file.rows()) {
      const std::string_view cell = placement[f] ? file.cell(r, *placement[f]) : "";
      if (cell.empty()) {
        column.push_missing();
      } else {
        column.push_text(std::string(cell));
      }
    }
  }
  return column;
}

}  // namespace

HistoryFile HistoryFile::read(const std::filesystem::path& path) {
  HistoryFile file(CsvDocument::read(path));
  const CsvDocument& doc = file.doc_;
  if (doc.size() > 0 && holds(doc.record(0), "open")) {
    file.read_plain();
  } else if (doc.size() > 1 && holds(doc.record(1), "open")) {
    file.read_multi_contract();
  } else {
    throw ValueError(path.string() +
                     ": not a history file (no \"open\" column on line 1 or line 2)");
  }
  return file;
}

void HistoryFile::check_widths(std::size_t first_row, std::size_t width) {
  rows_.reserve(doc_.size() - std::min(doc_.size(), first_row));
  for (std::size_t r = first_row; r < doc_.size(); ++r) {
    const std::size_t n = doc_.record(r).size();
    if (n == 0) continue;  // an empty line holds no bar
    if (n > width) {
      throw ValueError(where(doc_, r) + ": " + std::to_string(n) + " fields, the header has " +
                       std::to_string(width));
    }
    rows_.push_back(r);
  }
}

void HistoryFile::read_plain() {
  const auto header = doc_.record(0);
  for (std::size_t c = 0; c < header.size(); ++c) {
    std::string name =
        header[c].empty() ? "Unnamed: " + std::to_string(c) : std::string(header[c]);
    if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
      throw ValueError(where(doc_, 0) + ": column '" + name + "' appears twice");
    }
    names_.push_back(std::move(name));
    fields_.push_back(c);
  }
  check_widths(1, header.size());
}

void HistoryFile::read_multi_contract() {
  const auto groups = doc_.record(0);
  const auto header = doc_.record(1);
  check_widths(2, header.size());

  std::vector<std::string_view> contracts;
  for (std::size_t c = 1; c < std::min(groups.size(), header.size()); ++c) {
    if (groups[c] != "meta" && !holds(contracts, groups[c])) contracts.push_back(groups[c]);
  }
  std::string_view best;
  double best_volume = -std::numeric_limits<double>::infinity();
  for (const std::string_view contract : contracts) {
    std::vector<std::size_t> columns;
    std::optional<std::size_t> volume;
    for (std::size_t c = 1; c < std::min(groups.size(), header.size()); ++c) {
      if (groups[c] != contract) continue;
      if (header[c] == "volume") volume = columns.size();
      columns.push_back(c);
    }
    if (!volume) {
      throw ValueError(where(doc_, 1) + ": contract '" + std::string(contract) +
                       "' has no volume column");
    }
    double sum = 0;
    for (const std::size_t r : rows_) {
      const auto fields = doc_.record(r);
      const bool complete = std::all_of(columns.begin(), columns.end(), [&](std::size_t c) {
        return c < fields.size() && !fields[c].empty();
      });
      if (!complete) continue;
      double v;
      const std::size_t c = columns[*volume];
      if (!parse_number(fields[c], v)) {
        throw ValueError(where(doc_, r) + ", column 'volume' of contract '" +
                         std::string(contract) + "': '" + std::string(fields[c]) +
                         "' is not a number");
      }
      sum += v;
    }
    if (sum > best_volume) {
      best_volume = sum;
      best = contract;
    }
  }
  if (contracts.empty()) throw ValueError(where(doc_, 0) + ": no contract columns");

  names_.emplace_back(kTimeKey);
  fields_.push_back(0);
  for (std::size_t c = 1; c < std::min(groups.size(), header.size()); ++c) {
    if (groups[c] != best) continue;
    std::string name(header[c]);
    if (std::find(names_.begin(), names_.end(), name) != names_.end()) {
      throw ValueError(where(doc_, 1) + ": column '" + name + "' appears twice in contract '" +
                       std::string(best) + "'");
    }
    names_.push_back(std::move(name));
    fields_.push_back(c);
  }
}

framework::Table build_history_table(std::span<const HistoryFile> files) {
  std::vector<std::string> names;
  std::size_t total = 0;
  for (const HistoryFile& file : files) {
    total += file.rows().size();
    for (const std::string& name : file.names()) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  std::vector<Column> columns;
  columns.reserve(names.size());
  for (const std::string& name : names) {
    Placement placement(files.size());
    for (std::size_t f = 0; f < files.size(); ++f) {
      const auto& file_names = files[f].names();
      const auto it = std::find(file_names.begin(), file_names.end(), name);
      if (it != file_names.end()) placement[f] = static_cast<std::size_t>(it - file_names.begin());
    }
    switch (kind_of(name, files, placement)) {
      case ColumnKind::DateTime:
        columns.push_back(fill_times(name, files, placement, total));
        break;
      case ColumnKind::Text:
        columns.push_back(fill_texts(name, files, placement, total));
        break;
      default:
        columns.push_back(fill_numbers(name, files, placement, total));
        break;
    }
  }
  return framework::Table(std::move(columns));
}

}  // namespace zantrix::core
