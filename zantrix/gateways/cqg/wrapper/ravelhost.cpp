#include "zantrix/gateways/cqg/wrapper/ravelhost.h"

#include <pthread.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>
#include <utility>

#include "platform/com/apartment.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/com/error.h"
#include "platform/com/message_queue.h"
#include "platform/com/registry.h"
#include "platform/com/stream.h"
#include "zantrix/framework/cqg/type_library.h"

namespace zantrix::gateways::cqg {

using platform::com::CoGetInterfaceAndReleaseStream;
using platform::com::CoInitialize;
using platform::com::CoMarshalInterThreadInterfaceInStream;
using platform::com::ComError;
using platform::com::CoUninitialize;
using platform::com::CreateEvent;
using platform::com::CreateObject;
using platform::com::Dispatch;
using platform::com::FAILED;
using platform::com::FALSE;
using platform::com::HANDLE;
using platform::com::IID_IDispatch;
using platform::com::INFINITE;
using platform::com::IStream;
using platform::com::LoadRegTypeLib;
using platform::com::MsgWaitForMultipleObjects;
using platform::com::PumpWaitingMessages;
using platform::com::QS_ALLEVENTS;
using platform::com::SetEvent;
using platform::com::WAIT_OBJECT_0;

namespace {

std::string describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

// Attaches `sink` to the client's events. A handler's error is traced and
// stays with that handler: the other sinks still receive the event, and the
// events after it are delivered as usual.
void subscribe(cel::CQGCEL& client, std::shared_ptr<CELSinkBase> sink) {
  client.FindConnectionPoint().Advise(
      std::move(sink), [](std::string_view event, std::exception_ptr error) {
        Trace("Exception in " + std::string(event) + ": " + describe(error));
      });
}

// Asks the client to shut down. A client that can no longer be called (its
// worker gone, or already shut down) is traced rather than raised, so that the
// environment still ends.
void shutdownClient(cel::CQGCEL& client) {
  try {
    client.Shutdown();
  } catch (const std::exception& error) {
    Trace(std::string("Exception in Shutdown: ") + error.what());
  }
}

}  // namespace

// The worker keeps its own reference for its whole life, so an environment
// destroyed from a handler takes none of this with it.
struct Ravelhost::Shared {
  framework::Event eventCELStarted;
  framework::Event eventAllPrepared;
  HANDLE shutdownEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> errorHappened{false};
  const std::shared_ptr<ClientHold> clientHold = std::make_shared<ClientHold>();
  // Written by the worker before eventAllPrepared; read by the caller after it.
  std::shared_ptr<CELSinkBase> sink;
  std::shared_ptr<IStream> cqgCELStream;
  // Written once by the worker before workerHasFailed is raised.
  std::exception_ptr workerError;
  std::atomic<bool> workerHasFailed{false};
  // Raised by an environment destroyed on the worker thread: nobody else is
  // left to shut the client down, so the worker does it once its pump ends.
  // The worker thread only.
  bool abandoned = false;
};

void Trace(std::string_view message) {
  thread_local const std::string self = std::to_string(::gettid());
  std::string line = self;
  line += ": ";
  line += message;
  line += '\n';
  std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cout.flush();
}

void AssertMessage(bool condition, const std::string& message) {
  if (!condition) throw std::runtime_error(message);
}

SinkInternal::SinkInternal() {
  Trace("Internal sink ctor");
}

void SinkInternal::Init(framework::Event& eventCELStarted, Ravelhost& ravelhost) {
  Init(eventCELStarted, ravelhost.errorHappened);
}

void SinkInternal::Init(framework::Event& eventCELStarted, std::atomic<bool>& errorHappened) {
  this->eventCELStarted = &eventCELStarted;
  this->errorHappened = &errorHappened;
}

void SinkInternal::OnCELStarted() {
  Trace("SinkInternal: CELStarted!");
  AssertMessage(eventCELStarted != nullptr, "SinkInternal is not initialized");
  eventCELStarted->set();
}

void SinkInternal::OnDataError(std::shared_ptr<cel::Error> cqgError,
                               const std::string& /*errorDescription*/) {
  if (cqgError) {
    Trace("SinkInternal: OnDataError: Code: " + std::to_string(cqgError->Code()) +
          " Description: " + cqgError->Description());
  }
  AssertMessage(errorHappened != nullptr && eventCELStarted != nullptr,
                "SinkInternal is not initialized");
  // The flag first: the start-up wait reads it once the event is set.
  *errorHappened = true;
  eventCELStarted->set();
}

std::shared_ptr<cel::CQGCEL> ClientHold::client() const {
  const std::lock_guard lock(mutex_);
  if (!thread_clients_.empty()) {
    const auto own = thread_clients_.find(std::this_thread::get_id());
    if (own != thread_clients_.end()) return own->second;
  }
  return client_;
}

std::shared_ptr<cel::CQGCEL> ClientHold::worker_client() const {
  const std::lock_guard lock(mutex_);
  return worker_client_;
}

bool ClientHold::closed() const {
  const std::lock_guard lock(mutex_);
  return closed_;
}

void ClientHold::open(std::shared_ptr<cel::CQGCEL> client) {
  const std::lock_guard lock(mutex_);
  if (!closed_) client_ = std::move(client);
}

void ClientHold::open_worker(std::shared_ptr<cel::CQGCEL> client,
                             std::shared_ptr<platform::com::Apartment> apartment) {
  const std::lock_guard lock(mutex_);
  if (closed_) return;
  worker_client_ = std::move(client);
  worker_apartment_ = std::move(apartment);
}

void ClientHold::close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  client_.reset();
  worker_client_.reset();
  worker_apartment_.reset();
  thread_clients_.clear();
}

