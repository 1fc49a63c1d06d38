// Date-times without a time zone, and their one text form.
//
// DateTime is a wall-clock reading with microsecond resolution; a calendar
// date is std::chrono::year_month_day. Texts are "%Y-%m-%d %H:%M:%S", with an
// optional fraction ".f" to ".ffffff" on reading; writing adds ".ffffff" only
// when the microseconds are not zero. Parsing is a fixed-format scanner (the
// history loader parses every row with it); a text of another form is a
// ValueError that quotes the text.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zantrix::framework {

using DateTime = std::chrono::local_time<std::chrono::microseconds>;
using Date = std::chrono::year_month_day;

// "%Y-%m-%d %H:%M:%S" with an optional fraction of one to six digits.
DateTime parse_datetime(std::string_view text);
// "%Y-%m-%d".
Date parse_date(std::string_view text);

// Non-throwing forms for hot loops: false when `text` has another form.
bool try_parse_datetime(std::string_view text, DateTime& out) noexcept;
bool try_parse_date(std::string_view text, Date& out) noexcept;

// "%Y-%m-%d %H:%M:%S", then ".ffffff" when the microseconds are not zero.
std::string format_datetime(DateTime value);
// Writes the same text into `out` (at least 26 characters); returns its length.
std::size_t format_datetime_to(DateTime value, char* out) noexcept;
// "%Y-%m-%d".
std::string format_date(Date value);

DateTime make_datetime(Date date, std::chrono::hours h = {}, std::chrono::minutes m = {},
                       std::chrono::seconds s = {},
                       std::chrono::microseconds us = {});
Date date_of(DateTime value);

// The local clock's reading now, as a wall-clock DateTime.
DateTime local_now();

}  // namespace zantrix::framework
