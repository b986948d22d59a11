// Whether this machine has a way to the internet, as Windows sees it, and a poll's wait for one: after a wake from
// sleep the network comes back some seconds later than the program, and at sign-in it may come after the program.
#pragma once

#include <cstdint>

enum class TConnectivity { cnUnknown, cnNone, cnInternet };

// What Windows' network list reports now: cnInternet when some network reaches the internet over IPv4 or IPv6,
// cnNone when none does, cnUnknown when the system cannot tell.
TConnectivity InternetConnectivity();

// A wait that is over as soon as Windows reports a way to the internet, and at the latest at its bound.
class TNetworkWait {
 public:
  // Starts waiting for at most boundMs. Where the system cannot tell, the wait lasts unknownGraceMs instead (0: it
  // is over at once).
  void Begin(uint32_t boundMs, uint32_t unknownGraceMs);
  // True when no wait runs or the one that runs is over, which ends it. Asks the system each time it is called
  // during a wait, and never outside one.
  bool Over();

 private:
  bool waiting_ = false;
  uint64_t startMs_ = 0;
  uint32_t boundMs_ = 0;
  uint32_t unknownGraceMs_ = 0;
};
