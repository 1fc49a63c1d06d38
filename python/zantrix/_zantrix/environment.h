// The CQG client environment and its gateway as Python holds them.
//
// PythonRavelhost owns one Ravelhost and serialises its Init and Shutdown,
// which Python threads may call at once; its destruction (when Python
// collects it) shuts the environment down like ~Ravelhost, through the
// collecting thread's own proxy, with the interpreter lock released.
// PythonVexGate is the VexGate that Init made, with the client hold of the
// environment its Init (or VexGate.Init) names, so that each Python thread
// takes its proxy there on its first request.
#pragma once

#include <memory>
#include <mutex>

#include "zantrix/gateways/cqg/wrapper/ravelhost.h"
#include "zantrix/gateways/cqg/wrapper/vexgate.h"

namespace zantrix::python {

struct PythonVexGate {
  std::shared_ptr<gateways::cqg::VexGate> gate;
  // Read and written with the interpreter lock held.
  std::shared_ptr<gateways::cqg::ClientHold> hold;
};

class PythonRavelhost {
 public:
  PythonRavelhost();
  ~PythonRavelhost();
  PythonRavelhost(const PythonRavelhost&) = delete;
  PythonRavelhost& operator=(const PythonRavelhost&) = delete;

  gateways::cqg::Ravelhost& host() { return *host_; }
  // Starts the client with a VexGate; the interpreter lock must be released.
  std::shared_ptr<PythonVexGate> Init();
  // Shuts the environment down; the interpreter lock must be released.
  void Shutdown();
  // The VexGate Init made; null before.
  std::shared_ptr<PythonVexGate> sink() const;

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<gateways::cqg::Ravelhost> host_;
  std::shared_ptr<PythonVexGate> sink_;
};

}  // namespace zantrix::python
