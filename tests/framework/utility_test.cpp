#include "zantrix/framework/utility.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

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
  EXPECT_EQ(zf::safe_call(
                "add", [](int a, int b) { return a + b; }, 2, 3),
            5);

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

// Numbers read back to the same value with the fewest digits, in fixed form
// for decimal exponents in [-4, 16); short decimals take their own path.
TEST(NumberText, ShortestRoundTripInFixedOrExponentForm) {
  const std::pair<double, const char*> known[] = {
      {100000.0, "100000.0"},
      {0.1, "0.1"},
      {1e-05, "1e-05"},
      {0.0001, "0.0001"},
      {1e16, "1e+16"},
      {123456789012345.6, "123456789012345.6"},
      {100.06, "100.06"},
      {-0.5, "-0.5"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {1451.0, "1451.0"},
      {0.00012345, "0.00012345"},
      {2.5e15, "2500000000000000.0"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"}};
  for (const auto& [value, text] : known) EXPECT_EQ(zf::format_number(value), text) << text;

  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    // Half prices of a few decimals, half any bits.
    double value;
    if (i % 2 == 0) {
      value = static_cast<double>(static_cast<std::int64_t>(rng() % 100000000) - 50000000) /
              std::pow(10.0, static_cast<int>(rng() % 9));
    } else {
      const std::uint64_t bits = rng();
      std::memcpy(&value, &bits, sizeof value);
      if (!std::isfinite(value)) continue;
    }
    const std::string text = zf::format_number(value);
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(back, value) << text;
    char shortest[40];
    const auto end =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific)
            .ptr;
    const auto significant = [](std::string_view s) {
      s = s.substr(0, s.find('e'));
      std::string digits;
      for (const char c : s) {
        if (c >= '0' && c <= '9') digits += c;
      }
      const auto first = digits.find_first_not_of('0');
      if (first == std::string::npos) return std::string("0");
      digits = digits.substr(first);
      const auto last = digits.find_last_not_of('0');
      return digits.substr(0, last + 1);
    };
    ASSERT_EQ(significant(text), significant({shortest, static_cast<std::size_t>(end - shortest)}))
        << text;
  }
}
