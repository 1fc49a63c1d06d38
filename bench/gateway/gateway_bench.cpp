// The CQG gateway against the simulated client library.
//
//   bench_gateway [QUOTES] [ORDERS]
//
// Prints
//   quotes_stream <notifications> <seconds> <per second> <peer per second> <ratio>
//     quote notifications raised by the simulator's market model on the
//     client's thread, through VexGate.OnInstrumentChanged into
//     process_quote; the peer is the same stream delivered to a sink that
//     does nothing, so the ratio is what the gateway's handling costs;
//   quotes_posted <notifications> <seconds> <per second>
//     the same, each notification sent from another thread as its own
//     message, as a client raising quotes one by one does;
//   place_order <orders> <median us> <p99 us> <call median us> <ratio>
//     place_order round trips (request to returned GUID) of resting limit
//     orders through the worker thread; the peer is one plain call through
//     the proxy, so the ratio is how many such calls a placement costs.
// Call and event recording is off; the gateway's own trace lines go to a
// null stream.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/framework/base_gateway.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"

namespace {

namespace cqgsim = platform::cqgsim;
namespace zf = zantrix::framework;
namespace zc = zantrix::gateways::cqg;
namespace cel = zantrix::framework::cqg;
using Clock = std::chrono::steady_clock;

const zantrix::core::Futures EP{"EPZ4", "E-mini S&P 500 Dec 2024", {.exchange = zf::Exchange::CME}};

// Counts quotes; keeps nothing, so the stream measures the gateway.
class CountingGateway final : public zf::BaseGateway {
 public:
  CountingGateway() { cqg_quotes.open(EP); }
  void process_quote(const zantrix::core::Quote&) override {
    quotes.fetch_add(1, std::memory_order_relaxed);
  }
  void process_orderbook(const zantrix::core::OrderBook&) override {}
  void process_order(const zf::OrderUpdate&) override {}
  void process_deal(const zf::DealUpdate&) override {}
  std::optional<zantrix::core::Security> get_zx_security_from_cqg_symbol(
      const std::string& symbol) const override {
    if (symbol == "EPZ4") return EP;
    return std::nullopt;
  }
  std::string get_cqg_symbol_from_zx_security(const zantrix::core::Security&) const override {
    return "EPZ4";
  }

  std::atomic<long> quotes{0};
};

class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[index];
}

// Seconds the market model takes to raise `steps` subscribed quote
// notifications, with the environment's application sink `Sink`.
template <class Sink>
double stream_seconds(long steps, const std::shared_ptr<cqgsim::Simulator>& simulator) {
  zc::Ravelhost host;
  const auto sink = host.Init<Sink>();
  CountingGateway gateway;
  gateway.ravelhost = &host;
  if constexpr (std::is_same_v<Sink, zc::VexGate>) sink->Init(gateway);
  host.cqgCEL->NewInstrument("EPZ4");
  simulator->Sync();
  host.cqgCEL->Instruments()->Item("F.US.EPZ4")->put_DataSubscriptionLevel(cel::dsQuotesAndBBA);
  // Both sides known first, so that every quote of the stream is published.
  simulator->SetQuotes("EPZ4", {{cel::qtBid, 5000, 1}, {cel::qtAsk, 5000.25, 1}});
  simulator->Sync();
  gateway.quotes = 0;
  const auto start = Clock::now();
  simulator->RunMarket("EPZ4", steps);
  simulator->Sync();
  const double seconds = seconds_since(start);
  if constexpr (std::is_same_v<Sink, zc::VexGate>) {
    if (gateway.quotes.load() != steps) {
      std::fprintf(stderr, "expected %ld quotes, got %ld\n", steps, gateway.quotes.load());
      std::exit(1);
    }
  }
  host.Shutdown();
  return seconds;
}

