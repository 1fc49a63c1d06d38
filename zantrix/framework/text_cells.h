// TextCells: the cells of a text column, held as one character buffer and
// the end offset of each cell, so that a column of many short texts costs two
// allocations rather than one per cell.
//
// A cell is read as a std::string_view into the buffer, valid until the
// cells change. Cells are appended, never edited in place; a value type, not
// safe to change from two threads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
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
    std::string_view operator[](difference_type n) const {
      return (*cells_)[static_cast<std::size_t>(static_cast<difference_type>(at_) + n)];
    }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    const_iterator operator++(int) {
      auto before = *this;
      ++at_;
      return before;
    }
    const_iterator& operator--() {
      --at_;
      return *this;
    }
    const_iterator operator--(int) {
      auto before = *this;
      --at_;
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
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
      return a.at_ <=> b.at_;
    }

   private:
    const TextCells* cells_ = nullptr;
    std::size_t at_ = 0;
  };

  TextCells() = default;
  explicit TextCells(const std::vector<std::string>& texts) {
    reserve(texts.size());
    for (const auto& text : texts) push_back(text);
  }

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // The characters of every cell, end to end.
  std::size_t bytes() const { return chars_.size(); }

  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {chars_.data() + begin, ends_[i] - begin};
  }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  // Room for `cells` cells and, when given, `bytes` characters in all.
  void reserve(std::size_t cells, std::size_t bytes = 0) {
    ends_.reserve(cells);
    if (bytes > chars_.capacity()) chars_.reserve(bytes);
  }
  std::size_t capacity() const { return ends_.capacity(); }

  void push_back(std::string_view text) {
    chars_.insert(chars_.end(), text.begin(), text.end());
    ends_.push_back(chars_.size());
  }
  // Appends empty cells up to `n`, or drops the cells past it.
  void resize(std::size_t n) {
    if (n < ends_.size()) {
      chars_.resize(n == 0 ? 0 : ends_[n - 1]);
      ends_.resize(n);
    } else {
      ends_.resize(n, chars_.size());
    }
  }
  void append(const TextCells& other) {
    const std::size_t base = chars_.size();
    chars_.insert(chars_.end(), other.chars_.begin(), other.chars_.end());
    ends_.reserve(ends_.size() + other.ends_.size());
    for (const std::size_t end : other.ends_) ends_.push_back(base + end);
  }
  // Keeps, in place and in order, the cells whose `keep` flag is set.
  void keep(std::span<const std::uint8_t> keep) {
    std::size_t kept = 0;
    std::size_t write = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < ends_.size(); ++i) {
      const std::size_t end = ends_[i];
      if (keep[i] != 0) {
        if (write != begin) {
          std::copy(chars_.begin() + static_cast<std::ptrdiff_t>(begin),
                    chars_.begin() + static_cast<std::ptrdiff_t>(end),
                    chars_.begin() + static_cast<std::ptrdiff_t>(write));
        }
        write += end - begin;
        ends_[kept++] = write;
      }
      begin = end;
    }
    chars_.resize(write);
    ends_.resize(kept);
  }

  friend bool operator==(const TextCells&, const TextCells&) = default;

 private:
  std::vector<char> chars_;
  std::vector<std::size_t> ends_;
};

}  // namespace zantrix::framework
