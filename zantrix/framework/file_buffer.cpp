#include "zantrix/framework/file_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/fresh_memory.h"

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

[[noreturn]] void cannot_read(const std::filesystem::path& path, const std::string& reason) {
  throw FileNotFoundError("cannot read " + path.string() + ": " + reason);
}

[[noreturn]] void cannot_read(const std::filesystem::path& path, int error) {
  cannot_read(path, std::strerror(error));
}

// The one block of storage kept between large buffers. Its destructor does
// nothing, so it outlives every buffer, also those that static objects own;
// the block itself goes with the process.
struct Spare {
  std::mutex mutex;
  char* storage = nullptr;
  std::size_t capacity = 0;
};
static_assert(std::is_trivially_destructible_v<Spare>);

Spare& spare() {
  static Spare spare;
  return spare;
}

void free_storage(char* storage) noexcept {
  std::default_delete<char[]>()(storage);
}

// Reads up to `size` bytes into `out`; fewer only where the file ends.
std::size_t read_up_to(int fd, const std::filesystem::path& path, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      cannot_read(path, errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

// The larger of the spare block and the storage let go stays; the other is
// freed outside the lock.
void FileBuffer::Release::operator()(char* storage) const noexcept {
  if (capacity >= kMinSpareBytes && capacity <= kMaxSpareBytes) {
    Spare& kept = spare();
    const std::lock_guard guard(kept.mutex);
    if (capacity > kept.capacity) {
      std::swap(storage, kept.storage);
      kept.capacity = capacity;
    }
  }
  free_storage(storage);
}

FileBuffer::Storage FileBuffer::storage_for(std::size_t size) {
  if (size >= kMinSpareBytes) {
    Spare& kept = spare();
    const std::lock_guard guard(kept.mutex);
    if (kept.capacity >= size) {
      return Storage(std::exchange(kept.storage, nullptr), {std::exchange(kept.capacity, 0)});
    }
  }
  auto fresh = std::make_unique_for_overwrite<char[]>(size);
  // A large fresh block is backed by huge pages where it can be: one fault
  // per 2 MiB instead of one per page while it is filled.
  advise_huge_pages(fresh.get(), size);
  return Storage(fresh.release(), {size});
}

FileBuffer FileBuffer::open(const std::filesystem::path& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) cannot_read(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) cannot_read(path, errno);
  if (S_ISDIR(st.st_mode)) cannot_read(path, EISDIR);

  if (S_ISREG(st.st_mode)) {
    // The size known at opening is read in one go; a file that ends sooner
    // was cut short meanwhile, and its bytes are not what it held.
    const auto size = static_cast<std::size_t>(st.st_size);
    Storage storage = storage_for(size);
    const std::size_t got = read_up_to(fd.get(), path, storage.get(), size);
    if (got != size) {
      cannot_read(path, "the file shrank from " + std::to_string(size) + " to " +
                            std::to_string(got) + " bytes while it was read");
    }
    // A file rewritten in place while it was read holds neither its old
    // bytes nor its new ones.
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0) cannot_read(path, errno);
    if (after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec) {
      cannot_read(path, "the file changed while it was read");
    }
    return FileBuffer(std::move(storage), size);
  }
  // A pipe or a device: blocks until the end, then one buffer of them all.
  constexpr std::size_t kBlock = 65536;
  std::vector<std::unique_ptr<char[]>> blocks;
  std::size_t size = 0;
  for (;;) {
    auto block = std::make_unique_for_overwrite<char[]>(kBlock);
    const std::size_t got = read_up_to(fd.get(), path, block.get(), kBlock);
    blocks.push_back(std::move(block));
    size += got;
    if (got < kBlock) break;
  }
  Storage storage = storage_for(size);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::size_t at = i * kBlock;
    std::memcpy(storage.get() + at, blocks[i].get(), std::min(kBlock, size - at));
  }
  return FileBuffer(std::move(storage), size);
}

FileBuffer FileBuffer::copy_of(const char* data, std::size_t size) {
  Storage storage = storage_for(size);
  if (size > 0) std::memcpy(storage.get(), data, size);
  return FileBuffer(std::move(storage), size);
}

}  // namespace zantrix::framework
