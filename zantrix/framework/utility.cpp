#include "zantrix/framework/utility.h"

#include "zantrix/framework/errors.h"

namespace zantrix::framework {

std::string get_kline_dfield_from_seconds(std::int64_t time_step) {
  if (time_step <= 0) {
    throw ValueError("time_step must be a positive number of seconds, got " +
                     std::to_string(time_step));
  }
  struct Unit {
    std::int64_t seconds;
    char letter;
  };
  constexpr Unit units[] = {{86400, 'D'}, {3600, 'H'}, {60, 'M'}, {1, 'S'}};
  for (const auto& [seconds, letter] : units) {
    if (time_step % seconds == 0) {
      return "K_" + std::to_string(time_step / seconds) + letter;
    }
  }
  return {};  // unreachable: every length is a multiple of one second
}

}  // namespace zantrix::framework
