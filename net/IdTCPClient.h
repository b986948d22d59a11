// A TCP connection that opens itself to Host and Port.
#pragma once

#include <string>

#include "net/IdTCPConnection.h"

class TIdTCPClient : public TIdTCPConnection {
 public:
  explicit TIdTCPClient(TComponent* owner) : TIdTCPConnection(owner) {}

  // Raises EIdAlreadyConnected "Already connected." when connected. Without an I/O handler, makes a socket handler
  // of its own (freed by Disconnect) that reports through this component's OnStatus. Reports "Connected." and calls
  // OnConnected. On any failure the socket is dropped before the exception passes on. The default time-out is
  // ConnectTimeout.
  virtual void Connect(int timeoutMs = TimeoutDefault);
  // Connects, reads until the peer closes and disconnects, also when the read fails.
  virtual std::string ConnectAndReadAll();

  const std::string& BoundIP() const { return boundIP_; }
  void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
  int BoundPort() const { return boundPort_; }
  void SetBoundPort(int port) { boundPort_ = port; }
  int BoundPortMin() const { return boundPortMin_; }
  void SetBoundPortMin(int port) { boundPortMin_ = port; }
  int BoundPortMax() const { return boundPortMax_; }
  void SetBoundPortMax(int port) { boundPortMax_ = port; }
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& host) { host_ = host; }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  // The time a connect with the default time-out may take: TimeoutDefault (the default) leaves it to the
  // platform's own connect; any other value makes a timed connect, which raises EIdConnectTimeout when it runs out.
  int ConnectTimeout() const { return connectTimeout_; }
  // Whether the I/O handler a connect makes for itself speaks TLS (TIdSSLIOHandlerSocket) or plain TCP.
  bool UseTLS() const { return useTLS_; }
  void SetUseTLS(bool useTLS) { useTLS_ = useTLS; }
  void SetConnectTimeout(int timeoutMs) { connectTimeout_ = timeoutMs; }

  TNotifyEvent OnConnected;

 protected:
  virtual void DoConnectedEvent();

 private:
  std::string boundIP_;
  int boundPort_ = 0;
  int boundPortMin_ = 0;
  int boundPortMax_ = 0;
  std::string host_;
  int port_ = 0;
  int connectTimeout_ = TimeoutDefault;
  bool useTLS_ = false;
};
