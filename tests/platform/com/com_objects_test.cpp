// Identifiers, the registry, handing objects between threads, and connection
// points.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/connection_point.h"
#include "platform/com/dispatch.h"
#include "platform/com/guid.h"
#include "platform/com/marshal.h"
#include "platform/com/proxy_binding.h"
#include "platform/com/registry.h"
#include "platform/com/stream.h"
#include "tests/platform/pumping_thread.h"

namespace platform::com {
namespace {

class Thing : public IDispatch {};
class OtherThing : public IDispatch {};

template <class F>
HRESULT FailureOf(F&& action) {
  try {
    action();
  } catch (const ComError& error) {
    return error.hr();
  }
  return S_OK;
}

TEST(GuidTest, ReadsEitherCaseAndWritesUpperCase) {
  constexpr GUID lower = ParseGuid("{51f35562-aeb4-4ab3-99e8-ac9666344b64}");
  EXPECT_EQ(lower, ParseGuid("{51F35562-AEB4-4AB3-99E8-AC9666344B64}"));
  EXPECT_EQ(to_string(lower), "{51F35562-AEB4-4AB3-99E8-AC9666344B64}");
  EXPECT_EQ(lower.Data1, 0x51F35562u);
  EXPECT_EQ(lower.Data4[7], 0x64);
  EXPECT_EQ(to_string(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
}

TEST(GuidTest, RejectsMalformedText) {
  for (const char* text :
       {"", "51F35562-AEB4-4AB3-99E8-AC9666344B64", "{51F35562-AEB4-4AB3-99E8-AC9666344B6}",
        "{51F35562-AEB4-4AB3-99E8_AC9666344B64}", "{51F35562-AEB4-4AB3-99E8-AC9666344B6G}"}) {
    EXPECT_THROW(ParseGuid(text), std::invalid_argument) << text;
  }
}

TEST(DispatchTest, ViewsAnObjectThroughItsInterface) {
  const std::shared_ptr<IDispatch> object = std::make_shared<Thing>();
  EXPECT_EQ(Dispatch<Thing>(object), object);
  EXPECT_EQ(Dispatch<Thing>(nullptr), nullptr);
  EXPECT_EQ(FailureOf([&] { Dispatch<OtherThing>(object); }), E_NOINTERFACE);
}

TEST(StreamTest, HandsOverTheObjectOnce) {
  const ComInitialization com;
  const auto object = std::make_shared<Thing>();
  const auto stream = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object);
  std::shared_ptr<IDispatch> taken;
  std::thread([&] {
    const ComInitialization taker;
    taken = CoGetInterfaceAndReleaseStream(stream, IID_IDispatch);
  }).join();
  EXPECT_EQ(taken, object);
  EXPECT_EQ(FailureOf([&] { CoGetInterfaceAndReleaseStream(stream, IID_IDispatch); }),
            E_UNEXPECTED);
}

TEST(StreamTest, MarshalsOnlyIDispatchAndReleasesTheStreamEvenThen) {
  const ComInitialization com;
  constexpr IID other = ParseGuid("{00000000-0000-0000-C000-000000000046}");
  const auto object = std::make_shared<Thing>();
  EXPECT_EQ(FailureOf([&] { CoMarshalInterThreadInterfaceInStream(other, object); }),
            E_NOINTERFACE);
  const auto stream = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object);
  EXPECT_EQ(FailureOf([&] { CoGetInterfaceAndReleaseStream(stream, other); }), E_NOINTERFACE);
  EXPECT_EQ(FailureOf([&] { CoGetInterfaceAndReleaseStream(stream, IID_IDispatch); }),
            E_UNEXPECTED);
}

// Who may call an object of the pumping thread's apartment: its own thread,
// and a thread in an apartment that took a proxy of it out of a stream.
TEST(ApartmentRulesTest, OnlyThreadsHoldingAProxyMayCall) {
  test_support::PumpingThread owner;
  const auto object = std::make_shared<Thing>();
  const auto marshal = [&] {
    return owner.apartment()->Call(
        [&] { return CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object); });
  };
  const auto check = [&] { owner.apartment()->CheckCaller(); };
  EXPECT_EQ(FailureOf([&] { CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object); }),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(FailureOf([&] { CoGetInterfaceAndReleaseStream(marshal(), IID_IDispatch); }),
            CO_E_NOTINITIALIZED);

