// Reading comma-separated text in place.
//
// Fields are split without copying: each is a view into the buffer being
// read. Quoted fields may hold commas, line breaks and doubled quotes (which
// are unescaped in place, so the buffer must be writable). CRLF and LF line
// ends are both read, and a lone CR ends a record too; a UTF-8 byte-order mark
// at the start is skipped. An empty line is a record without fields. A quote
// inside an unquoted field is an ordinary character; text after a closing
// quote joins the field; an unterminated quote runs to the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

#include "zantrix/framework/file_buffer.h"

namespace zantrix::framework {

// CsvCursor: the records of a buffer, one at a time.
class CsvCursor {
 public:
  CsvCursor(char* begin, char* end);

  // Appends the next record's fields to `fields`; false at the end of the
  // text (nothing appended).
  bool next(std::vector<std::string_view>& fields);
  // The line (counted from 1) on which the record last returned started.
  std::size_t line() const { return record_line_; }
  // Where the next record starts, and its line.
  char* position() const { return p_; }
  std::size_t next_line() const { return line_; }

 private:
  char* p_;
  char* end_;
  std::size_t line_ = 1;
  std::size_t record_line_ = 0;
};

// CsvDocument: a whole file read and split into records. Immutable once
// built; moving it keeps every view valid.
class CsvDocument {
 public:
  // Reads and splits the file; stops after `max_records` records. A
  // FileNotFoundError naming the path when it cannot be opened or read.
  static CsvDocument read(const std::filesystem::path& path,
                          std::size_t max_records = std::numeric_limits<std::size_t>::max());
  // Splits `buffer` in place; `path` names it.
  static CsvDocument split(FileBuffer buffer, std::filesystem::path path);
  // Splits a copy of `text`.
  static CsvDocument parse(std::string_view text,
                           std::size_t max_records = std::numeric_limits<std::size_t>::max());

  const std::filesystem::path& path() const { return path_; }
  std::size_t size() const { return starts_.size() - 1; }
  // The fields of record `i` (counted from 0).
  std::span<const std::string_view> record(std::size_t i) const {
    return {fields_.data() + starts_[i], fields_.data() + starts_[i + 1]};
  }
  // The line of the file (counted from 1) on which record `i` starts.
  std::size_t line(std::size_t i) const { return lines_[i]; }

 private:
  explicit CsvDocument(FileBuffer buffer) : buffer_(std::move(buffer)) {}
  void split(std::size_t max_records);

  std::filesystem::path path_;
  FileBuffer buffer_;
  std::vector<std::string_view> fields_;
  std::vector<std::size_t> starts_{0};  // record i spans fields [starts_[i], starts_[i+1])
  std::vector<std::size_t> lines_;
};

}  // namespace zantrix::framework
