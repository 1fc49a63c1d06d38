// Apartments: where a call is served, what it returns or raises, and that a
// call never waits for an apartment that can no longer serve it.
#include "platform/com/apartment.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/platform/pumping_thread.h"

namespace platform::com {
namespace {

using test_support::PumpingThread;

TEST(CoInitializeTest, NestsAndBalances) {
  ASSERT_EQ(Apartment::Current(), nullptr);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  const auto apartment = Apartment::Current();
  ASSERT_NE(apartment, nullptr);
  EXPECT_EQ(apartment->ThreadId(), GetCurrentThreadId());
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(Apartment::Current(), apartment);
  CoUninitialize();
  EXPECT_EQ(Apartment::Current(), apartment);
  CoUninitialize();
  EXPECT_EQ(Apartment::Current(), nullptr);
}

TEST(CoInitializeTest, RejectsAReservedArgument) {
  int reserved = 0;
  EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
  EXPECT_EQ(Apartment::Current(), nullptr);
}

TEST(CoInitializeTest, ANewApartmentServesAfterAnEndedOne) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  const auto first = Apartment::Current();
  CoUninitialize();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  int served = 0;
  Apartment::Current()->Post([&] { ++served; });
  PumpWaitingMessages();
  CoUninitialize();
  EXPECT_EQ(served, 1);
  EXPECT_THROW(first->Post([] {}), ComError);
}

TEST(ApartmentCallTest, RunsInlineOnItsOwnThread) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  // Nothing pumps here: a posted call would never come back.
  const DWORD servedOn = Apartment::Current()->Call([] { return GetCurrentThreadId(); });
  CoUninitialize();
  EXPECT_EQ(servedOn, GetCurrentThreadId());
}

TEST(ApartmentCallTest, IsServedOnTheApartmentsThreadWithItsResult) {
  PumpingThread worker;
  const DWORD servedOn = worker.apartment()->Call([] { return GetCurrentThreadId(); });
  EXPECT_EQ(servedOn, worker.id());
  EXPECT_NE(servedOn, GetCurrentThreadId());
}

TEST(ApartmentCallTest, RethrowsTheErrorRaisedByTheCall) {
  PumpingThread worker;
  try {
    worker.apartment()->Call([]() -> int { throw ComError(DISP_E_EXCEPTION, "refused"); });
    FAIL() << "the error was lost";
  } catch (const ComError& error) {
    EXPECT_EQ(error.hr(), DISP_E_EXCEPTION);
    EXPECT_STREQ(error.what(), "refused");
  }
  EXPECT_THROW(worker.apartment()->Call([] { throw std::out_of_range("range"); }),
               std::out_of_range);
}

TEST(ApartmentCallTest, CallsFromManyThreadsAreServedOneAtATimeOnOneThread) {
  PumpingThread worker;
  long counter = 0;  // touched only on the worker: no lock
  std::vector<DWORD> servers;
  {
    std::vector<std::jthread> callers;
    for (int i = 0; i < 4; ++i) {
      callers.emplace_back([&] {
        for (int j = 0; j < 100; ++j) {
          worker.apartment()->Call([&] {
            ++counter;
            servers.push_back(GetCurrentThreadId());
          });
        }
      });
    }
  }
  EXPECT_EQ(worker.apartment()->Call([&] { return counter; }), 400);
  for (const DWORD server : servers) EXPECT_EQ(server, worker.id());
}

TEST(ApartmentCallTest, AWaitingCallFailsWhenTheApartmentIsUninitialized) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  const auto apartment = Apartment::Current();
  HRESULT failure = S_OK;
  std::thread caller([&] {
    try {
      apartment->Call([] {});
    } catch (const ComError& error) {
      failure = error.hr();
    }
  });
  // Whether the call is already queued or not, it must not be served now.
  CoUninitialize();
  caller.join();
  EXPECT_EQ(failure, RPC_E_DISCONNECTED);
}

TEST(ApartmentCallTest, FailsOnceTheApartmentsThreadHasEnded) {
  std::shared_ptr<Apartment> apartment;
  std::thread([&] {
    CoInitialize(nullptr);
    apartment = Apartment::Current();
    // Ends without CoUninitialize.
  }).join();
  try {
    apartment->Call([] {});
    FAIL() << "served by a thread that has ended";
  } catch (const ComError& error) {
    EXPECT_EQ(error.hr(), RPC_E_DISCONNECTED);
  }
}

TEST(ApartmentPostTest, WorkStillQueuedWhenTheApartmentEndsIsDropped) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  bool ran = false;
  Apartment::Current()->Post([&] { ran = true; });
  CoUninitialize();
  PumpWaitingMessages();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace platform::com
