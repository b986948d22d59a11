#include "testing/ScriptedPeer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "testing/TestSocket.h"

namespace ts = test_socket;

namespace {

// Each wait lasts at most this long before the stop flag and the deadline are looked at again.
constexpr int kSliceMs = 20;
constexpr size_t kReceiveChunk = 65536;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct ScriptedPeer::Connection {
  intptr_t socket = -1;
  size_t index = 0;     // in received_
  size_t consumed = 0;  // bytes of received_[index] that earlier steps used up
  bool closedByOther = false;
  ~Connection() { ts::Close(socket); }
};

ScriptedPeer::ScriptedPeer(std::vector<Step> steps, int timeLimitMs) : steps_(std::move(steps)) {
  listener_ = ts::Listen(0, &port_);
  if (listener_ == ts::kNone) throw std::runtime_error("ScriptedPeer: cannot listen on 127.0.0.1");
  ts::MakeNonBlocking(listener_);
  deadline_ = NowMs() + timeLimitMs;
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  connections_.clear();
  ts::Close(listener_);
}

std::string ScriptedPeer::Received(size_t connection) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connection < received_.size() ? received_[connection] : std::string();
}

size_t ScriptedPeer::Connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_.size();
}

bool ScriptedPeer::WaitDone(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return doneChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

std::string ScriptedPeer::Error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

bool ScriptedPeer::TimeLeft() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !stop_ && NowMs() < deadline_;
}

void ScriptedPeer::Fail(size_t index, const std::string& what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_.empty()) error_ = "step " + std::to_string(index + 1) + ": " + what;
}

void ScriptedPeer::Run() {
  for (size_t i = 0; i < steps_.size(); ++i) {
    if (!RunStep(i, steps_[i])) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  doneChanged_.notify_all();
}

bool ScriptedPeer::AcceptOne() {
  while (TimeLeft()) {
    if (!ts::WaitReady(listener_, false, kSliceMs)) continue;
    intptr_t socket = ts::Accept(listener_);
    if (socket == ts::kNone) continue;
    auto connection = std::make_unique<Connection>();
    connection->socket = socket;
    ts::MakeNonBlocking(socket);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connection->index = received_.size();
      received_.emplace_back();
    }
    current_ = connection.get();
    connections_.push_back(std::move(connection));
    return true;
  }
  return false;
}

void ScriptedPeer::ReceiveSome(Connection& connection) {
  if (connection.closedByOther || !ts::WaitReady(connection.socket, false, kSliceMs)) return;
  char chunk[kReceiveChunk];
  for (;;) {
    long n = ts::Receive(connection.socket, chunk, sizeof chunk);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_[connection.index].append(chunk, static_cast<size_t>(n));
      continue;
    }
    // Below zero without a wait: an error, the other side went away (a reset, for example); 0: it closed.
    connection.closedByOther = !(n < 0 && ts::WouldBlock());
    return;
  }
}

bool ScriptedPeer::SendAll(const char* bytes, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    if (!TimeLeft()) return false;
    long n = ts::Send(current_->socket, bytes + sent, std::min<size_t>(length - sent, 1 << 20));
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && ts::WouldBlock()) {
      ts::WaitReady(current_->socket, true, kSliceMs);
    } else {
      return false;
    }
  }
  return true;
}

bool ScriptedPeer::RunStep(size_t index, const Step& step) {
  using Kind = Step::Kind;
  if (step.kind == Kind::kAccept) {
    if (!AcceptOne()) {
      Fail(index, "no connection came in time");
      return false;
    }
    return true;
  }
  if (step.kind == Kind::kSleep) {
    const long long until = NowMs() + static_cast<long long>(step.count);
    while (NowMs() < until && TimeLeft()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(kSliceMs, until - NowMs())));
    }
    if (!TimeLeft()) {
      Fail(index, "time limit reached while sleeping");
      return false;
    }
    return true;
  }
  if (current_ == nullptr && !AcceptOne()) {
    Fail(index, "no connection came in time");
    return false;
  }
  Connection& connection = *current_;

  switch (step.kind) {
    case Kind::kReadUntil: {
      // Whether what arrived so far completes the step; the bytes it takes are used up when it does.
      auto complete = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t at = received_[connection.index].find(step.text, connection.consumed);
        if (at == std::string::npos) return false;
        connection.consumed = at + step.text.size();
        return true;
      };
      // What arrived with a close may still complete the step: it is looked at once more before failing.
      while (!complete()) {
        if (connection.closedByOther || !TimeLeft()) {
          Fail(index,
               connection.closedByOther ? "the other side closed the connection" : "time limit reached while reading");
          return false;
        }
        ReceiveSome(connection);
      }
      return true;
    }
    case Kind::kSend:
      for (size_t i = 0; i < step.count; ++i) {
        if (!SendAll(step.text.data(), step.text.size())) {
          Fail(index, "send failed or time limit reached");
          return false;
        }
      }
      return true;
    case Kind::kClose: {
      // The end of the stream first; then whatever the other side had already sent is read, so that releasing
      // the socket does not turn the close into a reset.
      ts::ShutdownSend(connection.socket);
      ReceiveSome(connection);
      ts::Close(connection.socket);
      connection.socket = -1;
      current_ = nullptr;
      return true;
    }
    case Kind::kReset: {
      ts::Reset(connection.socket);
      connection.socket = -1;
      current_ = nullptr;
      return true;
    }
    default:
      return true;
  }
}
