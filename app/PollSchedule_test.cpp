#include "app/PollSchedule.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

constexpr uint32_t kPeriod = 60000;
constexpr uint32_t kBound = 120000;

std::string Describe(const TPollDecision& decision) {
  switch (decision.action) {
    case TPollAction::paNothing:
      return "nothing";
    case TPollAction::paPoll:
      return decision.intervalMs == kPeriod ? "poll" : "poll then " + std::to_string(decision.intervalMs);
    case TPollAction::paArmTimer:
      return "arm " + std::to_string(decision.intervalMs);
    case TPollAction::paCloseConnection:
      return "close";
  }
  return "?";
}

// Runs a script of steps "event time [answer]: decision" (events start, tick, ok, fail, sleep, wake; answers
// internet, none, unsure) and writes it again with the decisions the schedule made. A tick carries its answer exactly
// where the schedule asks the system for one ("?" where the script has none to give).
std::string Replay(const std::string& script) {
  TPollSchedule schedule(kPeriod, kBound);
  std::istringstream steps(script);
  std::string trace;
  for (std::string step; std::getline(steps, step, ',');) {
    std::istringstream words(step.substr(0, step.find(':')));
    std::string event, answer;
    uint64_t at = 0;
    words >> event >> at >> answer;
    trace += (trace.empty() ? "" : ", ") + event + " " + std::to_string(at);
    TPollDecision decision;
    if (event == "start") decision = schedule.Start(at);
    if (event == "tick") {
      if (schedule.WaitsForNetwork()) trace += " " + (answer.empty() ? "?" : answer);
      decision = schedule.Tick(at, answer == "internet" ? TConnectivity::cnInternet
                                   : answer == "none"   ? TConnectivity::cnNone
                                                        : TConnectivity::cnUnknown);
    }
    if (event == "ok") decision = schedule.PollSucceeded();
    if (event == "fail") schedule.PollFailed();
    if (event == "sleep") decision = schedule.Suspend();
    if (event == "wake") decision = schedule.Resume(at);
    trace += ": " + Describe(decision);
  }
  const char* const states[] = {"polling", "waiting", "asleep", "stopped"};
  return trace + " (" + states[static_cast<int>(schedule.State())] + ")";
}

TEST(PollSchedule, EventsGiveTheDecisionsOfTheCycle) {
  // Each script ends with the state it leaves.
  const std::string scripts[] = {
      // At start: the first poll at once where there is internet or the system cannot tell, the next a period after
      // it ends; without internet it looks every second, up to the bound. A tick the timer queued before it stopped
      // finds nothing to do, here during a poll.
      "start 0: arm 1, tick 1 internet: poll, tick 2: nothing, ok 900: arm 60000, tick 60900: poll (polling)",
      "start 0: arm 1, tick 1 unsure: poll (polling)",
      "start 0: arm 1, tick 1 none: arm 1000, tick 1001 none: arm 1000 (waiting)",
      "start 0: arm 1, tick 119999 none: arm 1000, tick 120000 none: poll (polling)",
      // Sleep stops the armed cycle and closes the connection; a second notice and a queued tick change nothing.
      "start 0: arm 1, tick 1 internet: poll, ok 500: arm 60000, sleep 9000: close, sleep 9001: nothing, "
      "tick 60500: nothing (asleep)",
      // The wake waits for the network (the second notice of the same wake does nothing), up to the bound counted
      // from the wake; where the system cannot tell, it waits the grace of ten seconds.
      "start 0: arm 1, tick 1 internet: poll, ok 500: arm 60000, sleep 9000: close, wake 500000: arm 1, "
      "wake 500001: nothing, tick 500001 none: arm 1000, tick 501001 internet: poll (polling)",
      "start 0: arm 1, sleep 1: close, wake 900000: arm 1, tick 1019999 none: arm 1000, tick 1020000 none: poll "
      "(polling)",
      "start 0: arm 1, tick 1 none: arm 1000, sleep 500: close, wake 900000: arm 1, tick 900001 unsure: arm 1000, "
      "tick 909999 unsure: arm 1000, tick 910000 unsure: poll (polling)",
      // A poll under way at the sleep finishes: ended during the sleep it makes the wake poll, ended after the wake
      // it arms the next as always, failed it leaves the cycle stopped.
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, ok 300: nothing, wake 400000: arm 1, "
      "tick 400001 internet: poll (polling)",
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, wake 300: nothing, ok 400: arm 60000 (polling)",
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, fail 300: nothing, wake 400000: nothing, "
      "tick 400001: nothing (stopped)",
      // A failed poll stops the cycle for good, through a sleep and a wake.
      "start 0: arm 1, tick 1 internet: poll, fail 300: nothing, tick 301: nothing, sleep 9000: close, "
      "wake 90000: nothing (stopped)",
  };
  for (const std::string& script : scripts) EXPECT_EQ(Replay(script.substr(0, script.rfind(" ("))), script);
}

}  // namespace
