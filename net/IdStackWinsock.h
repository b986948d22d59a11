// The socket stack over the Windows socket library, loaded by name at run time and started for version 2.2.
#pragma once

#include <memory>
#include <string>

#include "net/IdStack.h"

class TIdStackWinsock : public TIdStack {
 public:
  // Loads the library, looks up its entry points and starts it. Raises EIdStackCanNotLoadWinsock "%s could not be
  // loaded." when the library (or an entry point a fetch needs) is missing, and EIdStackInitializationFailed when
  // it does not start.
  explicit TIdStackWinsock(const std::string& libraryName = "wsock32.dll");
  // Cancels any blocking call, ends the library's use and unloads it.
  ~TIdStackWinsock() override;

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

  // How many of the library's entry points were found (51 in a complete library).
  int EntryPointCount() const;

 protected:
  int PlatformSelect(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList,
                     int timeoutMs) override;
  void SetLastError(int errorCode) override;

 private:
  struct Library;
  std::unique_ptr<Library> library_;
};
