// VexGate: construction, wiring, the connection and its events, and the
// guards every part relies on.
#include "zantrix/gateways/cqg/wrapper/vexgate.h"

#include <iostream>
#include <stdexcept>
#include <utility>

#include "zantrix/framework/errors.h"
#include "zantrix/gateways/cqg/wrapper/vexgate_detail.h"

namespace zantrix::gateways::cqg {

std::mutex lock;

void detail::print_line(std::string line) {
  line += '\n';
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout.flush();
}

VexGate::VexGate() : worker_(std::this_thread::get_id()) {}

void VexGate::Init(framework::BaseGateway& gateway) {
  if (gateway.ravelhost == nullptr) {
    throw std::runtime_error("VexGate.Init: the gateway has no CQG environment (ravelhost)");
  }
  client_hold_.store(gateway.ravelhost->clientHold());
  gateway_hold_.store(gateway.hold());
}

void VexGate::refuse_on_worker(std::string_view request) const {
  if (std::this_thread::get_id() == worker_) {
    throw std::runtime_error(std::string(request) +
                             " can not run on the CQG worker thread: only that thread can "
                             "deliver what it waits for");
  }
}

void VexGate::refuse_proxy_on_worker(std::string_view request) const {
  if (std::this_thread::get_id() == worker_) {
    throw std::runtime_error(std::string(request) +
                             " can not run on the CQG worker thread: the client serves its proxy "
                             "only to the engine's threads; post the request to the engine's own "
                             "thread");
  }
}

std::shared_ptr<cel::CQGCEL> VexGate::client() const {
  const auto hold = client_hold_.load();
  if (hold && hold->closed()) {
    throw std::runtime_error(
        "VexGate can not reach CQG: its client environment has been shut down");
  }
  auto found = hold ? hold->client() : nullptr;
  if (!found) {
    throw std::runtime_error("VexGate has no CQG client: Init it with a started environment");
  }
  return found;
}

VexGate::GatewayGuard VexGate::hold_gateway() const {
  return GatewayGuard(gateway_hold_.load());
}

framework::BaseGateway& VexGate::the_gateway(const GatewayGuard& guard) {
  if (guard.get() == nullptr) {
    throw std::runtime_error(
        "VexGate has no gateway: call Init first, and keep the gateway until the environment's "
        "Shutdown");
  }
  return *guard.get();
}

std::optional<core::Security> VexGate::security_of(const std::string& cqg_symbol) const {
  const auto guard = hold_gateway();
  return the_gateway(guard).get_zx_security_from_cqg_symbol(cqg_symbol);
}

void VexGate::Logon(const std::string& user_name, const std::string& password) {
  refuse_on_worker("Logon");
  Trace("Connecting to GW");
  client()->GWLogon(user_name, password);
  Trace("Waiting for GW connection...");
  AssertMessage(eventGatewayIsUp.wait(wait_timeout), "GW connection timeout!");
}

void VexGate::Logoff() {
  refuse_on_worker("Logoff");
  Trace("Logoff from GW");
  const long id = selected_account_id();
  // Once account data is off the client no longer lists the account: the
  // name it had when it was selected stands in.
  std::string name;
  if (const auto account = get_account_from_gwaccountid(id)) {
    name = account->GWAccountName();
  } else {
    const std::lock_guard guard(records_mutex_);
    if (!account_name_) {
      throw framework::ValueError("GWAccountID " + std::to_string(id) + " can not be found!");
    }
    name = *account_name_;
  }
  eventGatewayIsDown.clear();
  client()->GWLogoff();
  AssertMessage(eventGatewayIsDown.wait(wait_timeout), "GW disconnection timeout!");
  Trace("Successfully logoff account " + name);
}

std::shared_ptr<cel::Account> VexGate::get_account_from_gwaccountid(long GWAccountID) {
  refuse_proxy_on_worker("get_account_from_gwaccountid");
  const auto accounts = detail::returned(client()->Accounts(), "CQGCEL.Accounts");
  const long count = accounts->Count();
  for (long i = 0; i < count; ++i) {
    auto account = accounts->ItemByIndex(i);
    if (!account) continue;
    const long id = account->GWAccountID();
    const std::string name = account->GWAccountName();
    Trace("GW Account id: " + std::to_string(id) + " name: " + name);
    if (id == GWAccountID) {
      Trace("[Found] GW Account id: " + std::to_string(id) + " name: " + name);
      return account;
    }
  }
  return nullptr;
}

std::shared_ptr<cel::Account> VexGate::require_account(long GWAccountID) {
  auto account = get_account_from_gwaccountid(GWAccountID);
  if (!account) {
    throw framework::ValueError("GWAccountID " + std::to_string(GWAccountID) +
                                " can not be found!");
  }
  return account;
}

long VexGate::selected_account_id() const {
  const auto id = GWAccountID();
  if (!id) {
    throw std::runtime_error(
        "No GW account is selected: call subscribe_account_and_positions first");
  }
  return *id;
}

std::optional<long> VexGate::GWAccountID() const {
  const std::lock_guard guard(records_mutex_);
  return account_id_;
}

// "Up" hands on what the engine's orders did while the connection was away
// (reconcile_orders), then releases Logon; "down" releases Logoff and ends
// the "up" that a later Logon would otherwise take for a connection that is
// gone.
void VexGate::OnGWConnectionStatusChanged(cel::eConnectionStatus connectionStatus) {
  if (connectionStatus == cel::csConnectionUp) {
    Trace("GW connection is UP!");
    reconcile_orders();
    eventGatewayIsUp.set();
  } else if (connectionStatus == cel::csConnectionDown) {
    Trace("GW connection is DOWN!");
    eventGatewayIsUp.clear();
    eventGatewayIsDown.set();
  }
}

void VexGate::OnDataConnectionStatusChanged(cel::eConnectionStatus newStatus) {
  detail::print_line("DataConnectionStatus=" + std::to_string(static_cast<long>(newStatus)));
}

void VexGate::OnDataError(std::shared_ptr<cel::Error> cqgError,
                          const std::string& /*errorDescription*/) {
  if (!cqgError) return;
  Trace("OnDataError: Code: " + std::to_string(cqgError->Code()) +
        " Description: " + cqgError->Description());
}

}  // namespace zantrix::gateways::cqg
