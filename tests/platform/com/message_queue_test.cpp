// Event objects, the message wait and the pump: which wait result wins, what
// auto-reset means, and that a quit message ends the pump before the messages
// behind it.
#include "platform/com/message_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/synch.h"
#include "tests/platform/pumping_thread.h"

namespace platform::com {
namespace {

constexpr DWORD kPoll = 0;

// The calling thread in an apartment for the test's length.
class OnComThread : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override { CoUninitialize(); }

  Apartment& apartment() { return *Apartment::Current(); }
};

using EventWaitTest = OnComThread;

TEST_F(EventWaitTest, AutoResetEventSatisfiesOneWaitOnly) {
  const HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_ALLEVENTS), WAIT_TIMEOUT);
  ASSERT_EQ(SetEvent(event), TRUE);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_ALLEVENTS), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_ALLEVENTS), WAIT_TIMEOUT);
}

TEST_F(EventWaitTest, ManualResetEventStaysSignalled) {
  const HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_ALLEVENTS), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_ALLEVENTS), WAIT_OBJECT_0);
}

TEST_F(EventWaitTest, ReportsTheLowestSignalledIndexBeforeWaitingMessages) {
  const HANDLE events[] = {CreateEvent(nullptr, FALSE, FALSE, nullptr),
                           CreateEvent(nullptr, FALSE, FALSE, nullptr)};
  PostQuitMessage(0);
  SetEvent(events[1]);
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, kPoll, QS_ALLEVENTS), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(MsgWaitForMultipleObjects(2, events, FALSE, kPoll, QS_ALLEVENTS), WAIT_OBJECT_0 + 2);
  EXPECT_TRUE(PumpWaitingMessages());
}

TEST_F(EventWaitTest, WaitingMessagesWakeOnlyWhenTheMaskAsksForThem) {
  const HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  PostQuitMessage(0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, 0), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, kPoll, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(PumpWaitingMessages());
}

TEST_F(EventWaitTest, FailsForClosedOrMissingHandlesAndForWaitAll) {
  const HANDLE closed = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(CloseHandle(closed), TRUE);
  EXPECT_EQ(CloseHandle(closed), FALSE);
  EXPECT_EQ(SetEvent(closed), FALSE);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &closed, FALSE, INFINITE, QS_ALLEVENTS), WAIT_FAILED);

  const HANDLE missing;
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &missing, FALSE, INFINITE, QS_ALLEVENTS), WAIT_FAILED);

  const HANDLE open = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &open, TRUE, INFINITE, QS_ALLEVENTS), WAIT_FAILED);
}

TEST_F(EventWaitTest, NamedEventsAreNotCreated) {
  EXPECT_EQ(CreateEvent(nullptr, FALSE, FALSE, "Global\\shared"), nullptr);
}

TEST(EventWaitAcrossThreadsTest, SetEventWakesAnInfiniteWaitOnAnotherThread) {
  const HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  DWORD result = WAIT_FAILED;
  std::thread waiter(
      [&] { result = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLEVENTS); });
  SetEvent(event);
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
}

TEST(EventWaitAcrossThreadsTest, AMessageFromAnotherThreadWakesAnInfiniteWait) {
  test_support::PumpingThread worker;
  std::thread caller([&] { worker.apartment()->Call([] {}); });
  caller.join();
  SUCCEED();  // the call came back: the worker's wait woke up and served it
}

using PumpTest = OnComThread;

TEST_F(PumpTest, DispatchesInPostOrderIncludingMessagesPostedMeanwhile) {
  std::vector<int> order;
  apartment().Post([&] {
    order.push_back(1);
    apartment().Post([&] { order.push_back(3); });
  });
  apartment().Post([&] { order.push_back(2); });
  EXPECT_FALSE(PumpWaitingMessages());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(PumpWaitingMessages());
}

TEST_F(PumpTest, QuitEndsThePumpBeforeTheMessagesBehindIt) {
  std::vector<int> order;
  apartment().Post([&] { order.push_back(1); });
  PostQuitMessage(0);
  apartment().Post([&] { order.push_back(2); });
  EXPECT_TRUE(PumpWaitingMessages());
  EXPECT_EQ(order, std::vector<int>{1});
}

TEST_F(PumpTest, AfterQuitTheApartmentRefusesWork) {
  PostQuitMessage(0);
  ASSERT_TRUE(PumpWaitingMessages());
  try {
    apartment().Post([] {});
    FAIL() << "posted to an apartment whose thread has quit";
  } catch (const ComError& error) {
    EXPECT_EQ(error.hr(), RPC_E_DISCONNECTED);
  }
}

TEST(PostThreadMessageTest, QuitPostedToAnotherThreadEndsItsPump) {
  test_support::PumpingThread worker;
  ASSERT_EQ(PostThreadMessage(worker.id(), WM_QUIT, 0, 0), TRUE);
  try {
    worker.apartment()->Call([] {});
    FAIL() << "a call was served after the quit message";
  } catch (const ComError& error) {
    EXPECT_EQ(error.hr(), RPC_E_DISCONNECTED);
  }
}

TEST(PostThreadMessageTest, FailsForAThreadWithoutAQueue) {
  DWORD ended = 0;
  std::thread([&] { ended = GetCurrentThreadId(); }).join();
  EXPECT_EQ(PostThreadMessage(ended, WM_QUIT, 0, 0), FALSE);
}

}  // namespace
}  // namespace platform::com
