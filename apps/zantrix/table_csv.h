// A table written as comma-separated text: a header row, then one line per
// row; date-times as "%Y-%m-%d %H:%M:%S" (with ".ffffff" when the fraction is
// not zero), numbers in their shortest round-trip form (332.0, 0.1, 1e+20),
// missing cells empty, texts quoted when they hold a comma, a quote or a line
// break.
#pragma once

#include <string>

#include "zantrix/framework/table.h"

namespace zantrix::app {

std::string table_to_csv(const framework::Table& table);

}  // namespace zantrix::app
