// One socket, owned: allocation, binding (also within a range of local ports), connecting, waiting for data and
// closing. The raw results of connect, receive and send go up to the caller, who decides what a failure means.
#pragma once

#include <cstdint>
#include <string>

#include "net/IdStack.h"

// The steady clock in milliseconds: what a deadline is a point of.
int64_t IdSteadyMilliseconds();

class TIdSocketHandle : public TObject {
 public:
  // Needs a live network component (the socket stack exists only while one lives).
  TIdSocketHandle() = default;
  // Closes the socket if one is still held.
  ~TIdSocketHandle() override;
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  // Copies IP, Port, PeerIP and PeerPort from another handle.
  void Assign(const TIdSocketHandle& source);

  // Closes any socket still held, then creates one. Raises EIdInvalidSocket "Cannot allocate socket.".
  void Allocate(int socketType = Id_SOCK_STREAM, int protocol = Id_IPPROTO_IP);
  // Binds to IP (empty: any address) and Port; with Port 0 and a non-zero ClientPortMin and ClientPortMax, to the
  // highest free port of that range. Raises EIdCouldNotBindSocket, EIdInvalidPortRange or EIdCanNotBindPortInRange,
  // and EIdSocketError for failures other than a port in use.
  void Bind();
  void SetPeer(const std::string& ip, int port);
  // The raw result of connect to PeerIP:PeerPort; on success both sides' addresses are refreshed.
  int Connect(int family = Id_AF_INET);
  // True when data (or the peer's close) is waiting within the time. Raises EIdConnClosedGracefully "Connection
  // Closed Gracefully." when no socket is held. A failing wait counts as no data. A wait never goes past the
  // deadline: one that reaches it closes the socket and raises EIdReplyTimeout "Reply took too long.".
  bool WaitReadable(int timeoutMs);
  // recv and send with no flags; raw results. Under a deadline a receive first waits for data until then, so that
  // no receive (a TLS layer's among them) blocks past it.
  int Receive(void* buffer, int length);
  int Send(const void* buffer, int length);
  // setsockopt, with the result check.
  void SetOption(int level, int option, const void* value, int length);
  // Shuts down sending and releases the socket; Handle keeps its number until Reset. A second Close does nothing.
  void Close();
  // Forgets the socket (without closing it) and the peer; also the local side when asked.
  void Reset(bool resetLocal = true);

  // The point (IdSteadyMilliseconds) that no wait on this socket goes past; 0: none.
  int64_t Deadline() const { return deadline_; }
  void SetDeadline(int64_t deadline) { deadline_ = deadline; }
  // The milliseconds left before the deadline, at most timeoutMs (TimeoutInfinite: no limit of its own). When the
  // deadline has passed, closes the socket and raises EIdReplyTimeout.
  int TimeLeft(int timeoutMs);

  TIdStackSocketHandle Handle() const { return handle_; }
  bool HandleAllocated() const { return handleAllocated_; }
  const std::string& IP() const { return ip_; }
  void SetIP(const std::string& ip) { ip_ = ip; }
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  const std::string& PeerIP() const { return peerIP_; }
  int PeerPort() const { return peerPort_; }
  int ClientPortMin() const { return clientPortMin_; }
  void SetClientPortMin(int port) { clientPortMin_ = port; }
  int ClientPortMax() const { return clientPortMax_; }
  void SetClientPortMax(int port) { clientPortMax_ = port; }

 private:
  [[noreturn]] void RaiseReplyTimeout();
  // One bind try on Port: true on success, false when the address is in use.
  bool TryBind();
  void UpdateBindingLocal();
  void UpdateBindingPeer();

  TIdStackSocketHandle handle_ = kIdInvalidSocket;
  bool handleAllocated_ = false;
  std::string ip_;
  std::string peerIP_;
  int port_ = 0;
  int peerPort_ = 0;
  int clientPortMin_ = 0;
  int clientPortMax_ = 0;
  int64_t deadline_ = 0;
};