std::shared_ptr<cel::CQGCEL> ClientHold::take_proxy() {
  std::shared_ptr<cel::CQGCEL> object;
  std::shared_ptr<platform::com::Apartment> worker;
  {
    const std::lock_guard lock(mutex_);
    if (closed_ || !client_ || !worker_client_) {
      throw std::runtime_error(
          "TakeThreadProxy: the CQG client environment is not running (before Init has started "
          "it, or after Shutdown)");
    }
    if (thread_clients_.contains(std::this_thread::get_id())) {
      throw std::runtime_error("TakeThreadProxy: this thread holds a proxy of the client already");
    }
    object = worker_client_;
    worker = worker_apartment_;
  }
  if (worker->IsCurrentThread()) {
    throw std::runtime_error(
        "TakeThreadProxy can not run on the CQG worker thread: it serves the client itself");
  }
  if (!platform::com::Apartment::Current()) throw platform::com::UninitializedCallerError();
  // The stream is made on the worker, as COM makes it on the object's own
  // thread, and taken here; taking it grants this thread's apartment the
  // worker's objects.
  const auto stream =
      worker->Call([&object] { return CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object); });
  return Dispatch<cel::CQGCEL>(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch));
}

void ClientHold::add_thread_client(std::thread::id thread, std::shared_ptr<cel::CQGCEL> client) {
  const std::lock_guard lock(mutex_);
  if (!closed_) thread_clients_.insert_or_assign(thread, std::move(client));
}

void ClientHold::remove_thread_client(std::thread::id thread) {
  std::shared_ptr<cel::CQGCEL> released;
  const std::lock_guard lock(mutex_);
  const auto found = thread_clients_.find(thread);
  if (found == thread_clients_.end()) return;
  released = std::move(found->second);
  thread_clients_.erase(found);
}

ThreadProxy::ThreadProxy(const std::shared_ptr<ClientHold>& hold)
    : hold_(hold), thread_(std::this_thread::get_id()) {
  hold->add_thread_client(thread_, hold->take_proxy());
}

ThreadProxy::ThreadProxy(ThreadProxy&& other) noexcept
    : hold_(std::exchange(other.hold_, {})), thread_(other.thread_) {}

ThreadProxy::~ThreadProxy() {
  if (const auto hold = hold_.lock()) hold->remove_thread_client(thread_);
}

