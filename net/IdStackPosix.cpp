#include "net/IdStackPosix.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/IdResourceStrings.h"

namespace {

// Like WSAGetLastError: the code of the last failed call on this thread.
thread_local int tLastSocketError = 0;

// Stores the errno of a failed call as a Windows socket error number and passes the result on.
int Failed(int result) {
  tLastSocketError = TIdStackPosix::ErrnoToSocketError(errno);
  return result;
}

constexpr int kSocketOptionLevelMap[][2] = {{Id_IPPROTO_TCP, IPPROTO_TCP}};
constexpr int kShutdownDirections[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};

sockaddr_in MakeAddress(const std::string& ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (ip.empty()) {
    address.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    uint8_t bytes[4];
    TIdStack::TextToAddress(ip, bytes);
    std::memcpy(&address.sin_addr.s_addr, bytes, 4);
  }
  return address;
}

void ReadAddress(const sockaddr_in& address, std::string& ip, int& port) {
  uint8_t bytes[4];
  std::memcpy(bytes, &address.sin_addr.s_addr, 4);
  ip = TIdStack::AddressToText(bytes);
  port = ntohs(address.sin_port);
}

int AddressLookupError(int error) {
  switch (error) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return Id_WSATRY_AGAIN;
    case EAI_MEMORY:
      return Id_WSAENOBUFS;
    case EAI_SYSTEM:
      return TIdStackPosix::ErrnoToSocketError(errno);
    default:
      return Id_WSANO_RECOVERY;
  }
}

}  // namespace

std::unique_ptr<TIdStack> NewPlatformStack() { return std::make_unique<TIdStackPosix>(); }

TIdStackPosix::TIdStackPosix() {
  version_.version = 0x0202;
  version_.highVersion = 0x0202;
  version_.description = "BSD sockets";
  version_.systemStatus = "Running";
  version_.name = IdResourceStrings::RSStackName;
}

int TIdStackPosix::ErrnoToSocketError(int error) {
  switch (error) {
    case EINTR:
      return Id_WSAEINTR;
    case EBADF:
      return Id_WSAEBADF;
    case EACCES:
    case EPERM:
      return Id_WSAEACCES;
    case EFAULT:
      return Id_WSAEFAULT;
    case EINVAL:
      return Id_WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return Id_WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
      return Id_WSAEWOULDBLOCK;
    case EINPROGRESS:
      return Id_WSAEINPROGRESS;
    case EALREADY:
      return Id_WSAEALREADY;
    case ENOTSOCK:
      return Id_WSAENOTSOCK;
    case EDESTADDRREQ:
      return Id_WSAEDESTADDRREQ;
    case EMSGSIZE:
      return Id_WSAEMSGSIZE;
    case EPROTOTYPE:
      return Id_WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return Id_WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return Id_WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return Id_WSAESOCKTNOSUPPORT;
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
    case EOPNOTSUPP:
      return Id_WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
      return Id_WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
      return Id_WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return Id_WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return Id_WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return Id_WSAENETDOWN;
    case ENETUNREACH:
      return Id_WSAENETUNREACH;
    case ENETRESET:
      return Id_WSAENETRESET;
    case ECONNABORTED:
      return Id_WSAECONNABORTED;
    case ECONNRESET:
      return Id_WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return Id_WSAENOBUFS;
    case EISCONN:
      return Id_WSAEISCONN;
    case ENOTCONN:
      return Id_WSAENOTCONN;
    // Sending on a socket whose sending side is shut down: what Windows reports as a shut-down socket.
    case EPIPE:
    case ESHUTDOWN:
      return Id_WSAESHUTDOWN;
    case ETOOMANYREFS:
      return Id_WSAETOOMANYREFS;
    case ETIMEDOUT:
      return Id_WSAETIMEDOUT;
    case ECONNREFUSED:
      return Id_WSAECONNREFUSED;
    case ELOOP:
      return Id_WSAELOOP;
    case ENAMETOOLONG:
      return Id_WSAENAMETOOLONG;
    case EHOSTDOWN:
      return Id_WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return Id_WSAEHOSTUNREACH;
    case ENOTEMPTY:
      return Id_WSAENOTEMPTY;
    default:
      return error;
  }
}

TIdStackSocketHandle TIdStackPosix::Socket(int family, int type, int protocol) {
  int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) return Failed(static_cast<int>(kIdInvalidSocket));
  return fd;
}

int TIdStackPosix::Bind(TIdStackSocketHandle socket, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port);
  if (::bind(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return Failed(Id_SOCKET_ERROR);
  }
  return 0;
}

int TIdStackPosix::CloseSocket(TIdStackSocketHandle socket) {
  if (::close(static_cast<int>(socket)) != 0) return Failed(Id_SOCKET_ERROR);
  return 0;
}

int TIdStackPosix::Connect(TIdStackSocketHandle socket, int family, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port);
  address.sin_family = static_cast<sa_family_t>(family);
  const int fd = static_cast<int>(socket);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return 0;
  if (errno != EINTR) return Failed(Id_SOCKET_ERROR);
  // An interrupted connect goes on in the background; wait for its outcome as the blocking call would have.
  pollfd entry{fd, POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return Failed(Id_SOCKET_ERROR);
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return Failed(Id_SOCKET_ERROR);
  if (error != 0) {
    errno = error;
    return Failed(Id_SOCKET_ERROR);
  }
  return 0;
}

