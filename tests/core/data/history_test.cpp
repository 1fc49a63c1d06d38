#include "zantrix/core/data/history.h"
#include "tests/support/error_of.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "tests/core/data/history_fixture.h"
#include "zantrix/framework/errors.h"

namespace zc = zantrix::core;
namespace zf = zantrix::framework;
using zantrix::test::error_of;
using namespace std::chrono;

namespace {

constexpr const char* kHeader = "time_key,open,high,low,close,volume\n";

std::string bar(const std::string& time, double close, double volume = 10) {
  return time + "," + std::to_string(close) + "," + std::to_string(close) + "," +
         std::to_string(close) + "," + std::to_string(close) + "," + std::to_string(volume) + "\n";
}

class History : public zantrix::test::HistoryTree {
 protected:
  zf::Table intraday(zf::DateTime start, zf::DateTime end, const std::string& interval = "1min") {
    return zc::_get_data(abc, start, end, "kline", std::nullopt, {{"interval", interval}});
  }
  static std::vector<std::string> times(const zf::Table& t) {
    std::vector<std::string> out;
    for (const auto v : t.column("time_key").datetimes()) out.push_back(zf::format_datetime(v));
    return out;
  }
  static zf::DateTime at(year_month_day d, hours h, minutes m = {}) {
    return zf::make_datetime(d, h, m);
  }
  const zc::Stock abc{"ABC", "abc"};
};

}  // namespace

