// FileBuffer: the whole content of a file, writable in place.
//
// A regular file is mapped privately (its pages come straight from the page
// cache, and a write changes only this buffer's copy of the page); anything
// else is read. The buffer is released with the object. Opening fails with a
// FileNotFoundError naming the path.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>

namespace zantrix::framework {

class FileBuffer {
 public:
  static FileBuffer open(const std::filesystem::path& path);
  // A buffer holding a copy of `size` bytes.
  static FileBuffer copy_of(const char* data, std::size_t size);

  FileBuffer(FileBuffer&& other) noexcept;
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer();

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  FileBuffer() = default;
  void release() noexcept;

  char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::unique_ptr<char[]> owned_;  // when read rather than mapped
};

// Advises the kernel to back [data, data + bytes) with huge pages where it can:
// filling a large fresh buffer then takes one fault per 2 MiB instead of one
// per page. Harmless where unsupported.
void advise_huge_pages(void* data, std::size_t bytes) noexcept;

}  // namespace zantrix::framework
