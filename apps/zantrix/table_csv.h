// A table written as comma-separated text: a header row, then one line per
// row; date-times as "%Y-%m-%d %H:%M:%S" (with ".ffffff" when the fraction is
// not zero), numbers in their shortest round-trip form (332.0, 0.1, 1e+20),
// missing cells empty, texts quoted when they hold a comma, a quote or a line
// break.
//
// The text is made in one reused buffer and handed on in blocks of about a
// mebibyte, so a table of any size is written without holding its whole text.
#pragma once

#include <functional>
#include <string_view>

#include "zantrix/framework/table.h"

namespace zantrix::app {

// Hands the text to `emit`, block by block, in order.
void write_table_csv(const framework::Table& table,
                     const std::function<void(std::string_view)>& emit);

// Writes the text to the file descriptor, a block per write; a
// std::runtime_error naming the failure when a write fails.
void write_table_csv(const framework::Table& table, int fd);

}  // namespace zantrix::app
