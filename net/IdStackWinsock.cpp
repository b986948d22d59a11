#include "net/IdStackWinsock.h"

#include <windows.h>
#include <winsock2.h>

#include <cstring>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

using namespace IdResourceStrings;

namespace {

constexpr WORD kWinsockVersion = 0x0202;  // 2.2

// Every entry point start-up looks up. The first group is what a fetch calls; without one of those the library is
// of no use. The rest are looked up for completeness and may be missing.
constexpr const char* kRequiredEntryPoints[] = {
    "WSAStartup",  "WSACleanup",  "WSAGetLastError", "socket",      "bind",       "connect",
    "getsockname", "getpeername", "gethostbyname",   "htons",       "ntohs",      "select",
    "recv",        "send",        "shutdown",        "closesocket", "setsockopt",
};
constexpr const char* kOptionalEntryPoints[] = {
    "WSACancelBlockingCall",
    "accept",
    "getsockopt",
    "htonl",
    "inet_addr",
    "inet_ntoa",
    "ioctlsocket",
    "listen",
    "ntohl",
    "recvfrom",
    "sendto",
    "gethostbyaddr",
    "getprotobyname",
    "getprotobynumber",
    "getservbyname",
    "getservbyport",
    "gethostname",
    "WSAAsyncSelect",
    "WSARecvEx",
    "WSAAsyncGetHostByAddr",
    "WSAAsyncGetHostByName",
    "WSAAsyncGetProtoByNumber",
    "WSAAsyncGetProtoByName",
    "WSAAsyncGetServByPort",
    "WSAAsyncGetServByName",
    "WSACancelAsyncRequest",
    "WSASetBlockingHook",
    "WSAUnhookBlockingHook",
    "WSASetLastError",
    "WSAIsBlocking",
    "__WSAFDIsSet",
    "TransmitFile",
    "AcceptEx",
    "GetAcceptExSockaddrs",
};

using WSAStartupProc = int(WSAAPI*)(WORD, LPWSADATA);
using WSACleanupProc = int(WSAAPI*)();
using WSACancelBlockingCallProc = int(WSAAPI*)();
using WSAGetLastErrorProc = int(WSAAPI*)();
using WSASetLastErrorProc = void(WSAAPI*)(int);
using SocketProc = SOCKET(WSAAPI*)(int, int, int);
using BindProc = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using ConnectProc = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using NameProc = int(WSAAPI*)(SOCKET, sockaddr*, int*);
using GetHostByNameProc = hostent*(WSAAPI*)(const char*);
using GetHostNameProc = int(WSAAPI*)(char*, int);
using ShortProc = u_short(WSAAPI*)(u_short);
using LongProc = u_long(WSAAPI*)(u_long);
using SelectProc = int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using RecvProc = int(WSAAPI*)(SOCKET, char*, int, int);
using SendProc = int(WSAAPI*)(SOCKET, const char*, int, int);
using ShutdownProc = int(WSAAPI*)(SOCKET, int);
using CloseSocketProc = int(WSAAPI*)(SOCKET);
using SetSockOptProc = int(WSAAPI*)(SOCKET, int, int, const char*, int);

sockaddr_in MakeAddress(const std::string& ip, int port, ShortProc toNet) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = toNet(static_cast<u_short>(port));
  if (!ip.empty()) {
    uint8_t bytes[4];
    TIdStack::TextToAddress(ip, bytes);
    std::memcpy(&address.sin_addr, bytes, 4);
  }
  return address;
}

}  // namespace

struct TIdStackWinsock::Library {
  HMODULE module = nullptr;
  bool started = false;
  int found = 0;

  WSAStartupProc wsaStartup = nullptr;
  WSACleanupProc wsaCleanup = nullptr;
  WSACancelBlockingCallProc wsaCancelBlockingCall = nullptr;
  WSAGetLastErrorProc wsaGetLastError = nullptr;
  WSASetLastErrorProc wsaSetLastError = nullptr;
  SocketProc socket = nullptr;
  BindProc bind = nullptr;
  ConnectProc connect = nullptr;
  NameProc getsockname = nullptr;
  NameProc getpeername = nullptr;
  GetHostByNameProc gethostbyname = nullptr;
  GetHostNameProc gethostname = nullptr;
  ShortProc htons = nullptr;
  ShortProc ntohs = nullptr;
  LongProc htonl = nullptr;
  LongProc ntohl = nullptr;
  SelectProc select = nullptr;
  RecvProc recv = nullptr;
  SendProc send = nullptr;
  ShutdownProc shutdown = nullptr;
  CloseSocketProc closesocket = nullptr;
  SetSockOptProc setsockopt = nullptr;

