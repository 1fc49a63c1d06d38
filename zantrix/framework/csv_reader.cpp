#include "zantrix/framework/csv_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "zantrix/framework/errors.h"

namespace zantrix::framework {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void cannot_read(const std::filesystem::path& path, int error) {
  throw FileNotFoundError("cannot read " + path.string() + ": " + std::strerror(error));
}

// Reads the whole file: one fstat, then reads until end of file (one read for
// a regular file whose size does not change meanwhile).
std::unique_ptr<char[]> read_all(const std::filesystem::path& path, std::size_t& size) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) cannot_read(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) cannot_read(path, errno);
  if (S_ISDIR(st.st_mode)) cannot_read(path, EISDIR);
  std::size_t capacity = static_cast<std::size_t>(st.st_size) + 1;
  auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
  size = 0;
  for (;;) {
    if (size == capacity) {
      auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::memcpy(bigger.get(), buffer.get(), size);
      buffer = std::move(bigger);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd.get(), buffer.get() + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      cannot_read(path, errno);
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  return buffer;
}

}  // namespace

CsvDocument CsvDocument::read(const std::filesystem::path& path, std::size_t max_records) {
  CsvDocument doc;
  doc.path_ = path;
  doc.buffer_ = read_all(path, doc.size_);
  doc.split(max_records);
  return doc;
}

CsvDocument CsvDocument::parse(std::string_view text, std::size_t max_records) {
  CsvDocument doc;
  doc.size_ = text.size();
  doc.buffer_ = std::make_unique_for_overwrite<char[]>(text.size() + 1);
  std::memcpy(doc.buffer_.get(), text.data(), text.size());
  doc.split(max_records);
  return doc;
}

void CsvDocument::split(std::size_t max_records) {
  char* p = buffer_.get();
  char* const end = p + size_;
  if (size_ >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;

  // A rough count of the records sizes the vectors once.
  fields_.reserve(size_ / 6 + 1);
  std::size_t line = 1;
  while (p < end && size() < max_records) {
    lines_.push_back(static_cast<std::uint32_t>(line));
    if (*p == '\n' || (*p == '\r' && p + 1 < end && p[1] == '\n')) {  // empty line
      p += *p == '\r' ? 2 : 1;
      ++line;
      starts_.push_back(static_cast<std::uint32_t>(fields_.size()));
      continue;
    }
    for (;;) {  // one field per turn
      char* const field = p;
      char* out = p;
      if (p < end && *p == '"') {
        ++p;
        for (;;) {
          if (p >= end) break;  // unterminated quote: the field runs to the end
          if (*p == '"') {
            if (p + 1 < end && p[1] == '"') {
              *out++ = '"';
              p += 2;
              continue;
            }
            ++p;  // closing quote; text up to the delimiter joins the field
            while (p < end && *p != ',' && *p != '\n' && *p != '\r') *out++ = *p++;
            break;
          }
          if (*p == '\n') ++line;
          *out++ = *p++;
        }
      } else {
        while (p < end && *p != ',' && *p != '\n' && *p != '\r') ++p;
        out = p;
      }
      fields_.emplace_back(field, static_cast<std::size_t>(out - field));
      if (p < end && *p == ',') {
        ++p;
        continue;
      }
      if (p < end && *p == '\r') ++p;
      if (p < end && *p == '\n') ++p;
      ++line;
      break;
    }
    starts_.push_back(static_cast<std::uint32_t>(fields_.size()));
  }
}

}  // namespace zantrix::framework
