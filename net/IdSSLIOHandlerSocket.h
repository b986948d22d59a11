// The TLS transport of a connection: the socket transport with a TLS session on top of it. The handshake follows the
// connect, sends the host's name (SNI) and checks the server's certificate chain against the system's trusted roots
// and its name against the host; from then on every byte received or sent passes through the session. The session
// is the platform's own: Schannel on Windows, OpenSSL elsewhere.
#pragma once

#include <memory>
#include <string>

#include "net/IdIOHandlerSocket.h"

// One TLS session over a connected socket, as each platform provides it.
class TIdTLSSession {
 public:
  virtual ~TIdTLSSession() = default;
  // Runs the handshake for the named host, waiting at most timeoutMs for each answer of the server (TimeoutDefault:
  // no limit). A failure raises EIdTLSError with a reason that names the host.
  virtual void Handshake(TIdSocketHandle& socket, const std::string& host, int timeoutMs) = 0;
  // Decrypted bytes already at hand, so a wait for the socket would be wrong.
  virtual bool Pending() = 0;
  // Byte counts; 0 once the peer ended the session or closed; Id_SOCKET_ERROR with the stack's last error set.
  virtual int Receive(void* buffer, int length) = 0;
  virtual int Send(const void* buffer, int length) = 0;
  // Tells the peer the session ends (best effort: nothing raises).
  virtual void Shutdown() = 0;

  // The platform's session.
  static std::unique_ptr<TIdTLSSession> Create();
};

class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
 public:
  explicit TIdSSLIOHandlerSocket(TComponent* owner) : TIdIOHandlerSocket(owner) {}
  ~TIdSSLIOHandlerSocket() override;

  // Connects as the socket transport does, then runs the TLS handshake for the host, within the same time-out for
  // each of the server's answers. A failed handshake leaves the socket allocated, as a failed connect does; the
  // caller closes it.
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort, int boundPortMin,
                 int boundPortMax, int timeoutMs) override;
  void Close() override;
  bool WaitReadable(int timeoutMs) override;
  int Receive(void* buffer, int length) override;
  int Send(const void* buffer, int length) override;

 private:
  std::unique_ptr<TIdTLSSession> session_;
};
