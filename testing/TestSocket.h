// The few socket calls the test peers make, one spelling for Winsock and BSD sockets: a listener on 127.0.0.1,
// accepting, waiting a bounded slice for a socket to become ready, sending and receiving, and closing (gracefully
// or with a reset). Sockets are carried as intptr_t, -1 for none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace test_socket {

constexpr intptr_t kNone = -1;

// A listening socket on 127.0.0.1 (port 0: one the system chooses); kNone when it cannot listen. The port it got
// is stored in *boundPort. Winsock is started for the calling thread first.
intptr_t Listen(int port, int* boundPort);
// The next connection waiting on a listener, or kNone.
intptr_t Accept(intptr_t listener);
void MakeNonBlocking(intptr_t socket);
// Waits at most ms for the socket to become readable (or writable); true when it has.
bool WaitReady(intptr_t socket, bool forWriting, int ms);
// recv and send as the platform does them (no SIGPIPE); below zero on failure.
long Receive(intptr_t socket, char* bytes, size_t length);
long Send(intptr_t socket, const char* bytes, size_t length);
// The last call failed only because it would have had to wait.
bool WouldBlock();
void ShutdownSend(intptr_t socket);
void Close(intptr_t socket);
// An abortive close: the other side gets a connection reset.
void Reset(intptr_t socket);

}  // namespace test_socket