ThreadProxy Ravelhost::TakeThreadProxy() {
  return ThreadProxy(shared_->clientHold);
}

Ravelhost::Ravelhost()
    : shared_(std::make_shared<Shared>()),
      eventCELStarted(shared_->eventCELStarted),
      eventAllPrepared(shared_->eventAllPrepared),
      shutdownEvent(shared_->shutdownEvent),
      errorHappened(shared_->errorHappened),
      sink(shared_->sink) {
  // The early-bound description of the client library: its enumeration
  // members by name and its event interface. Checked on every construction
  // rather than once, so that a library registered or removed later is seen.
  LoadRegTypeLib(cel::LIBID_CQG, cel::LIBID_CQG_MAJOR, cel::LIBID_CQG_MINOR, cel::LIBID_CQG_LCID);
}

Ravelhost::~Ravelhost() {
  if (!initCalled || shutDown) {
    shared_->clientHold->close();
    return;
  }
  if (onWorkerThread()) {
    shared_->clientHold->close();
    // Destroyed from a handler: the worker cannot wait for its own end, and
    // the proxy serves only the caller's thread. The worker shuts the client
    // down itself once this handler has returned and its pump has ended.
    shared_->abandoned = true;
    SetEvent(shared_->shutdownEvent);
    thread.detach();
    return;
  }
  try {
    Shutdown();
  } catch (...) {
    // A destructor must not throw; Shutdown has traced what it could.
  }
}

std::shared_ptr<CELSinkBase> Ravelhost::initWithSinkType(
    SinkType sinkType, const CustomAPIConfiguration& customAPIConfiguration) {
  AssertMessage(!initCalled && !shutDown, "A Ravelhost is initialized once, before Shutdown");
  initCalled = true;
  thread = std::jthread([shared = shared_, sinkType = std::move(sinkType)] {
    threadedFunction(*shared, sinkType);
  });
  Trace("Waiting for CQGCEL creation..");
  eventAllPrepared.wait();
  rethrowWorkerFailure();
  try {
    Trace("CQGCEL is created!");
    Trace("Marshaled CQGCEL from stream");
    cqgCEL = Dispatch<cel::CQGCEL>(
        CoGetInterfaceAndReleaseStream(shared_->cqgCELStream, IID_IDispatch));
    shared_->clientHold->open(cqgCEL);
    Trace("CQGCEL is marshaled from stream!");
    apiConfigurationSet(customAPIConfiguration);
    startupCel();
  } catch (...) {
    // A call that failed because the worker has died reports why it died.
    rethrowWorkerFailure();
    throw;
  }
  if (errorHappened) Trace("Error happened during CQGCEL start up!");
  return sink;
}

void Ravelhost::threadedFunction(Shared& shared, const SinkType& sinkType) {
  pthread_setname_np(pthread_self(), "cel_threadfunc");
  // Nothing may escape a thread's body: the error goes to the waiting caller.
  std::exception_ptr failure;
  try {
    Trace("COM framework is initializing...");
    const auto initialized = CoInitialize(nullptr);
    if (FAILED(initialized)) throw ComError(initialized, "CoInitialize failed");
    Trace("COM framework is initialized!");

    Trace("CQG.CQGCEL.4 creation...");
    const auto client = Dispatch<cel::CQGCEL>(CreateObject(cel::CQGCEL_PROGID));
    shared.clientHold->open_worker(client, platform::com::Apartment::Current());
    Trace("CQG.CQGCEL.4 created!");

    Trace("Marshal CQGCEL in stream");
    shared.cqgCELStream = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, client);
    Trace("CQGCEL is marshaled in stream");

    Trace("Internal sink subscription to events");
    const auto sinkInternal = std::make_shared<SinkInternal>();
    subscribe(*client, sinkInternal);
    Trace("Internal sink subscribed");

    Trace("Sink subscription to events");
    auto applicationSink = sinkType();
    subscribe(*client, applicationSink);
    shared.sink = std::move(applicationSink);
    Trace("Sink subscribed");

    sinkInternal->Init(shared.eventCELStarted, shared.errorHappened);
    Trace("Internal sink is initialized");

    // The stream and both sinks are in place before this, so the caller can
    // miss no event of the client it is about to start.
    shared.eventAllPrepared.set();

    Trace("Starting message pumping..");
    pumpMessages(shared.shutdownEvent);

    if (shared.abandoned) {
      Trace("CQGCEL is being shut down..");
      shutdownClient(*client);
    }
    Trace("COM framework is uninitializing...");
    CoUninitialize();
    Trace("COM framework is uninitialized!");
    if (shared.abandoned) Trace("CQGCEL is shut down.");
  } catch (...) {
    failure = std::current_exception();
  }
  // Outside the handler, so that the caller owns the error once it is told.
  if (failure) workerFailed(shared, std::move(failure));
}

