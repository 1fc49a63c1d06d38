// An engine of another project built against the installed zantrix package:
// it calls into every installed library, so building it proves that each
// zantrix:: target brings its headers and links, and running it proves the
// installed libraries load and work. Prints "ok", or what went wrong.
#include <chrono>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "platform/com/guid.h"
#include "platform/cqgsim/simulator.h"
#include "platform/telegram/handlers.h"
#include "zantrix/core/data/path.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/framework/deal.h"
#include "zantrix/framework/text.h"
#include "zantrix/gateways/cqg/tollbook.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/recording_gateway.h"
#include "zantrix/plugins/analysis/metrics.h"
#include "zantrix/plugins/analysis/report/report.h"
#include "zantrix/plugins/sqlite3/db.h"
#include "zantrix/plugins/telegram/commands.h"

namespace {

int failures = 0;

void check(bool condition, const char* what) {
  if (!condition) {
    std::cout << "failed: " << what << "\n";
    ++failures;
  }
}

}  // namespace

int main() {
  namespace zf = zantrix::framework;
  namespace zc = zantrix::core;
  namespace zg = zantrix::gateways;

  // zantrix_framework
  check(zf::format_number(100000.0) == "100000.0", "format_number");

  // zantrix_security
  const zc::Futures future("HK.HSImain", "HSI");
  check(future.kind_name() == "Futures", "Security kind");

  // zantrix_framework_records
  zf::Deal deal{.security = future, .filled_quantity = 10};
  check(!zf::to_string(deal).empty(), "Deal text");

  // zantrix_data
  check(zc::interval_seconds("5min") == 300, "interval_seconds");

  // zantrix_tollbook
  const zg::cqg::Tollbook tollbook{deal};
  check(std::abs(tollbook.total_fees - 19.2) < 1e-9, "Tollbook fees");

  // zantrix_metrics
  check(zantrix::plugins::analysis::convert_time("10:29:59") == "10:00:00", "convert_time");

  // zantrix_report
  namespace report = zantrix::plugins::analysis::report;
  const auto day = [](unsigned d) { return zf::make_datetime(std::chrono::year{2024} / 1 / d); };
  const auto performance = report::analyse({.times = {day(2), day(3)}, .values = {100, 110}});
  check(std::abs(performance.total_return - 0.1) < 1e-12, "report total return");

  // zantrix_db
  check(zantrix::plugins::sqlite3::DB::_parse_sql_value(std::int64_t{3}) == "3", "DB literal");

  // zantrix_cqg_interface
  namespace cel = zantrix::framework::cqg;
  check(cel::constant("qtTrade") == cel::qtTrade, "CQG constant");

  // zantrix_ravelhost
  try {
    zg::cqg::AssertMessage(false, "asserted");
    check(false, "AssertMessage raises");
  } catch (const std::runtime_error& e) {
    check(std::string(e.what()) == "asserted", "AssertMessage message");
  }

  // zantrix_base_gateway and zantrix_recording_gateway
  zg::RecordingGateway recording({{"EPZ4", future}});
  zf::BaseGateway& gateway = recording;
  check(gateway.get_cqg_symbol_from_zx_security(future) == "EPZ4", "RecordingGateway symbol");
  check(typeid(gateway) != typeid(zf::BaseGateway), "BaseGateway type");

  // zantrix_vexgate
  check(zg::cqg::QuoteType2String(cel::qtMarker) == "Marker price", "VexGate quote type");
  check(typeid(zg::cqg::VexGate) != typeid(zg::cqg::CELSinkBase), "VexGate type");

  // zantrix_bot
  check(zantrix::plugins::telegram::parse_count("12") == 12, "parse_count");

  // platform_telegram
  check(platform::telegram::split_words("a b").size() == 2, "split_words");

  // platform_com
  check(platform::com::to_string(platform::com::IID_IDispatch) ==
            "{00020400-0000-0000-C000-000000000046}",
        "GUID text");

  // platform_cqgsim
  check(platform::cqgsim::Register() != nullptr, "simulator registered");
  platform::cqgsim::Unregister();

  if (failures != 0) return 1;
  std::cout << "ok\n";
  return 0;
}
