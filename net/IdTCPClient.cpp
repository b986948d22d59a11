#include "net/IdTCPClient.h"

#include "net/IdException.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocket.h"

void TIdTCPClient::Connect(int timeoutMs) {
  if (ioHandler_ != nullptr && ioHandler_->Connected()) {
    throw EIdAlreadyConnected(IdResourceStrings::RSAlreadyConnected);
  }
  if (ioHandler_ == nullptr) {
    // Owned through the component owner: this component (or its owner's clean-up) frees it.
    TIdIOHandlerSocket* handler = useTLS_ ? new TIdSSLIOHandlerSocket(this) : new TIdIOHandlerSocket(this);
    handler->OnStatus = OnStatus;
    ioHandler_ = handler;
    freeIOHandlerOnDisconnect_ = true;
  }
  ioHandler_->SetDeadline(Deadline());
  try {
    ioHandler_->Open();
    ResetState();
    ioHandler_->ConnectTo(host_, port_, boundIP_, boundPort_, boundPortMin_, boundPortMax_,
                          timeoutMs == TimeoutDefault ? connectTimeout_ : timeoutMs);
    ReportStatus(stConnected, host_);
    DoConnectedEvent();
  } catch (...) {
    DropSocket();
    throw;
  }
}

void TIdTCPClient::DoConnectedEvent() {
  if (OnConnected) OnConnected(this);
}

std::string TIdTCPClient::ConnectAndReadAll() {
  Connect();
  std::string result;
  try {
    result = ReadAll();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return result;
}