  const struct {
    const char* name;
    bool initialised;
    bool takesProxy;
    HRESULT expected;
  } cases[] = {
      {"no CoInitialize", false, false, CO_E_NOTINITIALIZED},
      {"an apartment without a proxy", true, false, RPC_E_WRONG_THREAD},
      {"an apartment with a proxy", true, true, S_OK},
  };
  for (const auto& c : cases) {
    std::thread([&] {
      std::optional<ComInitialization> com;
      if (c.initialised) com.emplace();
      if (c.takesProxy) CoGetInterfaceAndReleaseStream(marshal(), IID_IDispatch);
      EXPECT_EQ(FailureOf(check), c.expected) << c.name;
    }).join();
  }
  // A proxy belongs to the apartment that took it: a new apartment on the
  // same thread must take its own.
  std::thread([&] {
    {
      const ComInitialization first;
      CoGetInterfaceAndReleaseStream(marshal(), IID_IDispatch);
      EXPECT_EQ(FailureOf(check), S_OK);
    }
    const ComInitialization second;
    EXPECT_EQ(FailureOf(check), RPC_E_WRONG_THREAD);
  }).join();
  owner.apartment()->Call([&] { EXPECT_EQ(FailureOf(check), S_OK); });
}

class Tally : public IDispatch {
 public:
  virtual void Add() = 0;
};

// Lives in the apartment that made it, counts there the calls it serves, and
// supplies its own proxy.
class TallyObject final : public Tally,
                          public IMarshal,
                          public std::enable_shared_from_this<TallyObject> {
 public:
  void Add() override {
    apartment_->Call([this] { ++served_; });
  }
  std::shared_ptr<IDispatch> UnmarshalInterface(ProxyBinding taker) override;
  int served() const { return served_; }

 private:
  const std::shared_ptr<Apartment> apartment_ = Apartment::Current();
  int served_ = 0;
};

class TallyProxy final : public Tally {
 public:
  TallyProxy(std::shared_ptr<Tally> object, ProxyBinding taker)
      : object_(std::move(object)), taker_(std::move(taker)) {}
  void Add() override {
    taker_.CheckCaller();
    object_->Add();
  }

 private:
  const std::shared_ptr<Tally> object_;
  const ProxyBinding taker_;
};

std::shared_ptr<IDispatch> TallyObject::UnmarshalInterface(ProxyBinding taker) {
  return std::make_shared<TallyProxy>(shared_from_this(), std::move(taker));
}

// A proxy serves the apartment that took it and refuses every other caller
// before the call reaches the object.
TEST(ProxyTest, ServesOnlyTheApartmentThatTookIt) {
  test_support::PumpingThread owner;
  const auto object = owner.apartment()->Call([] { return std::make_shared<TallyObject>(); });
  const auto add = [](Tally& proxy) {
    try {
      proxy.Add();
    } catch (const ComError& error) {
      if (error.hr() == RPC_E_WRONG_THREAD) {
        EXPECT_STREQ(error.what(),
                     "The application called an interface that was marshalled for a different "
                     "thread.");
      }
      return error.hr();
    }
    return S_OK;
  };
  const struct {
    const char* name;
    std::function<HRESULT(Tally&)> call;
    HRESULT expected;
  } cases[] = {
      {"the taking thread", add, S_OK},
      {"the object's thread",
       [&](Tally& proxy) { return owner.apartment()->Call([&] { return add(proxy); }); },
       RPC_E_WRONG_THREAD},
      {"a third thread without CoInitialize",
       [&](Tally& proxy) {
         HRESULT failure = S_OK;
         std::thread([&] { failure = add(proxy); }).join();
         return failure;
       },
       CO_E_NOTINITIALIZED},
      {"a third thread in an apartment",
       [&](Tally& proxy) {
         HRESULT failure = S_OK;
         std::thread([&] {
           const ComInitialization com;
           failure = add(proxy);
         }).join();
         return failure;
       },
       RPC_E_WRONG_THREAD},
      {"the taking thread after its last CoUninitialize",
       [&](Tally& proxy) {
         CoUninitialize();
         return add(proxy);
       },
       RPC_E_WRONG_THREAD},
      {"the taking thread in its next apartment",
       [&](Tally& proxy) {
         CoUninitialize();
         CoInitialize(nullptr);
         return add(proxy);
       },
       RPC_E_WRONG_THREAD},
  };
  for (const auto& c : cases) {
    std::thread([&] {
      const ComInitialization taker;
      const auto stream = owner.apartment()->Call(
          [&] { return CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object); });
      const auto proxy = Dispatch<Tally>(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch));
      EXPECT_NE(proxy, object) << c.name;
      EXPECT_EQ(c.call(*proxy), c.expected) << c.name;
    }).join();
  }
  EXPECT_EQ(owner.apartment()->Call([&] { return object->served(); }), 1);
}

class RegistryTest : public ::testing::Test {
 protected:
  static constexpr std::string_view kProgId = "Test.Thing.1";
  void TearDown() override { UnregisterServer(kProgId); }
};

TEST_F(RegistryTest, CreatesObjectsOnlyOnThreadsInAnApartment) {
  RegisterServer(std::string(kProgId), [] { return std::make_shared<Thing>(); });
  EXPECT_EQ(FailureOf([] { CreateObject(kProgId); }), CO_E_NOTINITIALIZED);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_NE(Dispatch<Thing>(CreateObject(kProgId)), nullptr);
  CoUninitialize();
}

