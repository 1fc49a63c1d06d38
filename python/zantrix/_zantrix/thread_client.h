// The calling thread's standing with the CQG side, so that no Python code
// deals with COM: COM is initialised for a thread on its first call into the
// CQG side, and a proxy of an environment's client is taken on the thread's
// first call into that environment (the environment marshals it, see
// ThreadProxy in ravelhost.h). Both are released when the thread ends, the
// proxies first. The thread that called an environment's Init holds that
// environment's proxy already.
//
// Every function here may wait for the environment's worker, which may itself
// wait for the interpreter lock to run a callback: call them with the lock
// released.
#pragma once

#include <memory>

#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

namespace zantrix::python {

// COM on the calling thread, from now until the thread ends.
void enter_com();
// COM and a proxy of the client of `hold`'s environment on the calling
// thread. Nothing is taken for a null or closed hold: the request that
// follows reports it in its own terms.
void enter_environment(const std::shared_ptr<gateways::cqg::ClientHold>& hold);
// Records that the calling thread took `hold`'s proxy in Init.
void entered_by_init(const std::shared_ptr<gateways::cqg::ClientHold>& hold);

}  // namespace zantrix::python
