#include "net/IdIOHandlerSocket.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

using namespace IdResourceStrings;

namespace {

// Runs the blocking connect of a binding on a thread of its own, so that the caller can give up after a time. It
// touches nothing but its binding; the caller waits for it before going on.
class TIdConnectThread {
 public:
  explicit TIdConnectThread(TIdSocketHandle& binding) : binding_(binding), thread_([this] { Execute(); }) {}
  ~TIdConnectThread() { WaitFor(); }
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  // True when the connect finished within the time.
  bool WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_changed_.wait_for(lock, timeout, [this] { return finished_; });
  }
  void WaitFor() {
    if (thread_.joinable()) thread_.join();
  }
  bool HasError() const { return hasError_; }
  const std::string& ErrorMessage() const { return errorMessage_; }

 private:
  void Execute() {
    try {
      TIdStack* stack = GStack();
      // A socket closed under the pending connect (the caller gave up) is not this thread's failure to report.
      stack->CheckSocketResult(binding_.Connect(Id_AF_INET), {Id_WSAEBADF, Id_WSAENOTSOCK});
    } catch (const Exception& e) {
      hasError_ = true;
      errorMessage_ = e.Message();
    } catch (const std::exception& e) {
      hasError_ = true;
      errorMessage_ = e.what();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    finished_changed_.notify_all();
  }

  TIdSocketHandle& binding_;
  std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool finished_ = false;
  bool hasError_ = false;
  std::string errorMessage_;
  std::thread thread_;  // last: starts once everything above is built
};

}  // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() { Close(); }

void TIdIOHandlerSocket::Open() {
  if (binding_) {
    // Close before forgetting, so that a socket still held is not leaked.
    binding_->Close();
    binding_->Reset(true);
  } else {
    binding_ = std::make_unique<TIdSocketHandle>();
  }
  binding_->SetDeadline(deadline_);
}

void TIdIOHandlerSocket::SetDeadline(int64_t deadline) {
  deadline_ = deadline;
  if (binding_) binding_->SetDeadline(deadline);
}

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                                   int boundPortMin, int boundPortMax, int timeoutMs) {
  if (!binding_) Open();
  TIdStack* stack = GStack();
  binding_->Allocate(Id_SOCK_STREAM, Id_IPPROTO_IP);
  binding_->SetIP(boundIP);
  binding_->SetPort(boundPort);
  binding_->SetClientPortMin(boundPortMin);
  binding_->SetClientPortMax(boundPortMax);
  binding_->Bind();

  if (!TIdStack::IsDottedAddress(host)) ReportStatus(stResolving, host);
  binding_->SetPeer(stack->ResolveHost(host), port);

  if (!useNagle_) {
    const int32_t enabled = 1;
    binding_->SetOption(Id_IPPROTO_TCP, Id_TCP_NODELAY, &enabled, sizeof enabled);
  }
  ReportStatus(stConnecting, binding_->PeerIP());

  if (timeoutMs == TimeoutDefault && deadline_ == 0) {
    stack->CheckSocketResult(binding_->Connect(Id_AF_INET));
  } else {
    // Under a deadline even the platform's own connect gets no more than the time that is left.
    const int wanted = timeoutMs == TimeoutDefault ? TimeoutInfinite : timeoutMs;
    const int left = binding_->TimeLeft(wanted);
    TimedConnect(left, left != wanted);
  }
}

void TIdIOHandlerSocket::TimedConnect(int timeoutMs, bool cutByDeadline) {
  TIdConnectThread thread(*binding_);
  // A negative time other than the default means no time at all, like 0.
  const auto limit = std::chrono::milliseconds(timeoutMs == TimeoutInfinite ? INT32_MAX : std::max(timeoutMs, 0));
  if (!thread.WaitFinished(limit)) {
    // Closing the socket makes the pending connect fail, which ends the thread.
    Close();
    thread.WaitFor();
    if (cutByDeadline) throw EIdReplyTimeout(RSReplyTimeout);
    throw EIdConnectTimeout(RSConnectTimeout);
  }
  thread.WaitFor();
  if (thread.HasError()) throw EIdConnectException(thread.ErrorMessage());
}

bool TIdIOHandlerSocket::Connected() { return binding_ && binding_->HandleAllocated(); }

void TIdIOHandlerSocket::Close() {
  if (binding_) binding_->Close();
}

bool TIdIOHandlerSocket::WaitReadable(int timeoutMs) {
  if (!binding_) throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  return binding_->WaitReadable(timeoutMs);
}

int TIdIOHandlerSocket::Receive(void* buffer, int length) {
  if (!Connected()) throw EIdClosedSocket(RSStatusDisconnected);
  return binding_->Receive(buffer, length);
}

int TIdIOHandlerSocket::Send(const void* buffer, int length) {
  if (!Connected()) throw EIdClosedSocket(RSStatusDisconnected);
  return binding_->Send(buffer, length);
}
