#include "net/IdSSLIOHandlerSocket.h"

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() { Close(); }

void TIdSSLIOHandlerSocket::ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                      int boundPortMin, int boundPortMax, int timeoutMs) {
  session_.reset();
  TIdIOHandlerSocket::ConnectTo(host, port, boundIP, boundPort, boundPortMin, boundPortMax, timeoutMs);
  auto session = TIdTLSSession::Create();
  session->Handshake(*Binding(), host, timeoutMs);
  session_ = std::move(session);
}

void TIdSSLIOHandlerSocket::Close() {
  if (session_ && Connected()) session_->Shutdown();
  session_.reset();
  TIdIOHandlerSocket::Close();
}

bool TIdSSLIOHandlerSocket::WaitReadable(int timeoutMs) {
  if (session_ && session_->Pending()) return true;
  return TIdIOHandlerSocket::WaitReadable(timeoutMs);
}

int TIdSSLIOHandlerSocket::Receive(void* buffer, int length) {
  if (!Connected() || !session_) throw EIdClosedSocket(IdResourceStrings::RSStatusDisconnected);
  return session_->Receive(buffer, length);
}

int TIdSSLIOHandlerSocket::Send(const void* buffer, int length) {
  if (!Connected() || !session_) throw EIdClosedSocket(IdResourceStrings::RSStatusDisconnected);
  return session_->Send(buffer, length);
}
