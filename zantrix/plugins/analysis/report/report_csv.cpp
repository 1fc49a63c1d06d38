#include <array>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "zantrix/framework/text.h"
#include "zantrix/plugins/analysis/report/report.h"

namespace zantrix::plugins::analysis::report {

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string cell(double v) {
  return std::isnan(v) ? std::string() : framework::format_number(v);
}

std::string cell(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string cell(framework::DateTime t) {
  return framework::format_datetime(t);
}

// One CSV file, written row by row.
class CsvFile {
 public:
  CsvFile(const fs::path& path, const std::vector<std::string>& header)
      : path_(path), out_(path, std::ios::binary) {
    row(header);
  }
  void row(const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) out_ << (i ? "," : "") << cells[i];
    out_ << "\n";
  }
  // Closes the file; a std::runtime_error naming it when any write failed.
  void finish() {
    out_.close();
    if (!out_) throw std::runtime_error("cannot write " + path_.string());
  }

 private:
  fs::path path_;
  std::ofstream out_;
};

void write_equity(const Performance& p, const fs::path& dir) {
  const auto& in = p.input;
  std::vector<std::string> header{"time", "value", "value_rebased"};
  if (p.has_benchmark()) header.insert(header.end(), {"benchmark", "benchmark_rebased"});
  CsvFile out(dir / "equity.csv", header);
  for (std::size_t i = 0; i < in.values.size(); ++i) {
    std::vector<std::string> row{cell(in.times[i]), cell(in.values[i]),
                                 cell(in.values[i] / in.values.front())};
    if (p.has_benchmark()) {
      row.insert(row.end(), {cell(in.benchmark[i]), cell(in.benchmark[i] / in.benchmark.front())});
    }
    out.row(row);
  }
  out.finish();
}

void write_drawdown(const Performance& p, const fs::path& dir) {
  CsvFile out(dir / "drawdown.csv", {"time", "drawdown", "rolling_max_drawdown"});
  for (std::size_t i = 0; i < p.drawdown.size(); ++i) {
    out.row({cell(p.input.times[i]), cell(p.drawdown[i]), cell(p.rolling_max_drawdown[i])});
  }
  CsvFile periods(dir / "drawdown_periods.csv",
                  {"rank", "depth", "peak", "trough", "recovery", "peak_value", "trough_value"});
  for (std::size_t r = 0; r < p.worst_drawdowns.size(); ++r) {
    const DrawdownPeriod& d = p.worst_drawdowns[r];
    periods.row({std::to_string(r + 1), cell(d.depth), cell(p.input.times[d.peak]),
                 cell(p.input.times[d.trough]),
                 d.recovery ? cell(p.input.times[*d.recovery]) : std::string(),
                 cell(p.input.values[d.peak]), cell(p.input.values[d.trough])});
  }
  out.finish();
  periods.finish();
}

void write_monthly(const Performance& p, const fs::path& dir) {
  std::vector<std::string> header{"year"};
  header.insert(header.end(), kMonthNames.begin(), kMonthNames.end());
  header.emplace_back("year_total");
  CsvFile out(dir / "monthly_returns.csv", header);
  for (const ReturnsYear& year : p.monthly) {
    std::vector<std::string> row{std::to_string(year.year)};
    for (const auto& month : year.months) row.push_back(month ? cell(*month) : std::string());
    row.push_back(cell(year.total));
    out.row(row);
  }
  out.finish();
}

void write_rolling(const Performance& p, const fs::path& dir) {
  CsvFile out(dir / "rolling.csv", {"time", "return", "rolling_sharpe", "rolling_volatility"});
  for (std::size_t i = 0; i < p.input.times.size(); ++i) {
    out.row({cell(p.input.times[i]), i == 0 ? std::string() : cell(p.returns[i - 1]),
             cell(p.rolling_sharpe[i]), cell(p.rolling_volatility[i])});
  }
  out.finish();
}

void write_trading(const Trading& trading, const fs::path& dir) {
  CsvFile trades(dir / "trades.csv",
                 {"instrument", "direction", "quantity", "entry_time", "entry_price", "exit_time",
                  "exit_price", "holding_minutes", "pnl"});
  for (const RoundTrip& t : trading.trips) {
    trades.row({cell(t.instrument), t.direction == framework::Direction::LONG ? "LONG" : "SHORT",
                cell(t.quantity), cell(t.entry_time), cell(t.entry_price),
                t.exit_time ? cell(*t.exit_time) : std::string(),
                t.exit_time ? cell(t.exit_price) : std::string(), cell(t.holding_minutes),
                cell(t.pnl)});
  }
  CsvFile fees(dir / "fees.csv", {"instrument", "fills", "quantity", "fees"});
  for (const InstrumentFees& f : trading.fees) {
    fees.row({cell(f.instrument), std::to_string(f.fills), cell(f.quantity), cell(f.fees)});
  }
  trades.finish();
  fees.finish();
}

}  // namespace

std::vector<std::string> csv_files(const Report& report) {
  std::vector<std::string> files{"equity.csv", "drawdown.csv", "drawdown_periods.csv",
                                 "monthly_returns.csv", "rolling.csv"};
  if (report.trading) files.insert(files.end(), {"trades.csv", "fees.csv"});
  return files;
}

void write_csv(const Report& report, const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) throw std::runtime_error("cannot create " + dir.string() + ": " + error.message());
  const Performance& p = report.performance;
  write_equity(p, dir);
  write_drawdown(p, dir);
  write_monthly(p, dir);
  write_rolling(p, dir);
  if (report.trading) write_trading(*report.trading, dir);
}

}  // namespace zantrix::plugins::analysis::report
