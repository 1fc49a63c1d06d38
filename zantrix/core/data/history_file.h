// Reading stored history files into a table.
//
// Two layouts are read. Plain: line 1 names the columns (it holds "open"),
// every further line is one bar. Multi-contract: line 1 names, for every
// column, the contract it belongs to ("meta" for shared columns), line 2 the
// column names (it holds "open"), and the first column holds the bar time;
// of the contracts, the one with the largest volume sum over its complete
// rows is kept (the first one on a tie), with its columns named by line 2 and
// the time column as `time_key`. Any other file is an error naming the file.
//
// Column kinds are fixed by name, never guessed per file: `time_key` is a
// date-time ("%Y-%m-%d %H:%M:%S" with an optional fraction, or a bare
// "%Y-%m-%d" for midnight); `ticker` and `trading_date` are texts; `open`,
// `high`, `low`, `close` and `volume` are numbers; any other column is a
// number when every non-empty cell of every file read parses as one, and a
// text otherwise. An empty cell is missing, and a row with fewer fields than
// the header has missing cells. A row with more fields than the header, a
// time or a price cell that does not parse, is an error naming the file, the
// line and the column.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "zantrix/framework/csv_reader.h"
#include "zantrix/framework/table.h"

namespace zantrix::core {

// One history file, read and split, with the columns it contributes.
class HistoryFile {
 public:
  // Reads the file and recognises its layout.
  static HistoryFile read(const std::filesystem::path& path);

  const framework::CsvDocument& document() const { return doc_; }
  // The names of the columns this file contributes, in file order.
  const std::vector<std::string>& names() const { return names_; }
  // For column `c`, the index of its field within a record.
  std::size_t field_of(std::size_t c) const { return fields_[c]; }
  // The records that hold bars (header records and empty lines left out).
  std::span<const std::size_t> rows() const { return rows_; }
  // The cell of column `c` in record `record` (empty when the record is short).
  std::string_view cell(std::size_t record, std::size_t c) const {
    const auto fields = doc_.record(record);
    return fields_[c] < fields.size() ? fields[fields_[c]] : std::string_view();
  }

 private:
  explicit HistoryFile(framework::CsvDocument doc) : doc_(std::move(doc)) {}
  void read_plain();
  void read_multi_contract();
  void check_widths(std::size_t first_row, std::size_t width);

  framework::CsvDocument doc_;
  std::vector<std::string> names_;
  std::vector<std::size_t> fields_;
  std::vector<std::size_t> rows_;
};

// One table of the files' rows, in file order, with the union of their
// columns (in order of first appearance); a column a file lacks is missing
// in that file's rows. Rows are labelled 0, 1, 2, ... in table order.
framework::Table build_history_table(std::span<const HistoryFile> files);

}  // namespace zantrix::core
