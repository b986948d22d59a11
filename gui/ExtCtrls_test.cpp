#include "gui/ExtCtrls.h"

#include <gtest/gtest.h>

#include "gui/Forms.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

TEST(Timer, TicksArriveAsMessagesWhileEnabledWithIntervalAndHandler) {
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  });
  EXPECT_TRUE(timer.Running());
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  int stopped = ticks;
  PumpFor(100);
  EXPECT_EQ(ticks, stopped);
}
