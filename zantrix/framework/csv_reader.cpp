#include "zantrix/framework/csv_reader.h"

#include <cstring>

namespace zantrix::framework {

CsvCursor::CsvCursor(char* begin, char* end) : p_(begin), end_(end) {
  if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
}

bool CsvCursor::next(std::vector<std::string_view>& fields) {
  char* p = p_;
  char* const end = end_;
  if (p >= end) return false;
  record_line_ = line_;
  if (*p == '\n' || *p == '\r') {  // an empty line
    p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    ++line_;
    p_ = p;
    return true;
  }
  for (;;) {  // one field per turn
    char* const field = p;
    char* out;
    if (*p == '"') {
      out = p++;
      for (;;) {
        if (p >= end) break;
        if (*p == '"') {
          if (p + 1 < end && p[1] == '"') {
            *out++ = '"';
            p += 2;
            continue;
          }
          ++p;  // the closing quote; what follows up to the delimiter joins the field
          while (p < end && *p != ',' && *p != '\n' && *p != '\r') *out++ = *p++;
          break;
        }
        if (*p == '\n') ++line_;
        *out++ = *p++;
      }
    } else {
      while (p < end && *p != ',' && *p != '\n' && *p != '\r') ++p;
      out = p;
    }
    fields.emplace_back(field, static_cast<std::size_t>(out - field));
    if (p < end && *p == ',') {
      ++p;
      if (p < end) continue;
      fields.emplace_back();  // a trailing comma ends the text with an empty field
      break;
    }
    if (p < end && *p == '\r') ++p;
    if (p < end && *p == '\n') ++p;
    break;
  }
  ++line_;
  p_ = p;
  return true;
}

CsvDocument CsvDocument::read(const std::filesystem::path& path, std::size_t max_records) {
  CsvDocument doc(FileBuffer::open(path));
  doc.path_ = path;
  doc.split(max_records);
  return doc;
}

CsvDocument CsvDocument::split(FileBuffer buffer, std::filesystem::path path) {
  CsvDocument doc(std::move(buffer));
  doc.path_ = std::move(path);
  doc.split(std::numeric_limits<std::size_t>::max());
  return doc;
}

CsvDocument CsvDocument::parse(std::string_view text, std::size_t max_records) {
  CsvDocument doc(FileBuffer::copy_of(text.data(), text.size()));
  doc.split(max_records);
  return doc;
}

void CsvDocument::split(std::size_t max_records) {
  CsvCursor cursor(buffer_.data(), buffer_.data() + buffer_.size());
  while (size() < max_records && cursor.next(fields_)) {
    starts_.push_back(fields_.size());
    lines_.push_back(cursor.line());
  }
}

}  // namespace zantrix::framework