TEST_F(RegistryTest, UnknownIdentifiersAndFactoryErrors) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(FailureOf([] { CreateObject(kProgId); }), CO_E_CLASSSTRING);
  RegisterServer(std::string(kProgId),
                 []() -> std::shared_ptr<IDispatch> { throw std::logic_error("licence"); });
  EXPECT_THROW(CreateObject(kProgId), std::logic_error);
  UnregisterServer(kProgId);
  EXPECT_EQ(FailureOf([] { CreateObject(kProgId); }), CO_E_CLASSSTRING);
  CoUninitialize();
}

class Constants : public ITypeLib {
 public:
  explicit Constants(long value) : value_(value) {}
  std::optional<long> FindConstant(std::string_view name) const override {
    return name == "member" ? std::optional<long>(value_) : std::nullopt;
  }

 private:
  long value_;
};

TEST(TypeLibTest, LoadsTheNewestMinorVersionOfTheRequestedMajor) {
  constexpr GUID libid = ParseGuid("{6A3C6F0E-1111-4222-8333-944455556666}");
  try {
    LoadRegTypeLib(libid, 4, 0, 0);
    FAIL() << "an unregistered library was loaded";
  } catch (const ComError& error) {
    EXPECT_EQ(error.hr(), TYPE_E_LIBNOTREGISTERED);
    EXPECT_NE(std::string(error.what()).find(to_string(libid) + " 4.0"), std::string::npos);
  }
  RegisterTypeLib(libid, 4, 0, 0, std::make_shared<Constants>(40));
  RegisterTypeLib(libid, 4, 2, 0, std::make_shared<Constants>(42));
  RegisterTypeLib(libid, 5, 0, 0, std::make_shared<Constants>(50));
  EXPECT_EQ(LoadRegTypeLib(libid, 4, 0, 0)->FindConstant("member"), 42);
  EXPECT_EQ(LoadRegTypeLib(libid, 4, 1, 0x409)->FindConstant("member"), 42);
  EXPECT_EQ(FailureOf([&] { LoadRegTypeLib(libid, 4, 3, 0); }), TYPE_E_LIBNOTREGISTERED);
  UnRegisterTypeLib(libid, 4, 2, 0);
  EXPECT_EQ(LoadRegTypeLib(libid, 4, 0, 0)->FindConstant("member"), 40);
  UnRegisterTypeLib(libid, 4, 0, 0);
  UnRegisterTypeLib(libid, 5, 0, 0);
  EXPECT_EQ(FailureOf([&] { LoadRegTypeLib(libid, 4, 0, 0); }), TYPE_E_LIBNOTREGISTERED);
}

class Events {
 public:
  virtual ~Events() = default;
  virtual void OnTick(int value) = 0;
};

class Recorder : public Events {
 public:
  Recorder(std::vector<std::string>& log, std::string name, bool fails = false)
      : log_(log), name_(std::move(name)), fails_(fails) {}
  void OnTick(int value) override {
    log_.push_back(name_ + ":" + std::to_string(value));
    if (fails_) throw std::runtime_error(name_ + " failed");
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
  bool fails_;
};

TEST(ConnectionPointTest, DeliversToEverySinkInAttachOrder) {
  std::vector<std::string> log;
  ConnectionPoint<Events> point;
  point.Advise(std::make_shared<Recorder>(log, "first"), {});
  const DWORD second = point.Advise(std::make_shared<Recorder>(log, "second"), {});
  point.Advise(std::make_shared<Recorder>(log, "third"), {});
  point.Fire("OnTick", [](Events& sink) { sink.OnTick(1); });
  EXPECT_EQ(point.Unadvise(second), S_OK);
  EXPECT_EQ(point.Unadvise(second), CONNECT_E_NOCONNECTION);
  point.Fire("OnTick", [](Events& sink) { sink.OnTick(2); });
  EXPECT_EQ(log,
            (std::vector<std::string>{"first:1", "second:1", "third:1", "first:2", "third:2"}));
}

TEST(ConnectionPointTest, AFailingSinkIsReportedAndTheOthersStillReceive) {
  std::vector<std::string> log;
  std::vector<std::string> reports;
  ConnectionPoint<Events> point;
  point.Advise(std::make_shared<Recorder>(log, "failing", true),
               [&](std::string_view event, std::exception_ptr error) {
                 try {
                   std::rethrow_exception(error);
                 } catch (const std::exception& e) {
                   reports.push_back(std::string(event) + ": " + e.what());
                 }
               });
  point.Advise(std::make_shared<Recorder>(log, "quiet", true), {});
  point.Advise(std::make_shared<Recorder>(log, "next"),
               [](std::string_view, std::exception_ptr) { throw std::logic_error("unused"); });
  point.Fire("OnTick", [](Events& sink) { sink.OnTick(1); });
  point.Fire("OnTick", [](Events& sink) { sink.OnTick(2); });
  EXPECT_EQ(log, (std::vector<std::string>{"failing:1", "quiet:1", "next:1", "failing:2", "quiet:2",
                                           "next:2"}));
  EXPECT_EQ(reports,
            (std::vector<std::string>{"OnTick: failing failed", "OnTick: failing failed"}));
}

}  // namespace
}  // namespace platform::com
