#include "testing/TestSocket.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using PeerSocket = SOCKET;
using PeerLength = int;
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
using PeerSocket = int;
using PeerLength = socklen_t;
#endif

namespace test_socket {

namespace {

PeerSocket AsSocket(intptr_t value) { return static_cast<PeerSocket>(value); }

#if defined(_WIN32)
// Winsock is reference-counted: each thread that makes peers starts it once and ends its use when it ends.
struct WinsockUse {
  WinsockUse() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUse() { ::WSACleanup(); }
};
#endif

}  // namespace

intptr_t Listen(int port, int* boundPort) {
#if defined(_WIN32)
  static thread_local WinsockUse winsock;
#endif
  PeerSocket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == static_cast<PeerSocket>(-1)) return kNone;
  // A port the previous test left in TIME_WAIT can be listened on again at once.
  int yes = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  PeerLength length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Close(static_cast<intptr_t>(listener));
    return kNone;
  }
  *boundPort = ntohs(address.sin_port);
  return static_cast<intptr_t>(listener);
}

intptr_t Accept(intptr_t listener) {
  PeerSocket socket = ::accept(AsSocket(listener), nullptr, nullptr);
  return socket == static_cast<PeerSocket>(-1) ? kNone : static_cast<intptr_t>(socket);
}

void MakeNonBlocking(intptr_t socket) {
#if defined(_WIN32)
  u_long on = 1;
  ::ioctlsocket(AsSocket(socket), FIONBIO, &on);
#else
  ::fcntl(static_cast<int>(socket), F_SETFL, ::fcntl(static_cast<int>(socket), F_GETFL, 0) | O_NONBLOCK);
#endif
}

bool WaitReady(intptr_t socket, bool forWriting, int ms) {
#if defined(_WIN32)
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(socket), &set);
  timeval limit{0, ms * 1000};
  return (forWriting ? ::select(0, nullptr, &set, nullptr, &limit) : ::select(0, &set, nullptr, nullptr, &limit)) > 0;
#else
  pollfd entry{static_cast<int>(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  return ::poll(&entry, 1, ms) > 0;
#endif
}

long Receive(intptr_t socket, char* bytes, size_t length) {
  return static_cast<long>(::recv(AsSocket(socket), bytes, static_cast<int>(length), 0));
}

long Send(intptr_t socket, const char* bytes, size_t length) {
#if defined(_WIN32)
  return ::send(AsSocket(socket), bytes, static_cast<int>(length), 0);
#else
  return static_cast<long>(::send(static_cast<int>(socket), bytes, length, MSG_NOSIGNAL));
#endif
}

bool WouldBlock() {
#if defined(_WIN32)
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

void ShutdownSend(intptr_t socket) { ::shutdown(AsSocket(socket), 1); }

void Close(intptr_t socket) {
  if (socket == kNone) return;
#if defined(_WIN32)
  ::closesocket(AsSocket(socket));
#else
  ::close(static_cast<int>(socket));
#endif
}

void Reset(intptr_t socket) {
  linger abortive{};
  abortive.l_onoff = 1;
  abortive.l_linger = 0;
  ::setsockopt(AsSocket(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
  Close(socket);
}

}  // namespace test_socket
