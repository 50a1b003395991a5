#include <gtest/gtest.h>

#include "platform/Events.h"

TEST(Events, AutoResetReleasesOneWaitAndClears) {
  TEvent E;
  EXPECT_FALSE(E.WaitFor(10));
  E.SetEvent();
  EXPECT_TRUE(E.WaitFor(0));
  EXPECT_FALSE(E.WaitFor(0));
}

TEST(Events, ManualResetStaysSetUntilReset) {
  TEvent E(true, true);
  EXPECT_TRUE(E.WaitFor(0));
  EXPECT_TRUE(E.WaitFor(0));
  E.ResetEvent();
  EXPECT_FALSE(E.WaitFor(0));
}

TEST(Events, WaitForAnyTakesTheFirstSetEventAndLeavesTheOthers) {
  TEvent A, B, C;
  B.SetEvent();
  C.SetEvent();
  EXPECT_EQ(WaitForAny({&A, &B, &C}, 0), 1);
  EXPECT_EQ(WaitForAny({&A, &B, &C}, 0), 2);
  EXPECT_EQ(WaitForAny({&A, &B, &C}, 20), WaitTimeout);
}
