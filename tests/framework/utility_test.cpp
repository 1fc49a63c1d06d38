#include "zantrix/framework/utility.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"

namespace zf = zantrix::framework;

TEST(KlineName, LargestWholeUnitNamesTheSeries) {
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(60), "K_1M");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(900), "K_15M");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(3600), "K_1H");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(7200), "K_2H");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(5400), "K_90M");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(86400), "K_1D");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(3 * 86400), "K_3D");
  EXPECT_EQ(zf::get_kline_dfield_from_seconds(90), "K_90S");
  EXPECT_THROW(zf::get_kline_dfield_from_seconds(0), zf::ValueError);
  EXPECT_THROW(zf::get_kline_dfield_from_seconds(-60), zf::ValueError);
}

TEST(SafeCall, ReturnsTheResultOrReportsTheErrorAndNoValue) {
  EXPECT_EQ(zf::safe_call("add", [](int a, int b) { return a + b; }, 2, 3), 5);

  testing::internal::CaptureStdout();
  const auto failed =
      zf::safe_call("unsubscribe_bar", []() -> int { throw zf::ValueError("no such bar"); });
  int ran = 0;
  zf::safe_call("void", [&] {
    ++ran;
    throw std::runtime_error("boom");
  });
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(failed.has_value());
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(out, "unsubscribe_bar: no such bar\nvoid: boom\n");
}

// A number beyond the 64-bit range is no number: reading it must never wrap
// around to a small value.
TEST(IntegerText, ReadsEveryInt64AndNothingBeyond) {
  const struct {
    std::string_view text;
    std::optional<std::int64_t> value;
  } cases[] = {
      {" +1_000 ", 1000},
      {"-0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"0009223372036854775807", INT64_MAX},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"18446744073709551617", std::nullopt},  // 2^64 + 1, which wraps to 1
      {"99999999999999999999", std::nullopt},
      {"1__0", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(zf::parse_integer_text(c.text), c.value) << c.text;
}