void Ravelhost::pumpMessages(const HANDLE& shutdownEvent) {
  const HANDLE handles[] = {shutdownEvent};
  for (;;) {
    const auto rc = MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLEVENTS);
    if (rc == WAIT_OBJECT_0) return;
    if (rc == WAIT_OBJECT_0 + 1) {
      if (PumpWaitingMessages()) return;
      continue;
    }
    throw std::runtime_error("unexpected win32wait return value");
  }
}

void Ravelhost::apiConfigurationSet(const CustomAPIConfiguration& customAPIConfiguration) {
  Trace("CQGCEL default configuring...");
  const auto configuration = cqgCEL->APIConfiguration();
  configuration->put_CollectionsThrowException(false);
  configuration->put_NewInstrumentChangeMode(true);
  configuration->put_ReadyStatusCheck(0);
  configuration->put_TimeZoneCode(cel::tzChina);
  configuration->put_IncludeOrderTransactions(true);
  configuration->put_UseOrderSide(true);
  if (customAPIConfiguration) {
    Trace("CQGCEL custom configuring...");
    customAPIConfiguration(configuration);
  }
}

void Ravelhost::startupCel() {
  Trace("Startup CQGCEL..");
  cqgCEL->Startup();
  Trace("Waiting for CQGCEL start..");
  eventCELStarted.wait();
  rethrowWorkerFailure();
  Trace("CQGCEL has started.");
}

void Ravelhost::Shutdown() {
  if (onWorkerThread()) {
    throw std::runtime_error(
        "Shutdown can not run on the CQG worker thread: it would wait for its own end");
  }
  if (shutDown) return;
  shutDown = true;
  // The proxy that serves this thread: the ThreadProxy's, or Init's.
  auto client = shared_->clientHold->client();
  if (!client) client = cqgCEL;
  // Sinks asked for a request from now on find the environment closed.
  shared_->clientHold->close();
  Trace("CQGCEL is being shut down..");
  // The client is shut down while the pump still runs, so the call can be
  // served; when the worker is already gone the call fails and the worker is
  // still joined below.
  if (client) shutdownClient(*client);
  SetEvent(shutdownEvent);
  if (thread.joinable()) thread.join();
  Trace("CQGCEL is shut down.");
}

const std::shared_ptr<ClientHold>& Ravelhost::clientHold() const {
  return shared_->clientHold;
}

void Ravelhost::SetError() {
  errorHappened = true;
}

void Ravelhost::workerFailed(Shared& shared, std::exception_ptr error) {
  Trace("Exception in cel_threadfunc: " + describe(error));
  shared.workerError = std::move(error);
  shared.workerHasFailed.store(true, std::memory_order_release);
  shared.eventAllPrepared.set();
  shared.eventCELStarted.set();
}

void Ravelhost::rethrowWorkerFailure() const {
  if (shared_->workerHasFailed.load(std::memory_order_acquire)) {
    std::rethrow_exception(shared_->workerError);
  }
}

bool Ravelhost::onWorkerThread() const {
  return thread.joinable() && std::this_thread::get_id() == thread.get_id();
}

}  // namespace zantrix::gateways::cqg
