#include "zantrix/core/data/iterator.h"

#include <gtest/gtest.h>

#include <cmath>

#include "zantrix/framework/errors.h"

namespace zc = zantrix::core;
namespace zf = zantrix::framework;
using namespace std::chrono;

namespace {

zf::Table bars(const std::string& time_name = "time_key") {
  const auto t0 = zf::make_datetime(2024y / March / 1, 9h);
  return zf::Table({zf::Column(time_name, std::vector<zf::DateTime>{t0, t0 + 1min}),
                    zf::Column("open", std::vector<double>{1, 2}),
                    zf::Column("high", std::vector<double>{3, 4}),
                    zf::Column("low", std::vector<double>{0.5, NAN}),
                    zf::Column("close", std::vector<double>{2, 3}),
                    zf::Column("volume", std::vector<double>{10, 20})});
}

}  // namespace

TEST(DataIterator, ReplaysRowsAsRecordsWithDefaultsKept) {
  const zc::Futures hsi("HSImain", "HSI");
  std::vector<zc::Bar> out;
  for (const auto& record : zc::_get_data_iterator(hsi, bars(), "Bar")) {
    out.push_back(std::get<zc::Bar>(record));
  }
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].datetime, zf::make_datetime(2024y / March / 1, 9h));
  EXPECT_EQ(out[0].security, hsi);
  EXPECT_EQ(out[0].security.kind(), zc::SecurityKind::Futures);
  EXPECT_EQ(out[1].close, 3);
  EXPECT_TRUE(std::isnan(out[1].low));
  EXPECT_EQ(out[0].num_trds, 0);
  EXPECT_EQ(out[0].ticker, "");
}

TEST(DataIterator, ChecksComeAtTheFirstRequestInOrder) {
  const zc::Stock s("A", "a");
  auto unknown = zc::_get_data_iterator(s, bars("date"), "Tick");
  EXPECT_THROW(unknown.next(), zf::KeyError);

  auto no_time = zc::_get_data_iterator(s, bars("date"), "Bar");  // nothing checked yet
  try {
    no_time.next();
    ADD_FAILURE();
  } catch (const zf::AssertionError& e) {
    EXPECT_STREQ(e.what(),
                 "The first column in `full_data` must be a `*time*` column, but date was given.");
  }

  auto empty = zc::_get_data_iterator(s, bars().take(std::vector<std::size_t>{}), "Bar");
  EXPECT_FALSE(empty.next().has_value());

  zf::Table extra = bars("Time");
  extra.add_column(zf::Column("foo", std::vector<double>{1, 2}));
  auto bad_column = zc::_get_data_iterator(s, extra, "Bar");
  EXPECT_THROW(bad_column.next(), zf::TypeError);
}

TEST(DataIterator, SharesTheTableItReplays) {
  auto table = std::make_shared<const zf::Table>(bars());
  auto it = zc::_get_data_iterator(zc::Stock("A", "a"), table, "Bar");
  table.reset();
  EXPECT_TRUE(it.next().has_value());
  EXPECT_TRUE(it.next().has_value());
  EXPECT_FALSE(it.next().has_value());
}
