// The socket stack: one process-wide object over the platform's socket library. It wraps each socket call, turns
// failures into exceptions carrying the Windows socket error numbers (on every platform, so that every message reads
// the same everywhere), and resolves host names. It is loaded while any network component lives.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Classes.h"

// A platform socket; kIdInvalidSocket when there is none.
using TIdStackSocketHandle = intptr_t;
inline constexpr TIdStackSocketHandle kIdInvalidSocket = -1;

// Time-outs in milliseconds.
inline constexpr int TimeoutDefault = -1;   // the owner's default
inline constexpr int TimeoutInfinite = -2;  // no limit

inline constexpr int Id_SOCKET_ERROR = -1;
inline constexpr int Id_AF_INET = 2;
inline constexpr int Id_PF_INET = 2;
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_IPPROTO_IP = 0;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_TCP_NODELAY = 1;
inline constexpr int Id_SD_SEND = 1;

// A select set holds at most this many sockets.
inline constexpr int kIdSelectSetCapacity = 64;

// The Windows socket error numbers the code reacts to or reports.
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEBADF = 10009;
inline constexpr int Id_WSAEACCES = 10013;
inline constexpr int Id_WSAEFAULT = 10014;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAEMFILE = 10024;
inline constexpr int Id_WSAEWOULDBLOCK = 10035;
inline constexpr int Id_WSAEINPROGRESS = 10036;
inline constexpr int Id_WSAEALREADY = 10037;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAEDESTADDRREQ = 10039;
inline constexpr int Id_WSAEMSGSIZE = 10040;
inline constexpr int Id_WSAEPROTOTYPE = 10041;
inline constexpr int Id_WSAENOPROTOOPT = 10042;
inline constexpr int Id_WSAEPROTONOSUPPORT = 10043;
inline constexpr int Id_WSAESOCKTNOSUPPORT = 10044;
inline constexpr int Id_WSAEOPNOTSUPP = 10045;
inline constexpr int Id_WSAEPFNOSUPPORT = 10046;
inline constexpr int Id_WSAEAFNOSUPPORT = 10047;
inline constexpr int Id_WSAEADDRINUSE = 10048;
inline constexpr int Id_WSAEADDRNOTAVAIL = 10049;
inline constexpr int Id_WSAENETDOWN = 10050;
inline constexpr int Id_WSAENETUNREACH = 10051;
inline constexpr int Id_WSAENETRESET = 10052;
inline constexpr int Id_WSAECONNABORTED = 10053;
inline constexpr int Id_WSAECONNRESET = 10054;
inline constexpr int Id_WSAENOBUFS = 10055;
inline constexpr int Id_WSAEISCONN = 10056;
inline constexpr int Id_WSAENOTCONN = 10057;
inline constexpr int Id_WSAESHUTDOWN = 10058;
inline constexpr int Id_WSAETOOMANYREFS = 10059;
inline constexpr int Id_WSAETIMEDOUT = 10060;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAELOOP = 10062;
inline constexpr int Id_WSAENAMETOOLONG = 10063;
inline constexpr int Id_WSAEHOSTDOWN = 10064;
inline constexpr int Id_WSAEHOSTUNREACH = 10065;
inline constexpr int Id_WSAENOTEMPTY = 10066;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;
inline constexpr int Id_WSATRY_AGAIN = 11002;
inline constexpr int Id_WSANO_RECOVERY = 11003;
inline constexpr int Id_WSANO_DATA = 11004;

// Sockets handed to Select; afterwards each list holds the sockets that are ready.
using TIdSocketList = std::vector<TIdStackSocketHandle>;

// What the socket library reported when it started. Nothing in the system reads it.
struct TIdStackVersion {
  uint16_t version = 0;
  uint16_t highVersion = 0;
  int maxSockets = 0;
  int maxUdpDg = 0;
  std::string description;
  std::string systemStatus;
  std::string name;
};

// "Socket Error # <code>" CR LF and the code's text; codes without a text end in the bare line break.
std::string SocketErrorText(int errorCode);