std::string TIdStackPosix::GetHostByName(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0 || found == nullptr) {
    tLastSocketError = error != 0 ? AddressLookupError(error) : Id_WSANO_DATA;
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  std::string ip;
  int port = 0;
  ReadAddress(*reinterpret_cast<const sockaddr_in*>(found->ai_addr), ip, port);
  ::freeaddrinfo(found);
  return ip;
}

std::string TIdStackPosix::GetHostName() {
  char name[250] = {};
  if (::gethostname(name, sizeof name - 1) != 0) {
    Failed(Id_SOCKET_ERROR);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return name;
}

uint16_t TIdStackPosix::HostToNetShort(uint16_t value) { return htons(value); }
uint16_t TIdStackPosix::NetToHostShort(uint16_t value) { return ntohs(value); }
uint32_t TIdStackPosix::HostToNetLong(uint32_t value) { return htonl(value); }
uint32_t TIdStackPosix::NetToHostLong(uint32_t value) { return ntohl(value); }

int TIdStackPosix::Recv(TIdStackSocketHandle socket, void* buffer, int length) {
  for (;;) {
    ssize_t n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Failed(Id_SOCKET_ERROR);
  }
}

int TIdStackPosix::Send(TIdStackSocketHandle socket, const void* buffer, int length) {
  for (;;) {
    // A peer that has gone must become an error code, not a signal that ends the process.
    ssize_t n = ::send(static_cast<int>(socket), buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return Failed(Id_SOCKET_ERROR);
  }
}

int TIdStackPosix::SetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value, int length) {
  // The callers speak the Windows numbers; TCP_NODELAY is 1 on both, the TCP level differs in name only.
  for (const auto& pair : kSocketOptionLevelMap) {
    if (pair[0] == level) level = pair[1];
  }
  if (::setsockopt(static_cast<int>(socket), level, option, value, static_cast<socklen_t>(length)) != 0) {
    return Failed(Id_SOCKET_ERROR);
  }
  return 0;
}

int TIdStackPosix::Shutdown(TIdStackSocketHandle socket, int how) {
  if (how < 0 || how > 2) {
    errno = EINVAL;
    return Failed(Id_SOCKET_ERROR);
  }
  if (::shutdown(static_cast<int>(socket), kShutdownDirections[how]) != 0) return Failed(Id_SOCKET_ERROR);
  return 0;
}

int TIdStackPosix::GetLastError() { return tLastSocketError; }

void TIdStackPosix::SetLastError(int errorCode) { tLastSocketError = errorCode; }

int TIdStackPosix::GetPeerName(TIdStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return Failed(Id_SOCKET_ERROR);
  }
  ReadAddress(address, ip, port);
  return 0;
}

int TIdStackPosix::GetSockName(TIdStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return Failed(Id_SOCKET_ERROR);
  }
  ReadAddress(address, ip, port);
  return 0;
}

// The select semantics over poll, which has no limit on descriptor numbers: a socket counts as readable when data,
// an end of stream or an error waits (as select reports them), writable when sending would not block, and in the
// error set when urgent data waits. The result counts set memberships, as select does.
int TIdStackPosix::PlatformSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                                  int timeoutMs) {
  if (timeoutMs < 0 && timeoutMs != TimeoutInfinite) {
    // A negative time other than "no limit" is an invalid time limit for select.
    errno = EINVAL;
    return Failed(Id_SOCKET_ERROR);
  }
  std::vector<pollfd> entries;
  auto add = [&entries](const TIdSocketList* list, short events) {
    if (list == nullptr) return;
    for (TIdStackSocketHandle socket : *list) {
      entries.push_back(pollfd{static_cast<int>(socket), events, 0});
    }
  };
  add(readList, POLLIN);
  add(writeList, POLLOUT);
  add(errorList, POLLPRI);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  int ready;
  for (;;) {
    int wait = -1;
    if (timeoutMs != TimeoutInfinite) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    ready = ::poll(entries.data(), entries.size(), wait);
    if (ready >= 0) break;
    if (errno != EINTR) return Failed(Id_SOCKET_ERROR);
  }
  for (const pollfd& entry : entries) {
    if (entry.revents & POLLNVAL) {
      errno = ENOTSOCK;
      return Failed(Id_SOCKET_ERROR);
    }
  }

  int count = 0;
  size_t index = 0;
  auto refill = [&](TIdSocketList* list, short readyEvents) {
    if (list == nullptr) return;
    TIdSocketList readySockets;
    for (TIdStackSocketHandle socket : *list) {
      if (entries[index++].revents & readyEvents) readySockets.push_back(socket);
    }
    count += static_cast<int>(readySockets.size());
    *list = std::move(readySockets);
  };
  refill(readList, POLLIN | POLLHUP | POLLERR);
  refill(writeList, POLLOUT | POLLHUP | POLLERR);
  refill(errorList, POLLPRI);
  return count;
}