std::shared_ptr<cqgsim::Simulator> fresh_simulator() {
  auto simulator = cqgsim::Register();
  simulator->Record(false);
  simulator->DefineInstrument({.fullName = "F.US.EPZ4", .bid = 5000, .ask = 5000.25});
  simulator->AddAccount({.id = 101,
                         .name = "Bench",
                         .summary = {.balance = {1e6},
                                     .collaterals = {0, 0},
                                     .nlv = {1e6},
                                     .upl = {0},
                                     .profitLoss = {0},
                                     .maintenanceMargin = {0, 0}}});
  return simulator;
}

void bench_stream(long steps) {
  // Best of three for each, taking turns so that both meet the same load.
  double gateway_best = 1e9;
  double peer_best = 1e9;
  for (int round = 0; round < 3; ++round) {
    gateway_best = std::min(gateway_best, stream_seconds<zc::VexGate>(steps, fresh_simulator()));
    peer_best = std::min(peer_best, stream_seconds<zc::CELSinkBase>(steps, fresh_simulator()));
  }
  const double rate = static_cast<double>(steps) / gateway_best;
  const double peer = static_cast<double>(steps) / peer_best;
  std::printf("quotes_stream %ld %.4f %.0f %.0f %.2f\n", steps, gateway_best, rate, peer,
              peer / rate);
}

void bench_posted(long count) {
  const auto simulator = fresh_simulator();
  zc::Ravelhost host;
  const auto vex = host.Init<zc::VexGate>();
  CountingGateway gateway;
  gateway.ravelhost = &host;
  vex->Init(gateway);
  vex->subscribe_quote("EPZ4");
  const auto start = Clock::now();
  for (long i = 0; i < count; ++i) {
    const double price = 5000 + 0.25 * static_cast<double>(i % 8);
    simulator->SetQuotes("EPZ4", {{i % 2 == 0 ? cel::qtBid : cel::qtAsk, price, 1}});
  }
  simulator->Sync();
  const double seconds = seconds_since(start);
  host.Shutdown();
  std::printf("quotes_posted %ld %.4f %.0f\n", count, seconds,
              static_cast<double>(count) / seconds);
}

void bench_orders(long count) {
  const auto simulator = fresh_simulator();
  zc::Ravelhost host;
  const auto vex = host.Init<zc::VexGate>();
  CountingGateway gateway;
  gateway.ravelhost = &host;
  vex->Init(gateway);
  vex->account_reload_pause = std::chrono::seconds{0};
  vex->Logon("bench", "bench");
  vex->subscribe_account_and_positions(101);
  vex->subscribe_quote("EPZ4");

  std::vector<double> calls;
  for (long i = 0; i < count; ++i) {
    const auto start = Clock::now();
    host.cqgCEL->AccountSubscriptionLevel();
    calls.push_back(seconds_since(start) * 1e6);
  }
  std::vector<double> round_trips;
  const zf::Order order{
      .security = EP, .price = 4000, .quantity = 1, .order_type = zf::OrderType::LIMIT};
  for (long i = 0; i < count; ++i) {
    const auto start = Clock::now();
    vex->place_order(order);
    round_trips.push_back(seconds_since(start) * 1e6);
  }
  host.Shutdown();
  const double median = percentile(round_trips, 0.5);
  const double call = percentile(calls, 0.5);
  std::printf("place_order %ld %.1f %.1f %.1f %.1f\n", count, median, percentile(round_trips, 0.99),
              call, median / call);
}

}  // namespace

int main(int argc, char** argv) {
  const long quotes = argc > 1 ? std::atol(argv[1]) : 1'000'000;
  const long orders = argc > 2 ? std::atol(argv[2]) : 2'000;
  NullBuffer null;
  std::ostream quiet(&null);
  auto* const console =
      std::getenv("BENCH_VERBOSE") ? std::cout.rdbuf() : std::cout.rdbuf(quiet.rdbuf());
  // The requests of every environment below come from this thread.
  const platform::com::ComInitialization com;
  bench_stream(quotes);
  bench_posted(quotes / 5);
  bench_orders(orders);
  std::cout.rdbuf(console);
  cqgsim::Unregister();
  return 0;
}
