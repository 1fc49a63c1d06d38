#include <filesystem>
#include <fstream>
#include <iostream>

#include "apps/zantrix/arguments.h"
#include "apps/zantrix/commands.h"
#include "zantrix/framework/csv_reader.h"
#include "zantrix/framework/errors.h"
#include "zantrix/framework/text.h"
#include "zantrix/plugins/analysis/report/report.h"

namespace zantrix::app {
namespace {

namespace report = plugins::analysis::report;

double number_at(const framework::CsvDocument& doc, std::size_t record, std::size_t field) {
  const auto fields = doc.record(record);
  const std::string cell = field < fields.size() ? std::string(fields[field]) : "";
  try {
    std::size_t used = 0;
    const double v = std::stod(cell, &used);
    if (used == cell.size()) return v;
  } catch (const std::exception&) {
  }
  throw framework::ValueError(doc.path().string() + ", line " + std::to_string(doc.line(record)) +
                              ": '" + cell + "' is not a number");
}

framework::DateTime time_at(const framework::CsvDocument& doc, std::size_t record) {
  const std::string_view cell = doc.record(record)[0];
  framework::DateTime t;
  if (framework::try_parse_datetime(cell, t)) return t;
  framework::Date day;
  if (framework::try_parse_date(cell, day)) return framework::make_datetime(day);
  throw framework::ValueError(doc.path().string() + ", line " + std::to_string(doc.line(record)) +
                              ": '" + std::string(cell) + "' is not a date");
}

}  // namespace

int run_metrics(std::span<const std::string> words) {
  const Arguments args(words, {"--html", "--csv", "--days", "--window"}, {});
  if (args.positional().size() != 1) throw UsageError("metrics takes one CSV file");
  const std::string path = args.positional()[0];
  const framework::CsvDocument doc = framework::CsvDocument::read(path);
  if (doc.size() < 2 || doc.record(0).size() < 2) {
    throw framework::ValueError(path + ": a header and rows of date,value[,benchmark] are needed");
  }
  const bool with_benchmark = doc.record(0).size() >= 3;
  report::PerformanceInput input;
  input.days = static_cast<int>(args.positive_integer("--days", 252));
  input.window = args.positive_integer("--window", 252);
  for (std::size_t r = 1; r < doc.size(); ++r) {
    if (doc.record(r).empty()) continue;
    input.times.push_back(time_at(doc, r));
    input.values.push_back(number_at(doc, r, 1));
    if (with_benchmark) input.benchmark.push_back(number_at(doc, r, 2));
  }
  const report::Report page{
      .title = "Performance of " + std::filesystem::path(path).filename().string(),
      .performance = report::analyse(std::move(input)),
      .facts = {},
      .trading = std::nullopt};
  std::cout << report::render_text(page);
  if (const auto html = args.option("--html")) {
    std::ofstream out(*html, std::ios::binary);
    out << report::render_html(page);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + *html);
    std::cout << "page: " << *html << "\n";
  }
  if (const auto dir = args.option("--csv")) {
    report::write_csv(page, *dir);
    std::cout << "tables: " << *dir << "\n";
  }
  return 0;
}

}  // namespace zantrix::app
