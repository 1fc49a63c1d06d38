// A small stored history for the demo's two instruments, written to a
// temporary tree with its configuration: one-minute day files of the stock
// HK.00700 and of the futures series HK.HSImain, whose contract rolls on the
// last day. Prices walk from a fixed seed, so every run writes the same files.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace zantrix::app::demo::test {

namespace fs = std::filesystem;

struct SampleSession {
  int from_hour, from_minute, to_hour, to_minute;
};

inline void write_day_files(const fs::path& dir, const std::vector<std::string>& days,
                            const std::vector<SampleSession>& sessions, double price, double step,
                            int digits, bool with_ticker, unsigned seed) {
  fs::create_directories(dir);
  std::mt19937 random(seed);
  std::normal_distribution<double> move(0, step);
  const double scale = std::pow(10, digits);
  const auto rounded = [&](double v) { return std::round(v * scale) / scale; };
  for (std::size_t d = 0; d < days.size(); ++d) {
    std::ofstream out(dir / (days[d] + ".csv"), std::ios::binary);
    out << "time_key,open,high,low,close,volume" << (with_ticker ? ",ticker" : "") << "\n";
    const bool rolled = with_ticker && d + 1 == days.size();
    if (rolled) price *= 1.004;  // the next contract trades at a premium
    for (const auto& s : sessions) {
      for (int m = s.from_hour * 60 + s.from_minute + 1; m <= s.to_hour * 60 + s.to_minute; ++m) {
        const double open = rounded(price);
        const double close = rounded(price * (1 + move(random)));
        const double high = std::max(open, close) + 2 / scale;
        const double low = std::min(open, close) - 1 / scale;
        char line[160];
        std::snprintf(line, sizeof line, "%s %02d:%02d:00,%.*f,%.*f,%.*f,%.*f,%d", days[d].c_str(),
                      m / 60, m % 60, digits, open, digits, high, digits, low, digits, close,
                      100 * static_cast<int>(1 + random() % 50));
        out << line << (with_ticker ? (rolled ? ",HSIJ24" : ",HSIH24") : "") << "\n";
        price = close;
      }
    }
  }
}

// The first `count` weekdays from 2024-03-18.
inline std::vector<std::string> sample_days(int count) {
  using namespace std::chrono;
  std::vector<std::string> days;
  sys_days day = sys_days{year{2024} / 3 / 18};
  while (static_cast<int>(days.size()) < count) {
    const weekday w{day};
    if (w != Saturday && w != Sunday) {
      const year_month_day ymd{day};
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                    static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
      days.emplace_back(text);
    }
    day += std::chrono::days{1};
  }
  return days;
}

// Writes `days` trading days of both instruments under root/kline and the
// configuration root/zantrix_config.json, whose store is root/db; returns the
// configuration's path.
inline fs::path write_sample_market(const fs::path& root, int days) {
  const auto dates = sample_days(days);
  write_day_files(root / "kline" / "K_1M" / "HK.00700", dates, {{9, 30, 12, 0}, {13, 0, 16, 0}},
                  290, 0.0012, 1, false, 700);
  write_day_files(root / "kline" / "K_1M" / "HK.HSImain", dates, {{9, 15, 12, 0}, {13, 0, 16, 30}},
                  16500, 0.0008, 0, true, 2024);
  const fs::path config = root / "zantrix_config.json";
  std::ofstream(config, std::ios::binary)
      << "{\"DATA_PATH\": {\"kline\": \"kline\"}, \"TIME_STEP\": 60000, \"BAR_CONVENTION\": {},\n"
         " \"DB\": {\"sqlite3\": \"db\"}, \"TELEGRAM_TOKEN\": \"\", \"TELEGRAM_CHAT_ID\": 0}\n";
  return config;
}

}  // namespace zantrix::app::demo::test
