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
// the header has missing cells; empty lines hold no bar. A row with more
// fields than the header, or a time or price cell that does not parse, is an
// error naming the file, the line and the column.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zantrix/framework/csv_reader.h"
#include "zantrix/framework/file_buffer.h"
#include "zantrix/framework/table.h"

namespace zantrix::core {

// One history file, read and recognised, with the columns it contributes.
// Its bars are split when the table is built.
class HistoryFile {
 public:
  static HistoryFile read(const std::filesystem::path& path);

  const std::filesystem::path& path() const { return path_; }
  // The names of the columns this file contributes, in file order.
  const std::vector<std::string>& names() const { return names_; }

 private:
  friend class HistoryTableBuilder;
  HistoryFile(std::filesystem::path path, framework::FileBuffer buffer)
      : path_(std::move(path)), buffer_(std::move(buffer)) {}
  void read_plain(std::span<const std::string_view> header);
  void read_multi_contract();

  std::filesystem::path path_;
  framework::FileBuffer buffer_;                    // the file as read (plain layout)
  char* bars_ = nullptr;                            // where the bar lines start (plain layout)
  std::size_t bars_line_ = 0;                       // the line number there
  std::optional<framework::CsvDocument> document_;  // the split file (multi-contract layout)
  std::vector<std::string> names_;
  std::vector<std::size_t> fields_;  // for each column, its field within a record
  std::size_t width_ = 0;            // fields of the header
};

// One table of the files' rows, in file order, with the union of their
// columns (in order of first appearance); a column a file lacks is missing
// in that file's rows. Rows are labelled 0, 1, 2, ... in table order. The
// files' buffers are changed in place (quoted fields are unescaped), so a file
// serves one table.
framework::Table build_history_table(std::span<HistoryFile> files);

}  // namespace zantrix::core
