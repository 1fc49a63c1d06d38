#include "zantrix/framework/csv_reader.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/utility.h"

namespace zantrix::framework {

std::vector<std::string> read_row_from_csv(const std::filesystem::path& path, std::int64_t n) {
  if (n < 1) throw ValueError("row number must be 1 or more, got " + std::to_string(n));
  const CsvDocument doc = CsvDocument::read(path, static_cast<std::size_t>(n));
  if (doc.size() < static_cast<std::size_t>(n)) return {};
  const auto fields = doc.record(static_cast<std::size_t>(n) - 1);
  return {fields.begin(), fields.end()};
}

}  // namespace zantrix::framework
