#include "apps/zantrix/table_csv.h"

#include <algorithm>

#include "zantrix/framework/text.h"

namespace zantrix::app {
namespace {

void put_text(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void put_cell(std::string& out, const framework::Column& column, std::size_t row) {
  if (column.missing(row)) return;
  switch (column.kind()) {
    case framework::ColumnKind::Number:
      out += framework::format_number(column.numbers()[row]);
      break;
    case framework::ColumnKind::Integer:
      out += std::to_string(column.integers()[row]);
      break;
    case framework::ColumnKind::Text:
      put_text(out, column.texts()[row]);
      break;
    case framework::ColumnKind::DateTime: {
      char buf[40];
      out.append(buf, framework::format_datetime_to(column.datetimes()[row], buf));
      break;
    }
  }
}

}  // namespace

std::string table_to_csv(const framework::Table& table) {
  std::string out;
  out.reserve(64 * (table.rows() + 1) * std::max<std::size_t>(table.columns(), 1) / 6);
  const auto& columns = table.column_list();
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) out += ',';
    put_text(out, columns[c].name());
  }
  out += '\n';
  for (std::size_t r = 0; r < table.rows(); ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) out += ',';
      put_cell(out, columns[c], r);
    }
    out += '\n';
  }
  return out;
}

}  // namespace zantrix::app
