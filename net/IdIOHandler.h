// The transport of a connection: open, connect, wait for data, receive, send and close.
#pragma once

#include <cstdint>
#include <string>

#include "net/IdComponent.h"

class TIdIOHandler : public TIdComponent {
 public:
  explicit TIdIOHandler(TComponent* owner) : TIdComponent(owner) {}
  // Derived handlers close themselves in their own destructors, while they are still whole.
  ~TIdIOHandler() override = default;

  virtual void Close() {}
  // host and port: the target. boundIP, boundPort, boundPortMin and boundPortMax: the local side (empty and 0 for
  // any). timeoutMs: TimeoutDefault for the platform's own connect, anything else for a connect limited in time.
  virtual void ConnectTo(const std::string& /*host*/, int /*port*/, const std::string& /*boundIP*/, int /*boundPort*/,
                         int /*boundPortMin*/, int /*boundPortMax*/, int /*timeoutMs*/) {}
  virtual bool Connected() = 0;
  // The point (IdSteadyMilliseconds) that no wait of this transport goes past, connect included; 0: none. Reaching
  // it raises EIdReplyTimeout.
  virtual void SetDeadline(int64_t /*deadline*/) {}
  virtual void Open() {}
  virtual bool WaitReadable(int timeoutMs) = 0;
  // Byte counts, or Id_SOCKET_ERROR with the stack's last error set.
  virtual int Receive(void* buffer, int length) = 0;
  virtual int Send(const void* buffer, int length) = 0;
};
