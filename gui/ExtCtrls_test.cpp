#include "gui/ExtCtrls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/Forms.h"
#include "testing/TestSupport.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

// A system timer runs only while the timer is enabled with an interval and a handler; its ticks come as messages.
TEST(Timer, RunsOnlyWhileEnabledWithAnIntervalAndAHandler) {
  TTimer timer(nullptr);
  EXPECT_FALSE(timer.Running()) << "no handler yet";
  int ticks = 0;
  timer.SetInterval(0);
  timer.SetOnTimer([&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  });
  EXPECT_FALSE(timer.Running()) << "interval zero";
  timer.SetInterval(10);
  EXPECT_TRUE(timer.Running());
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  const int stopped = ticks;
  timer.SetEnabled(true);
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.Running()) << "no handler";
  PumpFor(100);
  EXPECT_EQ(ticks, stopped);
}

TEST(Timer, AnExceptionLeavingTheTickIsReportedAndTickingGoesOn) {
  TTimer timer(nullptr);
  int ticks = 0;
  timer.SetInterval(10);
  TMessageBoxCloser closer;
  timer.SetOnTimer([&](TObject*) {
    if (++ticks == 1) throw Exception("tick failed");
  });
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 4; }, 5000));
  timer.SetEnabled(false);
  EXPECT_EQ(closer.Seen().size(), 1u);
}

// Message-only windows of the framework's helper class, as the system lists them.
std::vector<HWND> HelperWindows() {
  std::vector<HWND> found;
  HWND window = nullptr;
  while ((window = FindWindowExA(HWND_MESSAGE, window, "TPUtilWindow", nullptr)) != nullptr) found.push_back(window);
  return found;
}

// A timer whose window is gone gets no system timer: a real refusal, reported as having no timer left.
TEST(Timer, ASystemRefusalRaisesNotEnoughTimersAvailableAndLeavesTheTimerStopped) {
  std::vector<HWND> before = HelperWindows();
  TTimer timer(nullptr);
  timer.SetEnabled(false);
  timer.SetInterval(10);
  timer.SetOnTimer([](TObject*) {});
  HWND own = nullptr;
  for (HWND window : HelperWindows()) {
    if (std::find(before.begin(), before.end(), window) == before.end()) own = window;
  }
  ASSERT_NE(own, nullptr);
  ASSERT_TRUE(DestroyWindow(own));
  EXPECT_EQ(MessageOf<EOutOfResources>([&] { timer.SetEnabled(true); }), "Not enough timers available");
  EXPECT_FALSE(timer.Running());
}