  // The thread's own code for failures found without a library call, when the library cannot hold it.
  int localError = 0;

  template <class Proc>
  void Find(Proc& proc, const char* name) {
    proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  }

  ~Library() {
    if (started) {
      // Its result does not matter: the library is being released either way.
      if (wsaCancelBlockingCall != nullptr) wsaCancelBlockingCall();
      wsaCleanup();
    }
    if (module != nullptr) ::FreeLibrary(module);
  }
};

std::unique_ptr<TIdStack> NewPlatformStack() { return std::make_unique<TIdStackWinsock>(); }

TIdStackWinsock::TIdStackWinsock(const std::string& libraryName) : library_(std::make_unique<Library>()) {
  Library& lib = *library_;
  // From the system folder only: a file of that name beside the program must never be the one that runs.
  lib.module = ::LoadLibraryExA(libraryName.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (lib.module == nullptr) throw EIdStackCanNotLoadWinsock(Format(RSStackCanNotLoad, libraryName.c_str()));

  for (const char* name : kRequiredEntryPoints) {
    if (::GetProcAddress(lib.module, name) == nullptr) {
      throw EIdStackCanNotLoadWinsock(Format(RSStackCanNotLoad, libraryName.c_str()));
    }
    ++lib.found;
  }
  for (const char* name : kOptionalEntryPoints) {
    if (::GetProcAddress(lib.module, name) != nullptr) ++lib.found;
  }
  lib.Find(lib.wsaStartup, "WSAStartup");
  lib.Find(lib.wsaCleanup, "WSACleanup");
  lib.Find(lib.wsaCancelBlockingCall, "WSACancelBlockingCall");
  lib.Find(lib.wsaGetLastError, "WSAGetLastError");
  lib.Find(lib.wsaSetLastError, "WSASetLastError");
  lib.Find(lib.socket, "socket");
  lib.Find(lib.bind, "bind");
  lib.Find(lib.connect, "connect");
  lib.Find(lib.getsockname, "getsockname");
  lib.Find(lib.getpeername, "getpeername");
  lib.Find(lib.gethostbyname, "gethostbyname");
  lib.Find(lib.gethostname, "gethostname");
  lib.Find(lib.htons, "htons");
  lib.Find(lib.ntohs, "ntohs");
  lib.Find(lib.htonl, "htonl");
  lib.Find(lib.ntohl, "ntohl");
  lib.Find(lib.select, "select");
  lib.Find(lib.recv, "recv");
  lib.Find(lib.send, "send");
  lib.Find(lib.shutdown, "shutdown");
  lib.Find(lib.closesocket, "closesocket");
  lib.Find(lib.setsockopt, "setsockopt");

  WSADATA data;
  std::memset(&data, 0, sizeof data);
  if (lib.wsaStartup(kWinsockVersion, &data) != 0) throw EIdStackInitializationFailed(RSWinsockInitializationError);
  lib.started = true;

  version_.version = data.wVersion;
  version_.highVersion = data.wHighVersion;
  version_.maxSockets = data.iMaxSockets;
  version_.maxUdpDg = data.iMaxUdpDg;
  version_.description = data.szDescription;
  version_.systemStatus = data.szSystemStatus;
  version_.name = RSStackName;
}

TIdStackWinsock::~TIdStackWinsock() = default;

int TIdStackWinsock::EntryPointCount() const { return library_->found; }

TIdStackSocketHandle TIdStackWinsock::Socket(int family, int type, int protocol) {
  SOCKET socket = library_->socket(family, type, protocol);
  if (socket == INVALID_SOCKET) return kIdInvalidSocket;
  return static_cast<TIdStackSocketHandle>(socket);
}

int TIdStackWinsock::Bind(TIdStackSocketHandle socket, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port, library_->htons);
  return library_->bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int TIdStackWinsock::CloseSocket(TIdStackSocketHandle socket) {
  return library_->closesocket(static_cast<SOCKET>(socket));
}

int TIdStackWinsock::Connect(TIdStackSocketHandle socket, int family, const std::string& ip, int port) {
  sockaddr_in address = MakeAddress(ip, port, library_->htons);
  address.sin_family = static_cast<short>(family);
  return library_->connect(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

std::string TIdStackWinsock::GetHostByName(const std::string& host) {
  hostent* entry = library_->gethostbyname(host.c_str());
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr || entry->h_length < 4) {
    if (entry != nullptr) SetLastError(Id_WSANO_DATA);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  uint8_t bytes[4];
  std::memcpy(bytes, entry->h_addr_list[0], 4);
  return AddressToText(bytes);
}

std::string TIdStackWinsock::GetHostName() {
  if (library_->gethostname == nullptr) {
    SetLastError(Id_WSAEOPNOTSUPP);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  char name[250] = {};
  CheckSocketResult(library_->gethostname(name, sizeof name - 1));
  return name;
}

uint16_t TIdStackWinsock::HostToNetShort(uint16_t value) { return library_->htons(value); }
uint16_t TIdStackWinsock::NetToHostShort(uint16_t value) { return library_->ntohs(value); }
uint32_t TIdStackWinsock::HostToNetLong(uint32_t value) {
  return library_->htonl != nullptr ? library_->htonl(value) : ::_byteswap_ulong(value);
}
uint32_t TIdStackWinsock::NetToHostLong(uint32_t value) {
  return library_->ntohl != nullptr ? library_->ntohl(value) : ::_byteswap_ulong(value);
}

int TIdStackWinsock::Recv(TIdStackSocketHandle socket, void* buffer, int length) {
  return library_->recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), length, 0);
}

int TIdStackWinsock::Send(TIdStackSocketHandle socket, const void* buffer, int length) {
  return library_->send(static_cast<SOCKET>(socket), static_cast<const char*>(buffer), length, 0);
}

int TIdStackWinsock::SetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value, int length) {
  return library_->setsockopt(static_cast<SOCKET>(socket), level, option, static_cast<const char*>(value), length);
}

int TIdStackWinsock::Shutdown(TIdStackSocketHandle socket, int how) {
  return library_->shutdown(static_cast<SOCKET>(socket), how);
}

int TIdStackWinsock::GetLastError() {
  if (library_->wsaSetLastError == nullptr && library_->localError != 0) {
    int code = library_->localError;
    library_->localError = 0;
    return code;
  }
  return library_->wsaGetLastError();
}

void TIdStackWinsock::SetLastError(int errorCode) {
  if (library_->wsaSetLastError != nullptr) {
    library_->wsaSetLastError(errorCode);
  } else {
    library_->localError = errorCode;
  }
}

namespace {

// One of the library's local or peer name queries, its address read as dotted text and a host-order port.
int QueryName(NameProc query, ShortProc toHost, TIdStackSocketHandle socket, std::string& ip, int& port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  int length = sizeof address;
  int result = query(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &length);
  if (result != SOCKET_ERROR) {
    uint8_t bytes[4];
    std::memcpy(bytes, &address.sin_addr, 4);
    ip = TIdStack::AddressToText(bytes);
    port = toHost(address.sin_port);
  }
  return result;
}

}  // namespace

int TIdStackWinsock::GetPeerName(TIdStackSocketHandle socket, std::string& ip, int& port) {
  return QueryName(library_->getpeername, library_->ntohs, socket, ip, port);
}

int TIdStackWinsock::GetSockName(TIdStackSocketHandle socket, std::string& ip, int& port) {
  return QueryName(library_->getsockname, library_->ntohs, socket, ip, port);
}

int TIdStackWinsock::PlatformSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                                    int timeoutMs) {
  // The library's set layout: a count and up to FD_SETSIZE (64) sockets. The lists were checked against that.
  static_assert(FD_SETSIZE >= kIdSelectSetCapacity, "a select set must hold the checked number of sockets");
  auto fill = [](const TIdSocketList* list, fd_set& set) {
    set.fd_count = 0;
    if (list == nullptr) return;
    for (TIdStackSocketHandle socket : *list) set.fd_array[set.fd_count++] = static_cast<SOCKET>(socket);
  };
  fd_set readSet, writeSet, errorSet;
  fill(readList, readSet);
  fill(writeList, writeSet);
  fill(errorList, errorSet);

  timeval limit;
  const timeval* limitPointer = nullptr;
  if (timeoutMs != TimeoutInfinite) {
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    limitPointer = &limit;
  }
  int result = library_->select(0, &readSet, &writeSet, &errorSet, limitPointer);

  auto refill = [](TIdSocketList* list, const fd_set& set) {
    if (list == nullptr) return;
    list->clear();
    for (u_int i = 0; i < set.fd_count; ++i) list->push_back(static_cast<TIdStackSocketHandle>(set.fd_array[i]));
  };
  // A failed select leaves the sets as they were given; only a completed one tells which sockets are ready.
  if (result != SOCKET_ERROR) {
    refill(readList, readSet);
    refill(writeList, writeSet);
    refill(errorList, errorSet);
  }
  return result;
}
