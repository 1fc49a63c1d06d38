#include "zantrix/framework/text_cells.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "zantrix/framework/fresh_memory.h"

namespace zantrix::framework {

TextCells::TextCells(const std::vector<std::string>& texts) {
  std::size_t bytes = 0;
  for (const auto& text : texts) bytes += text.size();
  reserve(texts.size(), bytes);
  for (const auto& text : texts) push_back(text);
}

TextCells::TextCells(const TextCells& other) : ends_(other.ends_) {
  reallocate(other.used_);
  if (other.used_ != 0) std::memcpy(chars_.get(), other.chars_.get(), other.used_);
  used_ = other.used_;
}

TextCells& TextCells::operator=(const TextCells& other) {
  if (this != &other) {
    TextCells copy(other);
    *this = std::move(copy);
  }
  return *this;
}

TextCells::TextCells(TextCells&& other) noexcept
    : chars_(std::move(other.chars_)),
      used_(std::exchange(other.used_, 0)),
      room_(std::exchange(other.room_, 0)),
      ends_(std::move(other.ends_)) {
  other.ends_.clear();
}

TextCells& TextCells::operator=(TextCells&& other) noexcept {
  chars_ = std::move(other.chars_);
  used_ = std::exchange(other.used_, 0);
  room_ = std::exchange(other.room_, 0);
  ends_ = std::move(other.ends_);
  other.ends_.clear();
  return *this;
}

void TextCells::reserve(std::size_t cells, std::size_t bytes) {
  if (cells > ends_.capacity()) {
    const std::size_t had = ends_.size();
    ends_.reserve(cells);
    prefault(ends_.data() + had, (ends_.capacity() - had) * sizeof(std::size_t));
  }
  if (bytes > room_) reallocate(bytes);
}

void TextCells::grow(std::size_t more) {
  reallocate(std::max({room_ * 2, used_ + more, std::size_t{64}}));
}

void TextCells::reallocate(std::size_t room) {
  auto fresh = std::make_unique_for_overwrite<char[]>(room);
  prefault(fresh.get(), room);
  if (used_ != 0) std::memcpy(fresh.get(), chars_.get(), used_);
  chars_ = std::move(fresh);
  room_ = room;
}

void TextCells::resize(std::size_t n) {
  if (n < ends_.size()) {
    used_ = n == 0 ? 0 : ends_[n - 1];
    ends_.resize(n);
  } else {
    ends_.resize(n, used_);
  }
}

void TextCells::append(const TextCells& other) {
  if (&other == this) {
    const TextCells copy(other);
    append(copy);
    return;
  }
  if (other.used_ > room_ - used_) grow(other.used_);
  if (other.used_ != 0) std::memcpy(chars_.get() + used_, other.chars_.get(), other.used_);
  const std::size_t base = used_;
  used_ += other.used_;
  ends_.reserve(ends_.size() + other.ends_.size());
  for (const std::size_t end : other.ends_) ends_.push_back(base + end);
}

void TextCells::keep(std::span<const std::uint8_t> keep) {
  std::size_t kept = 0;
  std::size_t write = 0;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < ends_.size(); ++i) {
    const std::size_t end = ends_[i];
    if (keep[i] != 0) {
      if (write != begin) std::memmove(chars_.get() + write, chars_.get() + begin, end - begin);
      write += end - begin;
      ends_[kept++] = write;
    }
    begin = end;
  }
  used_ = write;
  ends_.resize(kept);
}

bool operator==(const TextCells& a, const TextCells& b) {
  return a.ends_ == b.ends_ &&
         (a.used_ == 0 || std::memcmp(a.chars_.get(), b.chars_.get(), a.used_) == 0);
}

}  // namespace zantrix::framework
