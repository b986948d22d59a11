// Whether this machine has a way to the internet, as Windows sees it: the first poll after start or a wake waits
// for one, since after a wake from sleep the network comes back some seconds later than the program, and at sign-in
// it may come after the program.
#pragma once

#include "app/PollSchedule.h"

// What Windows' network list reports now: cnInternet when some network reaches the internet over IPv4 or IPv6,
// cnNone when none does, cnUnknown when the system cannot tell.
TConnectivity InternetConnectivity();
