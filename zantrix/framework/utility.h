// Small utilities of the framework.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace zantrix::framework {

// Runs `fn(args...)` and stops any exception at this boundary: the error is
// reported as one line on standard output, "<label>: <message>", and no value
// is returned (an empty optional, or nothing for a function without result).
// Meant for operations whose failure must not reach the caller's loop.
template <class F, class... Args>
auto safe_call(std::string_view label, F&& fn, Args&&... args) {
  using R = std::invoke_result_t<F, Args...>;
  auto report = [label](std::string_view what) {
    std::cout << label << ": " << what << std::endl;
  };
  if constexpr (std::is_void_v<R>) {
    try {
      std::invoke(std::forward<F>(fn), std::forward<Args>(args)...);
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown error");
    }
  } else {
    try {
      return std::optional<R>(std::invoke(std::forward<F>(fn), std::forward<Args>(args)...));
    } catch (const std::exception& e) {
      report(e.what());
    } catch (...) {
      report("unknown error");
    }
    return std::optional<R>();
  }
}

// The name of the bar series of `time_step` seconds: K_<n>D for whole days,
// else K_<n>H for whole hours, else K_<n>M for whole minutes, else K_<n>S
// (60 -> K_1M, 900 -> K_15M, 7200 -> K_2H, 86400 -> K_1D). A ValueError for a
// length that is not positive.
std::string get_kline_dfield_from_seconds(std::int64_t time_step);

// The fields of record `n` (counted from 1) of the comma-separated file at
// `path`, which is read whole. Quoted fields may hold commas, doubled quotes
// and line breaks (a record may span lines); CRLF line ends and a UTF-8
// byte-order mark are handled. An empty line, or an `n` past the last record, gives no fields.
// A FileNotFoundError when the file cannot be opened, a ValueError for n < 1.
std::vector<std::string> read_row_from_csv(const std::filesystem::path& path, std::int64_t n);

}  // namespace zantrix::framework
