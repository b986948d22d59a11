#include "app/PollSchedule.h"

TPollDecision TPollSchedule::Start(uint64_t nowMs) {
  // Started at sign-in, the program may come up before the network. Where the system cannot tell, nothing says the
  // network is missing: the first poll goes at once.
  return WaitForNetwork(nowMs, 0);
}

TPollDecision TPollSchedule::WaitForNetwork(uint64_t nowMs, uint32_t unknownGraceMs) {
  state_ = TPollState::psWaitingForNetwork;
  waitStartMs_ = nowMs;
  unknownGraceMs_ = unknownGraceMs;
  return {TPollAction::paArmTimer, kFirstTickMs};
}

TPollDecision TPollSchedule::Tick(uint64_t nowMs, TConnectivity network) {
  if (state_ == TPollState::psWaitingForNetwork) {
    const uint64_t waited = nowMs - waitStartMs_;
    const bool over = network == TConnectivity::cnInternet || waited >= networkWaitMs_ ||
                      (network == TConnectivity::cnUnknown && waited >= unknownGraceMs_);
    // No way to the site yet: look again a moment later, until there is one or the wait's bound has passed.
    if (!over) return {TPollAction::paArmTimer, kNetworkCheckMs};
    state_ = TPollState::psPolling;
  } else if (state_ != TPollState::psPolling || pollUnderWay_) {
    // A tick the system had queued before the timer was stopped (for a poll, a sleep or a failure) finds nothing to
    // do: a poll now would overlap the one under way, reach for the network of a sleeping machine, or show a second
    // failure box.
    return {};
  }
  pollUnderWay_ = true;
  // The timer is off while a poll runs, so a slow fetch never overlaps the next tick; the period counts from the end
  // of one poll to the start of the next.
  return {TPollAction::paPoll, periodMs_};
}

TPollDecision TPollSchedule::PollSucceeded() {
  pollUnderWay_ = false;
  if (state_ == TPollState::psAsleep) {
    // The system went to sleep during this poll: the wake arms the next one.
    wakePolls_ = true;
    return {};
  }
  return {TPollAction::paArmTimer, periodMs_};
}

void TPollSchedule::PollFailed() {
  pollUnderWay_ = false;
  // Asleep, the wake finds nothing to arm and stops the cycle then.
  if (state_ != TPollState::psAsleep) state_ = TPollState::psStopped;
}

TPollDecision TPollSchedule::Suspend() {
  if (state_ == TPollState::psAsleep) return {};
  // Only an armed cycle polls again after the wake; a poll under way decides for itself when it ends, and a stopped
  // cycle stays stopped.
  wakePolls_ = state_ == TPollState::psWaitingForNetwork || (state_ == TPollState::psPolling && !pollUnderWay_);
  state_ = TPollState::psAsleep;
  // No close the server sends reaches a sleeping machine, and after the sleep its idle limit has long run out. A
  // poll under way has its fetch behind it (the notice can only come in the slide-out's loop), so closing the
  // connection interrupts nothing.
  return {TPollAction::paCloseConnection, 0};
}

TPollDecision TPollSchedule::Resume(uint64_t nowMs) {
  // A wake the user starts brings two notices; the second finds the machine awake already.
  if (state_ != TPollState::psAsleep) return {};
  // The network comes back some seconds after the machine (Wi-Fi reconnects): the poll waits for it.
  if (wakePolls_) return WaitForNetwork(nowMs, kUnknownNetworkGraceMs);
  // A poll still under way arms the next one when it ends, as it would have without the sleep.
  state_ = pollUnderWay_ ? TPollState::psPolling : TPollState::psStopped;
  return {};
}
