// TextCells: the cells of a text column, held as one character buffer and
// the end offset of each cell, so that a column of many short texts costs two
// allocations rather than one per cell.
//
// A cell is read as a std::string_view into the buffer, valid until the
// cells change. Cells are appended, never edited in place. A value type
// (copies are deep); not safe to change from two threads.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zantrix::framework {

class TextCells {
 public:
  using value_type = std::string_view;

  // Random access over the cells, each a std::string_view.
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    const_iterator(const TextCells* cells, std::size_t at) : cells_(cells), at_(at) {}

    std::string_view operator*() const { return (*cells_)[at_]; }
    std::string_view operator[](difference_type n) const { return *(*this + n); }
    const_iterator& operator++() { return *this += 1; }
    const_iterator operator++(int) {
      auto before = *this;
      *this += 1;
      return before;
    }
    const_iterator& operator--() { return *this += -1; }
    const_iterator operator--(int) {
      auto before = *this;
      *this += -1;
      return before;
    }
    const_iterator& operator+=(difference_type n) {
      at_ = static_cast<std::size_t>(static_cast<difference_type>(at_) + n);
      return *this;
    }
    const_iterator& operator-=(difference_type n) { return *this += -n; }
    friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
    friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
    friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
    friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
      return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.at_ == b.at_;
    }
    friend std::strong_ordering operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.at_ <=> b.at_;
    }

   private:
    const TextCells* cells_ = nullptr;
    std::size_t at_ = 0;
  };

  TextCells() = default;
  explicit TextCells(const std::vector<std::string>& texts);
  TextCells(const TextCells& other);
  TextCells& operator=(const TextCells& other);
  TextCells(TextCells&& other) noexcept;
  TextCells& operator=(TextCells&& other) noexcept;
  ~TextCells() = default;

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // The characters of every cell, end to end.
  std::size_t bytes() const { return used_; }

  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {chars_.get() + begin, ends_[i] - begin};
  }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  // Room for `cells` cells and, when given, `bytes` characters in all, mapped
  // up front when large (fresh_memory.h).
  void reserve(std::size_t cells, std::size_t bytes = 0);
  std::size_t capacity() const { return ends_.capacity(); }

  void push_back(std::string_view text) {
    if (text.size() > room_ - used_) grow(text.size());
    copy_short(chars_.get() + used_, text.data(), text.size());
    used_ += text.size();
    ends_.push_back(used_);
  }
  // Appends empty cells up to `n`, or drops the cells past it.
  void resize(std::size_t n);
  void append(const TextCells& other);
  // Keeps, in place and in order, the cells whose `keep` flag is set.
  void keep(std::span<const std::uint8_t> keep);

  friend bool operator==(const TextCells& a, const TextCells& b);

 private:
  // Copies `n` bytes; the short texts of most cells with a few fixed-size
  // moves rather than a call.
  static void copy_short(char* to, const char* from, std::size_t n) {
    if (n >= 8 && n <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n > 16) {
      std::memcpy(to, from, n);
    } else {
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
  }
  // Room for `more` characters past the used ones, at least doubling.
  void grow(std::size_t more);
  void reallocate(std::size_t room);

  std::unique_ptr<char[]> chars_;
  std::size_t used_ = 0;
  std::size_t room_ = 0;
  std::vector<std::size_t> ends_;
};

}  // namespace zantrix::framework
