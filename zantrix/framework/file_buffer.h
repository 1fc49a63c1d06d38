// FileBuffer: the whole content of a file, copied into memory it owns and
// writable in place.
//
// The file is read with plain reads, never mapped: a mapped file that another
// process truncates kills its reader with SIGBUS at the next touch, whereas
// these bytes stay as they were read whatever happens to the file. Opening or
// reading fails with a FileNotFoundError naming the path, also when a file
// shrinks, or is rewritten, while it is being read.
//
// The storage of a large buffer is kept when the buffer goes and serves the
// next large file: filling memory touched before costs a copy, while fresh
// memory first costs a page fault per page, far more on a virtual machine.
// At most one such block (up to kMaxSpareBytes) is kept in the process.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <utility>

namespace zantrix::framework {

class FileBuffer {
 public:
  // Buffers from this size up hand their storage on to the next large file.
  static constexpr std::size_t kMinSpareBytes = std::size_t{1} << 20;
  static constexpr std::size_t kMaxSpareBytes = std::size_t{256} << 20;

  static FileBuffer open(const std::filesystem::path& path);
  // A buffer holding a copy of `size` bytes.
  static FileBuffer copy_of(const char* data, std::size_t size);

  // A buffer moved from is empty.
  FileBuffer(FileBuffer&& other) noexcept
      : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0)) {}
  FileBuffer& operator=(FileBuffer&& other) noexcept {
    data_ = std::move(other.data_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

 private:
  // Frees the storage, or keeps it as the spare block when it is large.
  struct Release {
    std::size_t capacity = 0;
    void operator()(char* storage) const noexcept;
  };
  using Storage = std::unique_ptr<char[], Release>;

  FileBuffer(Storage data, std::size_t size) : data_(std::move(data)), size_(size) {}
  static Storage storage_for(std::size_t size);

  Storage data_;
  std::size_t size_ = 0;
};

}  // namespace zantrix::framework
