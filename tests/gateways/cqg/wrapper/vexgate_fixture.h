// VexGateTest: a started client environment over the simulated client
// library, with VexGate as its sink, wired to a RecordingGateway that trades
// three futures, and the simulator's market and accounts set up. Standard
// output is captured; TakeOutput returns what was printed since the last
// call, as lines.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/cqgsim/simulator.h"
#include "zantrix/core/security.h"
#include "zantrix/framework/cqg/constants.h"
#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"
#include "zantrix/gateways/recording_gateway.h"

namespace zantrix::gateways::cqg::test {

namespace cqgsim = platform::cqgsim;
using namespace std::chrono_literals;

// One line of standard output: a Trace line carries the id of the thread
// that wrote it; a plain line has none (thread 0).
struct Line {
  long thread;
  std::string text;

  friend bool operator==(const Line&, const Line&) = default;
  friend void PrintTo(const Line& line, std::ostream* os) {
    *os << line.thread << ": " << line.text;
  }
};

inline std::vector<Line> ParseLines(const std::string& output) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    auto end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string raw = output.substr(start, end - start);
    start = end + 1;
    const auto colon = raw.find(": ");
    const bool traced = colon != std::string::npos && colon > 0 &&
                        std::all_of(raw.begin(), raw.begin() + static_cast<long>(colon),
                                    [](unsigned char c) { return std::isdigit(c); });
    if (traced) {
      lines.push_back({std::stol(raw.substr(0, colon)), raw.substr(colon + 2)});
    } else {
      lines.push_back({0, raw});
    }
  }
  return lines;
}

inline std::vector<std::string> TextsOf(const std::vector<Line>& lines) {
  std::vector<std::string> texts;
  for (const auto& line : lines) texts.push_back(line.text);
  return texts;
}

// The texts one thread wrote, in order: the two threads' lines interleave
// as they happen to.
inline std::vector<std::string> TextsOn(const std::vector<Line>& lines, long thread) {
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    if (line.thread == thread) texts.push_back(line.text);
  }
  return texts;
}

// Runs `request` and expects it to raise an E whose text is `text`.
template <class E, class F>
void ExpectError(F&& request, const std::string& text) {
  try {
    request();
    ADD_FAILURE() << "nothing raised; expected: " << text;
  } catch (const E& error) {
    EXPECT_EQ(std::string(error.what()), text);
  }
}

inline bool HasText(const std::vector<Line>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const Line& l) { return l.text == text; });
}

inline const core::Futures EP{
    "EPZ4", "E-mini S&P 500 Dec 2024", {.exchange = framework::Exchange::CME}};
inline const core::Futures ES{
    "ESZ4", "E-mini S&P 500 Dec 2024 (ES)", {.exchange = framework::Exchange::CME}};
inline const core::Futures MES{
    "MESZ4", "Micro E-mini S&P 500 Dec 2024", {.exchange = framework::Exchange::CME}};
inline const core::Futures EPU{
    "EPU23", "E-mini S&P 500 Sep 2023", {.exchange = framework::Exchange::CME}};

class VexGateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simulator = cqgsim::Register();
    simulator->DefineInstrument({.fullName = "F.US.EPZ4", .bid = 5000, .ask = 5000.25});
    simulator->DefineInstrument({.fullName = "F.US.MESZ4", .bid = 5000, .ask = 5000.25});
    simulator->DefineInstrument({.fullName = "F.US.ESZ4", .bid = 5000, .ask = 5000.25});
    simulator->DefineInstrument({.fullName = "F.US.EPU23"});
    simulator->DefineInstrument({.fullName = "F.US.ZNZ4"});
    testing::internal::CaptureStdout();
    host = std::make_unique<Ravelhost>();
    vex = host->Init<VexGate>();
    gateway = std::make_unique<RecordingGateway>(std::vector<RecordingGateway::Symbol>{
        {"EPZ4", EP}, {"ESZ4", ES}, {"MESZ4", MES}, {"EPU23", EPU}});
    gateway->ravelhost = host.get();
    vex->Init(*gateway);
    vex->account_reload_pause = 0s;
    simulator->Act([this](cqgsim::Venue&) {
      worker = ::gettid();
      workerId = std::this_thread::get_id();
    });
    simulator->Sync();
    TakeOutput();
  }

  void TearDown() override {
    if (host) host->Shutdown();
    Uncapture();
    cqgsim::Unregister();
  }

  // Lines printed since the last call; everything raised before it has been
  // delivered.
  std::vector<Line> TakeOutput() {
    simulator->Sync();
    auto lines = ParseLines(Uncapture());
    testing::internal::CaptureStdout();
    return lines;
  }

  // Ends the capture. A failure's report went to the capture too: once the
  // test has failed, what was captured is shown.
  std::string Uncapture() {
    std::string captured = testing::internal::GetCapturedStdout();
    if (HasFailure()) std::cerr << captured;
    return captured;
  }

  // Calls of `member` recorded so far.
  std::vector<cqgsim::CallRecord> CallsOf(const std::string& member) const {
    std::vector<cqgsim::CallRecord> found;
    for (const auto& call : simulator->Calls()) {
      if (call.member == member) found.push_back(call);
    }
    return found;
  }

  // Members called, in order, from the `from`th recorded call on.
  std::vector<std::string> MembersSince(std::size_t from) const {
    const auto calls = simulator->Calls();
    std::vector<std::string> members;
    for (auto i = from; i < calls.size(); ++i) members.push_back(calls[i].member);
    return members;
  }

  // Log-on and account 101 selected, with its summary.
  void LogOnWithAccount() {
    simulator->AddAccount({.id = 101,
                           .name = "Desk A",
                           .summary = {.balance = {1000},
                                       .collaterals = {0, 250},
                                       .nlv = {1200},
                                       .upl = {30},
                                       .profitLoss = {-20},
                                       .maintenanceMargin = {0, 400}}});
    vex->Logon("trader", "secret");
    vex->subscribe_account_and_positions(101);
    TakeOutput();
  }

  // The caller's thread initialises COM itself, as the environment expects.
  platform::com::ComInitialization com;
  std::shared_ptr<cqgsim::Simulator> simulator;
  std::unique_ptr<Ravelhost> host;
  std::shared_ptr<VexGate> vex;
  std::unique_ptr<RecordingGateway> gateway;
  long worker = 0;
  std::thread::id workerId;
};

}  // namespace zantrix::gateways::cqg::test
