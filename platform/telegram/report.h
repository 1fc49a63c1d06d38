// The client's diagnostic line: one line on standard output, written in one
// piece and flushed at once, so lines from different threads never mix and a
// line is not lost when the process ends.
#pragma once

#include <iostream>
#include <string>
#include <string_view>

namespace platform::telegram {

inline void report(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::cout << text << std::flush;
}

}  // namespace platform::telegram
