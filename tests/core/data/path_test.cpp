#include "zantrix/core/data/path.h"
#include "tests/support/error_of.h"

#include <algorithm>

#include "tests/core/data/history_fixture.h"
#include "zantrix/framework/errors.h"

namespace zc = zantrix::core;
namespace zf = zantrix::framework;
using zantrix::test::error_of;
using namespace std::chrono;

namespace {

class DataPath : public zantrix::test::HistoryTree {
 protected:
  std::string kline(const std::string& rest) { return (root_ / "kline").string() + "/" + rest; }
  const zc::Stock abc{"ABC", "abc"};
};

}  // namespace

TEST_F(DataPath, BarLengthComesFromTheIntervalOrTimeStep) {
  EXPECT_EQ(zc::_get_data_path(abc, "kline"), kline("K_1M/ABC"));
  EXPECT_EQ(zc::_get_data_path(abc, "kline", {{"interval", "15min"}}), kline("K_15M/ABC"));
  EXPECT_EQ(zc::_get_data_path(abc, "kline", {{"interval", "2hour"}}), kline("K_2H/ABC"));
  EXPECT_EQ(zc::_get_data_path(abc, "kline", {{"interval", "3day"}}), kline("K_3D/ABC"));
  EXPECT_EQ(zc::_get_data_path(abc, "kline", {{"interval", " +5 min"}}), kline("K_5M/ABC"));
  zf::zantrix_config().set_TIME_STEP(300500);  // whole seconds only
  EXPECT_EQ(zc::_get_data_path(abc, "kline"), kline("K_5M/ABC"));
  EXPECT_EQ(zc::_get_data_path(abc, "flow", {{"interval", "1week"}}),
            (root_ / "flow").string() + "/ABC");
}

TEST_F(DataPath, BadIntervalsAndDataTypesFail) {
  EXPECT_EQ(error_of<zf::ValueError>([&] {
              zc::_get_data_path(abc, "kline", {{"interval", "1week"}});
            }),
            "interval 1week is NOT valid!");
  for (const char* bad : {"1.5min", "min", "--1min", "1 5min", "99999999999999999999min",
                          "18446744073709551617hour"}) {
    EXPECT_THROW(zc::_get_data_path(abc, "kline", {{"interval", bad}}), zf::ValueError) << bad;
  }
  EXPECT_THROW(zc::interval_seconds("1hourmin"), zf::ValueError);  // "min" is tested first
  EXPECT_THROW(zc::_get_data_path(abc, "ticks"), zf::KeyError);
}

TEST_F(DataPath, ListsCsvNamesInFileSystemOrder) {
  write("K_1M", "ABC", "2024-03-05.csv", "");
  write("K_1M", "ABC", "notes.txt", "");
  write("K_1M", "ABC", "2024-03-04.csv.bak", "");
  std::vector<std::string> expected;
  for (const auto& e : std::filesystem::directory_iterator(root_ / "kline/K_1M/ABC")) {
    const auto name = e.path().filename().string();
    if (name.find(".csv") != std::string::npos) expected.push_back(name);
  }
  EXPECT_EQ(zc::_get_data_files(abc, "kline"), expected);
  EXPECT_EQ(expected.size(), 2u);

  EXPECT_EQ(
      error_of<zf::FileNotFoundError>([&] { zc::_get_data_files(zc::Stock("XYZ", "x"), "kline"); }),
      "Data was NOT found in " + kline("K_1M/XYZ") + "!");
}

TEST_F(DataPath, ReverseListIsNewestFirstUpToTheDay) {
  for (const char* name :
       {"2024-03-01.csv", "2024-03-02.csv", "2024-03-03.csv", "2024_all.csv", "readme.md"}) {
    write("K_1M", "ABC", name, "");
  }
  const auto t = zf::make_datetime(2024y / March / 2, 23h, 59min);
  EXPECT_EQ(zc::_load_historical_bars_in_reverse(abc, t),
            (std::vector<std::string>{"2024_all.csv", "2024-03-02.csv", "2024-03-01.csv"}));
  write("K_1M", "ABC", "march.csv", "");
  EXPECT_THROW(zc::_load_historical_bars_in_reverse(abc, t), zf::ValueError);
}
