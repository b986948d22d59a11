#include "app/PollSchedule.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

constexpr uint32_t kPeriod = 60000;
constexpr uint32_t kBound = 120000;
using enum TConnectivity;
using enum TPollAction;

// Names as the scripts write them, in the order of the enumerations.
const char* const kActions[] = {"nothing", "poll", "arm", "close"};
const char* const kStates[] = {"polling", "waiting", "asleep", "stopped"};

// Runs a script of steps "event time [answer]: decision" (events start, tick, ok, fail, sleep, wake; answers
// internet, none, unsure) and writes it again with the decisions the schedule made and the state it leaves. A tick
// carries its answer exactly where the schedule asks the system for one ("?" where the script has none to give).
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
    const TConnectivity network = answer == "internet" ? cnInternet : answer == "none" ? cnNone : cnUnknown;
    if (event == "tick" && schedule.WaitsForNetwork()) trace += " " + (answer.empty() ? "?" : answer);
    if (event == "tick") decision = schedule.Tick(at, network);
    if (event == "ok") decision = schedule.PollSucceeded();
    if (event == "fail") schedule.PollFailed();
    if (event == "sleep") decision = schedule.Suspend();
    if (event == "wake") decision = schedule.Resume(at);
    // A poll's interval is written only where it is not the period.
    const bool timed = decision.action == paArmTimer || (decision.action == paPoll && decision.intervalMs != kPeriod);
    trace += std::string(": ") + kActions[static_cast<int>(decision.action)] +
             (timed ? " " + std::to_string(decision.intervalMs) : "");
  }
  return trace + " (" + kStates[static_cast<int>(schedule.State())] + ")";
}

TEST(PollSchedule, EventsGiveTheDecisionsOfTheCycle) {
  const std::string scripts[] = {
      // At start only a system that reports no internet makes the poll wait. A queued tick during a poll is idle.
      "start 0: arm 1, tick 1 internet: poll, tick 2: nothing, ok 900: arm 60000, tick 60900: poll (polling)",
      "start 0: arm 1, tick 1 unsure: poll (polling)",
      "start 0: arm 1, tick 1 none: arm 1000, tick 119999 none: arm 1000, tick 120000 none: poll (polling)",
      // Sleep stops the cycle and closes the connection; a second notice and a queued tick change nothing.
      "start 0: arm 1, sleep 1: close, sleep 2: nothing, tick 3: nothing (asleep)",
      // The wake polls with the network (its second notice does nothing), at the bound, or after the grace.
      "start 0: arm 1, tick 1 internet: poll, ok 500: arm 60000, sleep 9000: close, wake 90000: arm 1, "
      "wake 90001: nothing, tick 90001 none: arm 1000, tick 91001 internet: poll (polling)",
      "start 0: arm 1, sleep 1: close, wake 90000: arm 1, tick 209999 none: arm 1000, tick 210000 none: poll (polling)",
      "start 0: arm 1, tick 1 none: arm 1000, sleep 500: close, wake 90000: arm 1, tick 90001 unsure: arm 1000, "
      "tick 99999 unsure: arm 1000, tick 100000 unsure: poll (polling)",
      // A poll under way at the sleep finishes: then the wake polls, or it arms the next itself, or the cycle stops.
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, ok 300: nothing, wake 90000: arm 1, "
      "tick 90001 internet: poll (polling)",
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, wake 300: nothing, ok 400: arm 60000 (polling)",
      "start 0: arm 1, tick 1 internet: poll, sleep 200: close, fail 300: nothing, wake 90000: nothing, "
      "tick 90001: nothing (stopped)",
      // A failed poll stops the cycle for good, through a sleep and a wake.
      "start 0: arm 1, tick 1 internet: poll, fail 300: nothing, tick 301: nothing, sleep 9000: close, "
      "wake 90000: nothing (stopped)",
  };
  for (const std::string& script : scripts) EXPECT_EQ(Replay(script.substr(0, script.rfind(" ("))), script);
}

}  // namespace
