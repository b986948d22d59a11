#include "net/IdSocketHandle.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

using namespace IdResourceStrings;

int64_t IdSteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TIdSocketHandle::~TIdSocketHandle() {
  // A handle must not leave an open socket behind; the stack still exists, because a live component owns us.
  if (handleAllocated_ && GStack() != nullptr) Close();
}

void TIdSocketHandle::Assign(const TIdSocketHandle& source) {
  ip_ = source.ip_;
  port_ = source.port_;
  peerIP_ = source.peerIP_;
  peerPort_ = source.peerPort_;
}

void TIdSocketHandle::Allocate(int socketType, int protocol) {
  Close();
  handle_ = GStack()->NewSocket(socketType, protocol);
  handleAllocated_ = true;
}

void TIdSocketHandle::Bind() {
  if (port_ == 0 && clientPortMin_ != 0 && clientPortMax_ != 0) {
    if (clientPortMin_ > clientPortMax_) {
      throw EIdInvalidPortRange(Format(RSInvalidPortRange, clientPortMin_, clientPortMax_));
    }
    for (int port = clientPortMax_; port >= clientPortMin_; --port) {
      port_ = port;
      if (TryBind()) return;
    }
    throw EIdCanNotBindPortInRange(Format(RSCannotBindRange, clientPortMin_, clientPortMax_));
  }
  if (!TryBind()) throw EIdCouldNotBindSocket(RSCouldNotBindSocket);
}

bool TIdSocketHandle::TryBind() {
  TIdStack* stack = GStack();
  if (stack->CheckSocketResult(stack->Bind(handle_, ip_, port_), {Id_WSAEADDRINUSE})) return false;
  UpdateBindingLocal();
  return true;
}

void TIdSocketHandle::UpdateBindingLocal() {
  TIdStack* stack = GStack();
  std::string ip;
  int port = 0;
  stack->CheckSocketResult(stack->GetSockName(handle_, ip, port));
  ip_ = ip;
  port_ = port;
}

void TIdSocketHandle::UpdateBindingPeer() {
  TIdStack* stack = GStack();
  std::string ip;
  int port = 0;
  stack->CheckSocketResult(stack->GetPeerName(handle_, ip, port));
  peerIP_ = ip;
  peerPort_ = port;
}

void TIdSocketHandle::SetPeer(const std::string& ip, int port) {
  peerIP_ = ip;
  peerPort_ = port;
}

int TIdSocketHandle::Connect(int family) {
  int result = GStack()->Connect(handle_, family, peerIP_, peerPort_);
  if (result != Id_SOCKET_ERROR) {
    UpdateBindingLocal();
    UpdateBindingPeer();
  }
  return result;
}

void TIdSocketHandle::RaiseReplyTimeout() {
  // Whatever of the exchange is still on its way would be read out of step with the next one: the socket goes.
  Close();
  throw EIdReplyTimeout(RSReplyTimeout);
}

int TIdSocketHandle::TimeLeft(int timeoutMs) {
  if (deadline_ == 0) return timeoutMs;
  const int64_t left = deadline_ - IdSteadyMilliseconds();
  if (left <= 0) RaiseReplyTimeout();
  return timeoutMs == TimeoutInfinite ? static_cast<int>(std::min<int64_t>(left, INT32_MAX))
                                      : static_cast<int>(std::min<int64_t>(left, std::max(timeoutMs, 0)));
}

bool TIdSocketHandle::WaitReadable(int timeoutMs) {
  if (!handleAllocated_) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  const int wait = TimeLeft(timeoutMs);
  TIdSocketList readList{handle_};
  if (GStack()->Select(&readList, nullptr, nullptr, wait) == 1) return true;
  // A wait that the deadline cut short is the end of the exchange, not an ordinary time-out.
  if (wait != timeoutMs) RaiseReplyTimeout();
  return false;
}

int TIdSocketHandle::Receive(void* buffer, int length) {
  // Under a deadline every wait is cut short by it, so this one either finds data or raises.
  if (deadline_ != 0) WaitReadable(TimeoutInfinite);
  return GStack()->Recv(handle_, buffer, length);
}

int TIdSocketHandle::Send(const void* buffer, int length) { return GStack()->Send(handle_, buffer, length); }

void TIdSocketHandle::SetOption(int level, int option, const void* value, int length) {
  TIdStack* stack = GStack();
  stack->CheckSocketResult(stack->SetSockOpt(handle_, level, option, value, length));
}

void TIdSocketHandle::Close() {
  if (!handleAllocated_) return;
  handleAllocated_ = false;
  // Results ignored: the socket is released whatever the peer has done.
  GStack()->Shutdown(handle_, Id_SD_SEND);
  GStack()->CloseSocket(handle_);
}

void TIdSocketHandle::Reset(bool resetLocal) {
  handleAllocated_ = false;
  handle_ = kIdInvalidSocket;
  if (resetLocal) {
    ip_.clear();
    port_ = 0;
  }
  peerIP_.clear();
  peerPort_ = 0;
}
