// The texts in which the report writes its numbers, times and durations.
// NaN is written "n/a" everywhere.
#pragma once

#include <string>

#include "zantrix/framework/datetime.h"

namespace zantrix::plugins::analysis::report {

// 1234.5 with 2 digits: "1234.50".
std::string fixed(double v, int digits);
// 0.0123 with 2 digits: "1.23%".
std::string percent(double v, int digits = 2);
// Grouped thousands and a true minus sign for the page: "−1,234.50".
std::string money(double v);
// A signed percentage for the page: "+1.23%", "−0.50%".
std::string signed_percent(double v, int digits = 2);
// "2024-03-18" at midnight, else "2024-03-18 10:30" (with seconds when set).
std::string time_text(framework::DateTime t);
// Minutes as a person reads a span: "45 min", "2 h 08 min", "3 d 4 h", "41 d".
std::string duration_text(double minutes);

}  // namespace zantrix::plugins::analysis::report
