#include "zantrix/framework/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace zf = zantrix::framework;
using namespace std::chrono_literals;

TEST(Event, FlagSetClearAndTimedWait) {
  zf::Event e;
  EXPECT_FALSE(e.is_set());
  EXPECT_FALSE(e.wait(10ms));
  e.set();
  EXPECT_TRUE(e.is_set());
  EXPECT_TRUE(e.wait(0s));
  EXPECT_TRUE(e.wait(10ms));  // stays set until cleared
  e.clear();
  EXPECT_FALSE(e.is_set());
  EXPECT_FALSE(e.wait(1ms));
}

TEST(Event, WaiterWakesWhenAnotherThreadSets) {
  zf::Event request;
  zf::Event answer;
  std::thread worker([&] {
    request.wait();
    answer.set();
  });
  request.set();
  EXPECT_TRUE(answer.wait(10s));
  worker.join();
}
