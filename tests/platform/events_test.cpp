#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Events.h"

TEST(Events, AutoResetReleasesOneWaitAndClears) {
  TEvent E;
  EXPECT_FALSE(E.WaitFor(10));
  E.SetEvent();
  EXPECT_TRUE(E.WaitFor(0));
  EXPECT_FALSE(E.WaitFor(0));
}
