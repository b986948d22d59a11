// The socket transport of a TCP connection.
#pragma once

#include <memory>
#include <string>

#include "net/IdIOHandler.h"
#include "net/IdSocketHandle.h"

class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  explicit TIdIOHandlerSocket(TComponent* owner);
  ~TIdIOHandlerSocket() override;

  // Starts a connection afresh: an existing binding is closed and reset (local side included), else one is made.
  void Open() override;
  // Allocates a stream socket, binds it (bound address and ports; any when empty), resolves the host, reports
  // "Resolving hostname %s." (only for names) and "Connecting to %s.", then connects. With TimeoutDefault the
  // platform's own connect decides (EIdSocketError on failure); with another time-out the connect runs on a helper
  // thread and fails with EIdConnectTimeout "Connect timed out." or EIdConnectException with the failure's text.
  // On failure the socket stays allocated; the caller closes it.
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int boundPortMin,
                 int boundPortMax, int timeoutMs) override;
  bool Connected() override;
  void SetDeadline(int64_t deadline) override;
  void Close() override;
  // Raises EIdConnClosedGracefully when no socket is held.
  bool WaitReadable(int timeoutMs) override;
  // Raise EIdClosedSocket "Disconnected." when no socket is held.
  int Receive(void* buffer, int length) override;
  int Send(const void* buffer, int length) override;

  // The socket; none until the first Open.
  TIdSocketHandle* Binding() const { return binding_.get(); }
  // When false, small writes go out at once (TCP_NODELAY).
  bool UseNagle() const { return useNagle_; }
  void SetUseNagle(bool useNagle) { useNagle_ = useNagle; }

 private:
  // cutByDeadline: the time is what was left before the deadline, so running out of it is the deadline's failure.
  void TimedConnect(int timeoutMs, bool cutByDeadline);

  std::unique_ptr<TIdSocketHandle> binding_;
  bool useNagle_ = true;
  int64_t deadline_ = 0;
};
