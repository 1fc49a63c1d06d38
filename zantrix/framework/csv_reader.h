// CsvDocument: a comma-separated file read whole and split into fields in
// place.
//
// The file is read with as few system calls as its size allows and split
// without copying: each field is a view into the document's own buffer.
// Quoted fields may hold commas, line breaks and doubled quotes (unescaped in
// place). CRLF and LF line ends are both read; a UTF-8 byte-order mark at the
// start is skipped. An empty line is a record without fields. A quote inside
// an unquoted field is kept as an ordinary character; text after a closing
// quote is appended to the field.
//
// A document is immutable after construction and may be read from several
// threads; moving it keeps every view valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace zantrix::framework {

class CsvDocument {
 public:
  // Reads and splits the file; stops after `max_records` records. A
  // FileNotFoundError naming the path when it cannot be opened or read.
  static CsvDocument read(const std::filesystem::path& path,
                          std::size_t max_records = std::numeric_limits<std::size_t>::max());
  // Splits `text` (copied into the document).
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
  // Bytes of the file.
  std::size_t bytes() const { return size_; }

 private:
  CsvDocument() = default;
  void split(std::size_t max_records);

  std::filesystem::path path_;
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::vector<std::string_view> fields_;
  std::vector<std::uint32_t> starts_{0};  // record i spans fields [starts_[i], starts_[i+1])
  std::vector<std::uint32_t> lines_;
};

}  // namespace zantrix::framework
