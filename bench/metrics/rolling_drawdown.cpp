// Times rolling_maximum_drawdown over ten million portfolio values.
//
//   bench_metrics [--write DIR]
//
// Prints one line per window: "zantrix <window> <best seconds of 3>". With
// --write, also stores the input as DIR/input.f64 and each result as
// DIR/zantrix_<window>.f64 (native doubles, no header), so that a peer can
// time itself on exactly these values and compare its results.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "zantrix/plugins/analysis/metrics.h"

namespace {

using zantrix::plugins::analysis::rolling_maximum_drawdown;
using zantrix::plugins::analysis::Series;

constexpr std::size_t kValues = 10'000'000;
constexpr std::int64_t kWindows[] = {252, 100'000};
constexpr int kRepeats = 3;

// A positive random walk: each period moves the value by at most 2%.
std::vector<double> portfolio_values() {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> step(-0.02, 0.02);
  std::vector<double> values(kValues);
  double value = 1'000'000.0;
  for (double& v : values) {
    value *= 1.0 + step(rng);
    v = value;
  }
  return values;
}

bool write_doubles(const std::string& path, std::span<const double> values) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(values.data(), sizeof(double), values.size(), file) == values.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_dir;
  if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
    out_dir = argv[2];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--write DIR]\n", argv[0]);
    return 2;
  }

  const std::vector<double> values = portfolio_values();
  std::vector<Series> results;
  for (const std::int64_t window : kWindows) {
    double best = 0.0;
    Series result;
    for (int i = 0; i < kRepeats; ++i) {
      result = Series();  // the last result's memory goes back before timing
      const auto start = std::chrono::steady_clock::now();
      result = rolling_maximum_drawdown(values, window);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (i == 0 || took.count() < best) best = took.count();
    }
    std::printf("zantrix %lld %.6f\n", static_cast<long long>(window), best);
    results.push_back(std::move(result));
  }

  // Written after timing, so that flushing the files does not compete with it.
  if (out_dir.empty()) return 0;
  if (!write_doubles(out_dir + "/input.f64", values)) {
    std::fprintf(stderr, "cannot write %s/input.f64\n", out_dir.c_str());
    return 1;
  }
  for (std::size_t i = 0; i < results.size(); ++i) {
    const std::string path = out_dir + "/zantrix_" + std::to_string(kWindows[i]) + ".f64";
    if (!write_doubles(path, results[i].values())) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
