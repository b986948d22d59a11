#include "net/IdTCPClient.h"

#include "net/IdException.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "rtl/SysUtils.h"

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
  TScopeExit dropOnFailure([this] { DropSocket(); }, TScopeExitWhen::seOnFailure);
  ioHandler_->Open();
  ResetState();
  ioHandler_->ConnectTo(host_, port_, boundIP_, boundPort_, boundPortMin_, boundPortMax_,
                        timeoutMs == TimeoutDefault ? connectTimeout_ : timeoutMs);
  ReportStatus(stConnected, host_);
  DoConnectedEvent();
}

void TIdTCPClient::DoConnectedEvent() {
  if (OnConnected) OnConnected(this);
}

std::string TIdTCPClient::ConnectAndReadAll() {
  Connect();
  TScopeExit disconnect([this] { Disconnect(); });
  return ReadAll();
}
