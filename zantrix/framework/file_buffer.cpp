#include "zantrix/framework/file_buffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

}  // namespace

FileBuffer FileBuffer::open(const std::filesystem::path& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) cannot_read(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) cannot_read(path, errno);
  if (S_ISDIR(st.st_mode)) cannot_read(path, EISDIR);

  FileBuffer buffer;
  if (S_ISREG(st.st_mode)) {
    buffer.size_ = static_cast<std::size_t>(st.st_size);
    if (buffer.size_ == 0) return buffer;
    void* p = ::mmap(nullptr, buffer.size_, PROT_READ | PROT_WRITE, MAP_PRIVATE,
                     fd.get(), 0);
    if (p != MAP_FAILED) {
      buffer.data_ = static_cast<char*>(p);
      buffer.mapped_ = true;
      return buffer;
    }
  }
  // Not mappable: read until the end, growing the buffer as needed.
  std::size_t capacity = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) + 1 : 65536;
  auto data = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::memcpy(bigger.get(), data.get(), size);
      data = std::move(bigger);
      capacity *= 2;
    }
    const ssize_t n = ::read(fd.get(), data.get() + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      cannot_read(path, errno);
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  buffer.owned_ = std::move(data);
  buffer.data_ = buffer.owned_.get();
  buffer.size_ = size;
  return buffer;
}

FileBuffer FileBuffer::copy_of(const char* data, std::size_t size) {
  FileBuffer buffer;
  buffer.owned_ = std::make_unique_for_overwrite<char[]>(size + 1);
  if (size > 0) std::memcpy(buffer.owned_.get(), data, size);
  buffer.data_ = buffer.owned_.get();
  buffer.size_ = size;
  return buffer;
}

FileBuffer::FileBuffer(FileBuffer&& other) noexcept
    : data_(other.data_),
      size_(other.size_),
      mapped_(other.mapped_),
      owned_(std::move(other.owned_)) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.mapped_ = false;
}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = other.data_;
    size_ = other.size_;
    mapped_ = other.mapped_;
    owned_ = std::move(other.owned_);
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapped_ = false;
  }
  return *this;
}

FileBuffer::~FileBuffer() {
  release();
}

void FileBuffer::release() noexcept {
  if (mapped_) ::munmap(data_, size_);
  owned_.reset();
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = 2u << 20;
  if (bytes < kHuge) return;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace zantrix::framework
