// When the program polls its site: at start, a period after each poll, never while the machine sleeps, after a wake
// once the network is back, and never again after a failed poll. The program turns its timer ticks and the system's
// notices into events and carries out the decision each one returns; the clock and the network's answer come in
// with the events, so the schedule asks nothing of the system itself.
#pragma once

#include <cstdint>

// Whether the machine has a way to the internet, as the system reports it.
enum class TConnectivity { cnUnknown, cnNone, cnInternet };

enum class TPollState {
  psPolling,            // the cycle runs: the timer is armed for the next poll, or a poll is under way
  psWaitingForNetwork,  // the first poll (after start or a wake) waits until the system reports a way to the internet
  psAsleep,             // between the system's sleep notice and its wake notice
  psStopped,            // a poll failed: nothing polls again in this run
};

enum class TPollAction {
  paNothing,
  paPoll,             // fetch and process now, with the timer off; intervalMs is the timer's interval for afterwards
  paArmTimer,         // the next tick comes intervalMs from now
  paCloseConnection,  // stop the timer and close the connection kept between polls
};

struct TPollDecision {
  TPollAction action = TPollAction::paNothing;
  uint32_t intervalMs = 0;
  bool operator==(const TPollDecision&) const = default;
};

class TPollSchedule {
 public:
  // The first tick comes as soon as the message loop runs.
  static constexpr uint32_t kFirstTickMs = 1;
  // While a poll waits for the network, the program looks this often.
  static constexpr uint32_t kNetworkCheckMs = 1000;
  // After a wake on a system that cannot tell whether there is a network, the poll gives it this long to come back.
  static constexpr uint32_t kUnknownNetworkGraceMs = 10000;

  // periodMs: from the end of one poll to the start of the next. networkWaitMs: the longest the first poll after
  // start or a wake waits for the network.
  TPollSchedule(uint32_t periodMs, uint32_t networkWaitMs) : periodMs_(periodMs), networkWaitMs_(networkWaitMs) {}

  // The program starts: the first poll waits for the network only where the system reports none.
  TPollDecision Start(uint64_t nowMs);
  // The poll timer ticked. network is read only while WaitsForNetwork(): the program asks the system then and only
  // then.
  TPollDecision Tick(uint64_t nowMs, TConnectivity network);
  TPollDecision PollSucceeded();
  // Whatever the poll threw goes on to the user; the cycle stops.
  void PollFailed();
  TPollDecision Suspend();
  TPollDecision Resume(uint64_t nowMs);

  TPollState State() const { return state_; }
  bool WaitsForNetwork() const { return state_ == TPollState::psWaitingForNetwork; }

 private:
  TPollDecision WaitForNetwork(uint64_t nowMs, uint32_t unknownGraceMs);

  const uint32_t periodMs_;
  const uint32_t networkWaitMs_;
  TPollState state_ = TPollState::psStopped;
  // Between the poll decision and the poll's end; the sleep and wake notices can come in between, from the nested
  // message loop of the notification window's slide-out.
  bool pollUnderWay_ = false;
  // While asleep: the cycle was armed at the sleep notice, or the poll under way then has since succeeded.
  bool wakePolls_ = false;
  uint64_t waitStartMs_ = 0;
  uint32_t unknownGraceMs_ = 0;
};