class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // ---- platform calls; results are raw (Id_SOCKET_ERROR or kIdInvalidSocket on failure) ----
  virtual TIdStackSocketHandle Socket(int family, int type, int protocol) = 0;
  // ip: dotted text, empty for any address. port: host order.
  virtual int Bind(TIdStackSocketHandle socket, const std::string& ip, int port) = 0;
  virtual int CloseSocket(TIdStackSocketHandle socket) = 0;
  virtual int Connect(TIdStackSocketHandle socket, int family, const std::string& ip, int port) = 0;
  // The first IPv4 address of the host as text; on failure runs the result check, which raises the platform's
  // error for the lookup.
  virtual std::string GetHostByName(const std::string& host) = 0;
  virtual std::string GetHostName() = 0;
  virtual uint16_t HostToNetShort(uint16_t value) = 0;
  virtual uint16_t NetToHostShort(uint16_t value) = 0;
  virtual uint32_t HostToNetLong(uint32_t value) = 0;
  virtual uint32_t NetToHostLong(uint32_t value) = 0;
  virtual int Recv(TIdStackSocketHandle socket, void* buffer, int length) = 0;
  virtual int Send(TIdStackSocketHandle socket, const void* buffer, int length) = 0;
  virtual int SetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value, int length) = 0;
  virtual int Shutdown(TIdStackSocketHandle socket, int how) = 0;
  // The Windows socket error number of the last failed call on the calling thread.
  virtual int GetLastError() = 0;
  virtual int GetPeerName(TIdStackSocketHandle socket, std::string& ip, int& port) = 0;
  virtual int GetSockName(TIdStackSocketHandle socket, std::string& ip, int& port) = 0;

  // Waits until a socket of the lists is ready or the time runs out (TimeoutInfinite: no limit). A list with more
  // than kIdSelectSetCapacity sockets raises EIdStackSetSizeExceeded. Each given list is refilled with its ready
  // sockets. Returns the platform's raw result: the ready count, 0 on time-out, Id_SOCKET_ERROR on failure.
  int Select(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList, int timeoutMs);

  // ---- checked helpers ----
  // False when result is not Id_SOCKET_ERROR. Otherwise stores the platform's code in LastError and returns true
  // when that code is tolerated; any other code is raised as EIdSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  [[noreturn]] void RaiseSocketError(int errorCode);
  // A socket, or EIdInvalidSocket "Cannot allocate socket.".
  TIdStackSocketHandle NewSocket(int type, int protocol);
  // "localhost" in any case gives 127.0.0.1 and a dotted address stays as it is, both without a lookup; names in
  // the reserved "invalid" domain fail as unknown hosts without a lookup; anything else is looked up.
  std::string ResolveHost(const std::string& host);
  static bool IsDottedAddress(const std::string& text);
  static std::string AddressToText(const uint8_t address[4]);
  // Raises the runtime's integer conversion error for a part that is not an integer.
  static void TextToAddress(const std::string& text, uint8_t address[4]);

  int LastError() const { return lastError_; }
  const TIdStackVersion& Version() const { return version_; }

 protected:
  // Select on platform sets; the lists are already checked against the set capacity.
  virtual int PlatformSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                             int timeoutMs) = 0;
  // Makes the next GetLastError on this thread report the code (used for failures found without a platform call).
  virtual void SetLastError(int errorCode) = 0;

  TIdStackVersion version_;

 private:
  int lastError_ = 0;
};

// ---- process-wide state ----

// Creates the stack of the class chosen for the process (StackClass).
using TIdStackFactory = std::unique_ptr<TIdStack> (*)();
// The platform's stack: Winsock on Windows, BSD sockets elsewhere.
std::unique_ptr<TIdStack> NewPlatformStack();
// Chooses the class of stack that the first live network component creates; the platform's by default.
void SetStackClass(TIdStackFactory factory);
std::unique_ptr<TIdStack> NewStack();

// The one stack, or nullptr while no network component lives.
TIdStack* GStack();
// The number of live network components.
int IdStackInstanceCount();
// Counting of live components, under the stack lock: the first creates the stack, the last frees it. A failure to
// create the stack leaves the count unchanged and passes on.
void IdStackAddInstance();
void IdStackRemoveInstance();
