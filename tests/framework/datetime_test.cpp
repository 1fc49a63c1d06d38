#include "zantrix/framework/datetime.h"

#include <gtest/gtest.h>

#include "zantrix/framework/errors.h"

namespace zf = zantrix::framework;
using namespace std::chrono;

TEST(DateTime, ParsesAndWritesTheFixedForm) {
  const auto t = zf::parse_datetime("2024-03-02 09:05:07");
  EXPECT_EQ(t, zf::make_datetime(2024y / March / 2, 9h, 5min, 7s));
  EXPECT_EQ(zf::format_datetime(t), "2024-03-02 09:05:07");
}

TEST(DateTime, FractionIsReadAtAnyPrecisionAndWrittenOnlyWhenNotZero) {
  EXPECT_EQ(zf::format_datetime(zf::parse_datetime("2024-03-02 09:05:07.5")),
            "2024-03-02 09:05:07.500000");
  EXPECT_EQ(zf::format_datetime(zf::parse_datetime("2024-03-02 09:05:07.000001")),
            "2024-03-02 09:05:07.000001");
  EXPECT_EQ(zf::format_datetime(zf::parse_datetime("2024-03-02 09:05:07.000000")),
            "2024-03-02 09:05:07");
}

TEST(DateTime, RejectsOtherFormsNamingTheText) {
  for (const char* bad : {"2024-03-02", "2024-03-02T09:05:07", "2024-3-2 09:05:07",
                          "2024-02-30 09:05:07", "2024-03-02 24:00:00", "2024-03-02 09:05:07.",
                          "2024-03-02 09:05:07.1234567", "2024-03-02 09:05:07 ", ""}) {
    try {
      zf::parse_datetime(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const zf::ValueError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos);
    }
  }
}

TEST(DateTime, DatesParseAndWrite) {
  EXPECT_EQ(zf::parse_date("2024-02-29"), 2024y / February / 29);
  EXPECT_THROW(zf::parse_date("2023-02-29"), zf::ValueError);
  EXPECT_THROW(zf::parse_date("2024-02-29 "), zf::ValueError);
  EXPECT_EQ(zf::format_date(2024y / January / 5), "2024-01-05");
  EXPECT_EQ(zf::date_of(zf::parse_datetime("2024-01-05 23:59:59")), 2024y / January / 5);
}

TEST(DateTime, LocalNowIsAValidReading) {
  const auto now = zf::local_now();
  EXPECT_EQ(zf::parse_datetime(zf::format_datetime(now)), now);
}