TEST_F(History, IntradayReadsTheDaysOfTheRangeAndKeepsTheWindow) {
  write("K_1M", "ABC", "2024-03-01.csv", std::string(kHeader) + bar("2024-03-01 15:00:00", 1));
  write("K_1M", "ABC", "2024-03-02.csv",
        std::string(kHeader) + bar("2024-03-02 09:59:00", 2) + bar("2024-03-02 10:00:00", 3) +
            bar("2024-03-02 23:59:00", 4));
  // Rows out of order across a file, and a file holding another day's row.
  write("K_1M", "ABC", "2024-03-03.csv",
        std::string(kHeader) + bar("2024-03-03 09:01:00", 7) + bar("2024-03-03 09:00:00", 6) +
            bar("2024-03-02 12:00:00", 5));
  write("K_1M", "ABC", "2024-03-04.csv", std::string(kHeader) + bar("2024-03-04 09:00:00", 8));

  const auto t = intraday(at(2024y / March / 2, 10h), at(2024y / March / 3, 9h));
  EXPECT_EQ(times(t), (std::vector<std::string>{"2024-03-02 10:00:00", "2024-03-02 12:00:00",
                                                "2024-03-02 23:59:00", "2024-03-03 09:00:00"}));
  EXPECT_EQ(t.column_names(),
            (std::vector<std::string>{"time_key", "open", "high", "low", "close", "volume"}));
  EXPECT_EQ(std::vector<std::int64_t>(t.labels().begin(), t.labels().end()),
            (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_EQ(t.column("close").numbers()[1], 5.0);

  // Files in range whose rows all fall outside the window: an empty table.
  EXPECT_TRUE(intraday(at(2024y / March / 4, 10h), at(2024y / March / 4, 11h)).empty());
  // A start after the end selects no file.
  EXPECT_THROW(intraday(at(2024y / March / 3, 9h), at(2024y / March / 2, 10h)), zf::ValueError);
  // On one day it selects the file, whose rows then all fall outside.
  EXPECT_TRUE(intraday(at(2024y / March / 3, 9h, 1min), at(2024y / March / 3, 9h)).empty());
}

TEST_F(History, StartConventionShiftsByOneBarButNotTheFileChoice) {
  write("K_1M", "ABC", "2024-03-01.csv", std::string(kHeader) + bar("2024-03-01 23:59:00", 1));
  write("K_1M", "ABC", "2024-03-02.csv",
        std::string(kHeader) + bar("2024-03-02 00:00:00", 2) + bar("2024-03-02 09:59:00", 3) +
            bar("2024-03-02 10:00:00", 4));
  zf::zantrix_config().set_BAR_CONVENTION({{"ABC", "start"}});
  EXPECT_EQ(times(intraday(at(2024y / March / 2, 10h), at(2024y / March / 2, 11h))),
            (std::vector<std::string>{"2024-03-02 09:59:00", "2024-03-02 10:00:00"}));
  // Files are chosen by the unshifted start: no bar of the day before.
  EXPECT_EQ(times(intraday(at(2024y / March / 2, 0h), at(2024y / March / 2, 1h))),
            (std::vector<std::string>{"2024-03-02 00:00:00"}));
}

TEST_F(History, NoDataNamesTheRequestedRange) {
  write("K_1M", "ABC", "2024-03-01.csv", std::string(kHeader) + bar("2024-03-01 09:00:00", 1));
  zf::zantrix_config().set_BAR_CONVENTION({{"ABC", "start"}});
  const auto start = at(2024y / March / 5, 10h) + microseconds(250);
  EXPECT_EQ(error_of<zf::ValueError>([&] { intraday(start, at(2024y / March / 6, 9h)); }),
            "There is no historical data for ABC within time range: [2024-03-05 10:00:00.000250 - "
            "2024-03-06 09:00:00]!");
  EXPECT_THROW(intraday(start, start, "1hour"), zf::ValueError);
  write("K_1M", "ABC", "2024-03-04.csv.bak", "");
  EXPECT_THROW(intraday(start, start), zf::ValueError);  // a name that is no date
}

TEST_F(History, EachFileIsReadFromTheIntervalsOwnDirectory) {
  write("K_1M", "ABC", "2024-03-01.csv", std::string(kHeader) + bar("2024-03-01 09:01:00", 1));
  write("K_5M", "ABC", "2024-03-01.csv", std::string(kHeader) + bar("2024-03-01 09:05:00", 5));
  write("K_5M", "ABC", "2024-03-02.csv", std::string(kHeader) + bar("2024-03-02 09:05:00", 6));
  EXPECT_EQ(times(intraday(at(2024y / March / 1, 0h), at(2024y / March / 2, 23h), "5min")),
            (std::vector<std::string>{"2024-03-01 09:05:00", "2024-03-02 09:05:00"}));
}

TEST_F(History, MultiContractFilesKeepTheMostTradedCompleteContract) {
  // A trades more in all, but one of its big rows is incomplete; B wins.
  write("K_1M", "ABC", "2024-03-01.csv",
        ",meta,A,A,A,A,A,B,B,B,B,B\n"
        "time_key,note,open,high,low,close,volume,open,high,low,close,volume\n"
        "2024-03-01 09:00:00,x,1,1,1,1,100,2,2,2,2,150\n"
        "2024-03-01 09:01:00,y,1,1,,1,500,2,2,2,2,100\n");
  const auto t = intraday(at(2024y / March / 1, 0h), at(2024y / March / 1, 23h));
  EXPECT_EQ(t.column_names(),
            (std::vector<std::string>{"time_key", "open", "high", "low", "close", "volume"}));
  EXPECT_EQ(t.column("close").numbers()[0], 2.0);
  EXPECT_EQ(t.column("volume").numbers()[1], 100.0);
}

TEST_F(History, RollsBackAdjustEarlierPricesByRatio) {
  std::string file = "time_key,open,high,low,close,volume,ticker\n";
  const char* rows[][3] = {{"09:00", "100", "X"}, {"09:01", "100", "X"}, {"09:02", "110", "Y"},
                           {"09:03", "121", "Y"}, {"09:04", "242", "Z"}, {"09:05", "240", "Z"}};
  for (const auto& [t, c, ticker] : rows) {
    file += std::string("2024-03-01 ") + t + ":00," + c + "," + c + "," + c + "," + c + ",1," +
            ticker + "\n";
  }
  write("K_1M", "ABC", "2024-03-01.csv", file);
  const auto table = intraday(at(2024y / March / 1, 0h), at(2024y / March / 1, 23h));
  const auto close = table.column("close").numbers();
  // X rows take 1.1 then 2; Y rows take 2; Z rows stay.
  EXPECT_DOUBLE_EQ(close[0], 100 * 1.1 * 2);
  EXPECT_DOUBLE_EQ(close[1], 100 * 1.1 * 2);
  EXPECT_DOUBLE_EQ(close[2], 110 * 2.0);
  EXPECT_DOUBLE_EQ(close[3], 121 * 2.0);
  EXPECT_EQ(close[4], 242);
  EXPECT_EQ(table.column("volume").numbers()[0], 1);  // volume is not adjusted
  EXPECT_EQ(table.column("ticker").texts()[0], "X");

  // The same series cut to hold only the later roll adjusts only for it.
  const auto later = intraday(at(2024y / March / 1, 9h, 3min), at(2024y / March / 1, 23h));
  EXPECT_DOUBLE_EQ(later.column("close").numbers()[0], 121 * 2.0);
}

TEST_F(History, DailyModeReturnsTheWholeFileWithMissingCells) {
  write("K_1D", "ABC", "ohlcv.csv",
        "time_key,open,high,low,close,volume,ticker\n"
        "2024-03-02,1,1,1,1,,X\n"
        "2024-03-01 00:00:00,2,2,2,2,5,X\n");
  const auto t = zc::_get_data(abc, at(2030y / January / 1, 0h), at(2030y / January / 1, 0h),
                               "kline", std::nullopt, {{"interval", "1day"}});
  EXPECT_EQ(times(t), (std::vector<std::string>{"2024-03-02 00:00:00", "2024-03-01 00:00:00"}));
  EXPECT_TRUE(t.column("volume").missing(0));
}

TEST_F(History, DailyRollWithAMissingOrZeroCloseFailsNamingBothRows) {
  write("K_1D", "ABC", "ohlcv.csv",
        "time_key,open,high,low,close,volume,ticker\n"
        "2024-03-01,1,1,1,,5,X\n"
        "2024-03-02,2,2,2,2,5,Y\n");
  const auto message = error_of<zf::ValueError>([&] {
    zc::_get_data(abc, {}, {}, "kline", std::nullopt, {{"interval", "1day"}});
  });
  EXPECT_NE(message.find("2024-03-01 00:00:00 (X)"), std::string::npos) << message;
  EXPECT_NE(message.find("2024-03-02 00:00:00 (Y)"), std::string::npos) << message;
}

TEST_F(History, MalformedFilesAreErrorsNamingFileLineAndColumn) {
  const auto day = [&](const std::string& text) {
    std::filesystem::remove_all(root_ / "kline");
    const auto path = write("K_1M", "ABC", "2024-03-01.csv", text);
    return std::make_pair(path.string(), [this] {
      return intraday(at(2024y / March / 1, 0h), at(2024y / March / 1, 23h));
    });
  };
  {
    auto [path, load] = day(std::string(kHeader) + "2024-03-01 09:00:00,1,1,1,abc,1\n");
    EXPECT_EQ(error_of<zf::ValueError>(load),
              path + ", line 2, column 'close': 'abc' is not a number");
  }
  {
    auto [path, load] = day(std::string(kHeader) + "2024-03-01 09:00:00,1,1,1,1,1,9\n");
    EXPECT_EQ(error_of<zf::ValueError>(load), path + ", line 2: 7 fields, the header has 6");
  }
  {
    auto [path, load] = day("a,b\n1,2\n");
    EXPECT_NE(error_of<zf::ValueError>(load).find(path), std::string::npos);
  }
  {
    // A short row is dropped; quoting, CRLF and a missing final newline are read.
    auto [path, load] =
        day("time_key,open,high,low,close,volume,note\r\n"
            "2024-03-01 09:00:00,1,1,1,1\r\n"
            "2024-03-01 09:01:00,2,2,2,2,3,\"a, \"\"b\"\"\nc\"\r\n"
            "2024-03-01 09:02:00,4,4,4,4,5,d");
    const auto t = load();
    EXPECT_EQ(times(t), (std::vector<std::string>{"2024-03-01 09:01:00", "2024-03-01 09:02:00"}));
    EXPECT_EQ(t.column("note").texts()[0], "a, \"b\"\nc");
  }
}

TEST_F(History, OtherColumnsAreNumbersOnlyWhenEveryFileAgrees) {
  write("K_1M", "ABC", "2024-03-01.csv",
        "time_key,open,high,low,close,volume,ticker,num_trds\n"
        "2024-03-01 09:00:00,1,1,1,1,1,2403,7\n");
  write("K_1M", "ABC", "2024-03-02.csv",
        "time_key,open,high,low,close,volume,ticker,num_trds\n"
        "2024-03-02 09:00:00,1,1,1,1,1,2403,n/a\n");
  const auto t = intraday(at(2024y / March / 1, 0h), at(2024y / March / 2, 23h));
  EXPECT_EQ(t.column("ticker").kind(), zf::ColumnKind::Text);
  EXPECT_EQ(t.column("num_trds").kind(), zf::ColumnKind::Text);
  EXPECT_EQ(t.column("num_trds").texts()[0], "7");
}

TEST_F(History, NumbersReadBackExactlyAsTheirShortestText) {
  // Plain decimals take a fast path; every value must equal the standard parse.
  std::string file = kHeader;
  std::vector<double> expected;
  std::uint64_t state = 12345;
  for (int i = 0; i < 2000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double v = static_cast<double>(state >> 11) / static_cast<double>(1ULL << (i % 60));
    char text[64];
    std::snprintf(text, sizeof text, i % 3 == 0 ? "%.17g" : (i % 3 == 1 ? "%.2f" : "%.9f"), v);
    double parsed;
    std::from_chars(text, text + std::strlen(text), parsed);
    expected.push_back(parsed);
    file += "2024-03-01 09:00:00," + std::string(text) + ",1,1,1,1\n";
  }
  write("K_1M", "ABC", "2024-03-01.csv", file);
  const auto t = intraday(at(2024y / March / 1, 0h), at(2024y / March / 1, 23h));
  const auto open = t.column("open").numbers();
  ASSERT_EQ(open.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(open[i], expected[i]) << i;
}
