// Times the history loader, the record iterator and a large daily file.
//
//   bench_history generate DIR DAYS   writes DAYS one-minute day files (390
//                                     bars each) and a 1,000,000-row daily file
//   bench_history load DIR DAYS       prints the timings as "name seconds"
//
// Beside each load it prints the floor of the result's memory: the time to
// merely touch as many bytes of fresh memory as the result's columns and
// labels take (`*_touch_seconds`), which on these machines is far from free.
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "zantrix/core/data/history.h"
#include "zantrix/core/data/iterator.h"
#include "zantrix/framework/config.h"

namespace fs = std::filesystem;
namespace zc = zantrix::core;
namespace zf = zantrix::framework;
using namespace std::chrono;

namespace {

constexpr int kBarsPerDay = 390;
constexpr int kDailyRows = 1'000'000;

zf::Date first_day() { return 2000y / January / 3; }

// Weekdays from the first day on.
std::vector<zf::Date> trading_days(int count) {
  std::vector<zf::Date> out;
  for (sys_days d{first_day()}; static_cast<int>(out.size()) < count; d += std::chrono::days{1}) {
    const weekday w{d};
    if (w != Saturday && w != Sunday) out.emplace_back(d);
  }
  return out;
}

void put_bar(std::string& out, zf::DateTime t, double& price, std::mt19937_64& rng) {
  std::normal_distribution<double> step(0, 0.0005);
  const double open = price;
  const double close = open * (1 + step(rng));
  const double high = std::max(open, close) * 1.0002;
  const double low = std::min(open, close) * 0.9998;
  char buf[160];
  const int n = std::snprintf(buf, sizeof buf, "%s,%.2f,%.2f,%.2f,%.2f,%d\n",
                              zf::format_datetime(t).c_str(), open, high, low, close,
                              static_cast<int>(rng() % 5000) + 1);
  out.append(buf, static_cast<std::size_t>(n));
  price = close;
}

void generate(const fs::path& dir, int days) {
  std::mt19937_64 rng(42);
  double price = 100;
  const fs::path minute_dir = dir / "kline/K_1M/BENCH";
  fs::create_directories(minute_dir);
  for (const zf::Date day : trading_days(days)) {
    std::string out = "time_key,open,high,low,close,volume\n";
    const auto start = zf::make_datetime(day, 9h, 30min);
    for (int i = 1; i <= kBarsPerDay; ++i) put_bar(out, start + minutes(i), price, rng);
    std::ofstream(minute_dir / (zf::format_date(day) + ".csv"), std::ios::binary) << out;
  }
  const fs::path daily_dir = dir / "kline/K_1D/BENCH";
  fs::create_directories(daily_dir);
  std::string out = "time_key,open,high,low,close,volume\n";
  out.reserve(static_cast<std::size_t>(kDailyRows) * 64);
  const auto t0 = zf::make_datetime(1900y / January / 1);
  for (int i = 0; i < kDailyRows; ++i) put_bar(out, t0 + std::chrono::days{i}, price, rng);
  std::ofstream(daily_dir / "ohlcv.csv", std::ios::binary) << out;
}

template <class F>
double best_of(int runs, F&& fn) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto t = steady_clock::now();
    fn();
    best = std::min(best, duration<double>(steady_clock::now() - t).count());
  }
  return best;
}

// Seconds to touch `bytes` of memory fresh from the system, best of 3.
double touch_seconds(std::size_t bytes) {
  double best = 1e300;
  for (int i = 0; i < 3; ++i) {
    void* fresh = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (fresh == MAP_FAILED) return 0;
    const auto t = steady_clock::now();
    std::memset(fresh, 1, bytes);
    best = std::min(best, duration<double>(steady_clock::now() - t).count());
    munmap(fresh, bytes);
  }
  return best;
}

// The bytes of a table's cells and labels (texts by their characters).
std::size_t table_bytes(const zf::Table& table) {
  std::size_t bytes = table.rows() * sizeof(std::int64_t);
  for (const auto& column : table.column_list()) {
    bytes += column.kind() == zf::ColumnKind::Text
                 ? column.texts().bytes() + table.rows() * sizeof(std::size_t)
                 : table.rows() * 8;
  }
  return bytes;
}

void load(const fs::path& dir, int days) {
  zf::zantrix_config().set_DATA_PATH({{"kline", (dir / "kline").string()}});
  zf::zantrix_config().set_TIME_STEP(60000);
  const zc::Stock bench("BENCH", "bench");
  const auto all = trading_days(days);
  const auto start = zf::make_datetime(all.front());
  const auto end = zf::make_datetime(all.back(), 23h);

  std::size_t rows = 0;
  zf::Table table;
  const double loading = best_of(3, [&] {
    table = zc::_get_data(bench, start, end, "kline", std::nullopt, {{"interval", "1min"}});
    rows = table.rows();
  });
  std::cout << "load_seconds " << loading << "\nload_rows " << rows << "\n";
  std::cout << "load_touch_seconds " << touch_seconds(table_bytes(table)) << "\n";

  const auto shared = std::make_shared<const zf::Table>(std::move(table));
  double checksum = 0;
  const double iterating = best_of(3, [&] {
    for (const auto& record : zc::_get_data_iterator(bench, shared, "Bar")) {
      checksum += std::get<zc::Bar>(record).close;
    }
  });
  std::cout << "iterate_seconds " << iterating << "\niterate_records " << shared->rows()
            << "\nchecksum " << checksum << "\n";

  const auto daily_file = dir / "kline/K_1D/BENCH/ohlcv.csv";
  std::size_t daily_result = 0;
  const double daily = best_of(3, [&] {
    const zf::Table t =
        zc::_get_data(bench, start, end, "kline", std::nullopt, {{"interval", "1day"}});
    rows = t.rows();
    daily_result = table_bytes(t);
  });
  std::cout << "daily_seconds " << daily << "\ndaily_rows " << rows << "\ndaily_bytes "
            << fs::file_size(daily_file) << "\n";
  std::cout << "daily_touch_seconds " << touch_seconds(daily_result) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: bench_history generate|load DIR DAYS\n";
    return 2;
  }
  const std::string mode = argv[1];
  const int days = std::stoi(argv[3]);
  if (mode == "generate") {
    generate(argv[2], days);
  } else {
    load(argv[2], days);
  }
  return 0;
}
