// The socket stack over the BSD socket calls, for native builds. Failures carry the Windows socket error numbers,
// so a refused connection reads "Connection refused." here as it does on Windows.
#pragma once

#include "net/IdStack.h"

class TIdStackPosix : public TIdStack {
 public:
  TIdStackPosix();

  TIdStackSocketHandle Socket(int family, int type, int protocol) override;
  int Bind(TIdStackSocketHandle socket, const std::string& ip, int port) override;
  int CloseSocket(TIdStackSocketHandle socket) override;
  int Connect(TIdStackSocketHandle socket, int family, const std::string& ip, int port) override;
  std::string GetHostByName(const std::string& host) override;
  std::string GetHostName() override;
  uint16_t HostToNetShort(uint16_t value) override;
  uint16_t NetToHostShort(uint16_t value) override;
  uint32_t HostToNetLong(uint32_t value) override;
  uint32_t NetToHostLong(uint32_t value) override;
  int Recv(TIdStackSocketHandle socket, void* buffer, int length) override;
  int Send(TIdStackSocketHandle socket, const void* buffer, int length) override;
  int SetSockOpt(TIdStackSocketHandle socket, int level, int option, const void* value, int length) override;
  int Shutdown(TIdStackSocketHandle socket, int how) override;
  int GetLastError() override;
  int GetPeerName(TIdStackSocketHandle socket, std::string& ip, int& port) override;
  int GetSockName(TIdStackSocketHandle socket, std::string& ip, int& port) override;

  // The Windows socket error number for an errno value; values without one pass through unchanged.
  static int ErrnoToSocketError(int error);

 protected:
  int PlatformSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                     int timeoutMs) override;
  void SetLastError(int errorCode) override;
};
