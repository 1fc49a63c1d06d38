#include "zantrix/framework/datetime.h"

#include <ctime>

#include "zantrix/framework/errors.h"

namespace zantrix::framework {
namespace {

using namespace std::chrono;

bool digits(std::string_view s, std::size_t pos, std::size_t n, int& out) noexcept {
  int v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned d = static_cast<unsigned char>(s[pos + i]) - '0';
    if (d > 9) return false;
    v = v * 10 + static_cast<int>(d);
  }
  out = v;
  return true;
}

bool scan_date(std::string_view s, Date& out) noexcept {
  int y, mo, d;
  if (s.size() < 10 || s[4] != '-' || s[7] != '-') return false;
  if (!digits(s, 0, 4, y) || !digits(s, 5, 2, mo) || !digits(s, 8, 2, d)) return false;
  const Date ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok()) return false;
  out = ymd;
  return true;
}

void put2(char* p, unsigned v) noexcept {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
}

std::size_t put_date(Date d, char* p) noexcept {
  const int y = static_cast<int>(d.year());
  if (y < 0 || y > 9999) {
    // Years outside four digits are written as they are.
    const std::string s = std::to_string(y);
    std::size_t n = 0;
    for (char c : s) p[n++] = c;
    p[n++] = '-';
    put2(p + n, static_cast<unsigned>(d.month()));
    p[n + 2] = '-';
    put2(p + n + 3, static_cast<unsigned>(d.day()));
    return n + 5;
  }
  p[0] = static_cast<char>('0' + y / 1000);
  p[1] = static_cast<char>('0' + y / 100 % 10);
  p[2] = static_cast<char>('0' + y / 10 % 10);
  p[3] = static_cast<char>('0' + y % 10);
  p[4] = '-';
  put2(p + 5, static_cast<unsigned>(d.month()));
  p[7] = '-';
  put2(p + 8, static_cast<unsigned>(d.day()));
  return 10;
}

}  // namespace

bool try_parse_date(std::string_view text, Date& out) noexcept {
  return text.size() == 10 && scan_date(text, out);
}

bool try_parse_datetime(std::string_view s, DateTime& out) noexcept {
  Date date;
  int h, mi, se;
  if (s.size() < 19 || !scan_date(s, date) || s[10] != ' ' || s[13] != ':' || s[16] != ':') {
    return false;
  }
  if (!digits(s, 11, 2, h) || !digits(s, 14, 2, mi) || !digits(s, 17, 2, se)) return false;
  if (h > 23 || mi > 59 || se > 59) return false;
  int micros = 0;
  if (s.size() > 19) {
    const std::size_t n = s.size() - 20;
    if (s[19] != '.' || n < 1 || n > 6 || !digits(s, 20, n, micros)) return false;
    for (std::size_t i = n; i < 6; ++i) micros *= 10;
  }
  out = local_days{date} + hours{h} + minutes{mi} + seconds{se} + microseconds{micros};
  return true;
}

DateTime parse_datetime(std::string_view text) {
  DateTime out;
  if (!try_parse_datetime(text, out)) {
    throw ValueError("time data '" + std::string(text) +
                     "' does not match format '%Y-%m-%d %H:%M:%S'");
  }
  return out;
}

Date parse_date(std::string_view text) {
  Date out;
  if (!try_parse_date(text, out)) {
    throw ValueError("time data '" + std::string(text) + "' does not match format '%Y-%m-%d'");
  }
  return out;
}

std::size_t format_datetime_to(DateTime value, char* p) noexcept {
  const auto day_start = floor<days>(value);
  std::size_t n = put_date(Date{day_start}, p);
  const hh_mm_ss<microseconds> t{value - day_start};
  p[n] = ' ';
  put2(p + n + 1, static_cast<unsigned>(t.hours().count()));
  p[n + 3] = ':';
  put2(p + n + 4, static_cast<unsigned>(t.minutes().count()));
  p[n + 6] = ':';
  put2(p + n + 7, static_cast<unsigned>(t.seconds().count()));
  n += 9;
  auto us = static_cast<unsigned>(t.subseconds().count());
  if (us != 0) {
    p[n] = '.';
    for (int i = 6; i >= 1; --i) {
      p[n + static_cast<std::size_t>(i)] = static_cast<char>('0' + us % 10);
      us /= 10;
    }
    n += 7;
  }
  return n;
}

std::string format_datetime(DateTime value) {
  char buf[40];
  return std::string(buf, format_datetime_to(value, buf));
}

std::string format_date(Date value) {
  char buf[24];
  return std::string(buf, put_date(value, buf));
}

DateTime make_datetime(Date date, hours h, minutes m, seconds s, microseconds us) {
  return local_days{date} + h + m + s + us;
}

Date date_of(DateTime value) { return Date{floor<days>(value)}; }

DateTime local_now() {
  const auto now = system_clock::now();
  const std::time_t tt = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&tt, &tm);
  const auto us = duration_cast<microseconds>(now.time_since_epoch()) % seconds{1};
  const Date date{year{tm.tm_year + 1900}, month{static_cast<unsigned>(tm.tm_mon + 1)},
                  day{static_cast<unsigned>(tm.tm_mday)}};
  return make_datetime(date, hours{tm.tm_hour}, minutes{tm.tm_min}, seconds{tm.tm_sec},
                       us.count() < 0 ? us + seconds{1} : us);
}

}  // namespace zantrix::framework
