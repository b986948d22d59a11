#include "testing/ScriptedPeer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using PeerSocket = SOCKET;
using PeerLength = int;
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
using PeerSocket = int;
using PeerLength = socklen_t;
#endif

namespace {

// Each wait lasts at most this long before the stop flag and the deadline are looked at again.
constexpr int kSliceMs = 20;
constexpr size_t kReceiveChunk = 65536;

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PeerSocket AsSocket(intptr_t value) { return static_cast<PeerSocket>(value); }

void CloseSocket(intptr_t socket) {
  if (socket == -1) return;
#if defined(_WIN32)
  ::closesocket(AsSocket(socket));
#else
  ::close(static_cast<int>(socket));
#endif
}

void MakeNonBlocking(intptr_t socket) {
#if defined(_WIN32)
  u_long on = 1;
  ::ioctlsocket(AsSocket(socket), FIONBIO, &on);
#else
  int flags = ::fcntl(static_cast<int>(socket), F_GETFL, 0);
  ::fcntl(static_cast<int>(socket), F_SETFL, flags | O_NONBLOCK);
#endif
}

bool WouldBlock() {
#if defined(_WIN32)
  return ::WSAGetLastError() == WSAEWOULDBLOCK;
#else
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

// Waits one slice for the socket to become readable (or writable); true when it has.
bool WaitSlice(intptr_t socket, bool forWriting) {
#if defined(_WIN32)
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(socket), &set);
  timeval limit{0, kSliceMs * 1000};
  int ready = forWriting ? ::select(0, nullptr, &set, nullptr, &limit) : ::select(0, &set, nullptr, nullptr, &limit);
  return ready > 0;
#else
  pollfd entry{static_cast<int>(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  return ::poll(&entry, 1, kSliceMs) > 0;
#endif
}

#if defined(_WIN32)
// Winsock is reference-counted: every peer starts it and ends its own use of it.
struct WinsockUse {
  WinsockUse() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("ScriptedPeer: WSAStartup failed");
  }
  ~WinsockUse() { ::WSACleanup(); }
};
#endif

}  // namespace

struct ScriptedPeer::Connection {
  intptr_t socket = -1;
  size_t index = 0;     // in received_
  size_t consumed = 0;  // bytes of received_[index] that earlier steps used up
  bool closedByOther = false;
  ~Connection() { CloseSocket(socket); }
};

ScriptedPeer::Step ScriptedPeer::Accept() { return Step{Step::Kind::kAccept, {}, 0}; }
ScriptedPeer::Step ScriptedPeer::ExpectBytes(size_t n) { return Step{Step::Kind::kExpectBytes, {}, n}; }
ScriptedPeer::Step ScriptedPeer::ReadUntil(const std::string& marker) {
  return Step{Step::Kind::kReadUntil, marker, 0};
}
ScriptedPeer::Step ScriptedPeer::ExpectClose() { return Step{Step::Kind::kExpectClose, {}, 0}; }
ScriptedPeer::Step ScriptedPeer::Send(const std::string& bytes) { return Step{Step::Kind::kSend, bytes, 1}; }
ScriptedPeer::Step ScriptedPeer::SendRepeated(const std::string& bytes, size_t times) {
  return Step{Step::Kind::kSend, bytes, times};
}
ScriptedPeer::Step ScriptedPeer::Sleep(int milliseconds) {
  return Step{Step::Kind::kSleep, {}, static_cast<size_t>(std::max(milliseconds, 0))};
}
ScriptedPeer::Step ScriptedPeer::ShutdownSend() { return Step{Step::Kind::kShutdownSend, {}, 0}; }
ScriptedPeer::Step ScriptedPeer::Close() { return Step{Step::Kind::kClose, {}, 0}; }
ScriptedPeer::Step ScriptedPeer::Reset() { return Step{Step::Kind::kReset, {}, 0}; }

ScriptedPeer::ScriptedPeer(std::vector<Step> steps, int timeLimitMs)
    : steps_(std::move(steps)), timeLimitMs_(timeLimitMs) {
#if defined(_WIN32)
  static thread_local WinsockUse winsock;  // started once per thread that makes peers, ended with that thread
#endif
  PeerSocket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == static_cast<PeerSocket>(-1)) throw std::runtime_error("ScriptedPeer: socket failed");
  listener_ = static_cast<intptr_t>(listener);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  PeerLength length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 8) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(listener_);
    throw std::runtime_error("ScriptedPeer: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  MakeNonBlocking(listener_);
  deadline_ = NowMs() + timeLimitMs_;
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  connections_.clear();
  CloseSocket(listener_);
}

std::string ScriptedPeer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string all;
  for (const std::string& bytes : received_) all += bytes;
  return all;
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
    if (!WaitSlice(listener_, false)) continue;
    PeerSocket socket = ::accept(AsSocket(listener_), nullptr, nullptr);
    if (socket == static_cast<PeerSocket>(-1)) continue;
    auto connection = std::make_unique<Connection>();
    connection->socket = static_cast<intptr_t>(socket);
    MakeNonBlocking(connection->socket);
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

bool ScriptedPeer::EnsureConnection() { return current_ != nullptr || AcceptOne(); }

bool ScriptedPeer::ReceiveSome(Connection& connection, bool& closed) {
  closed = false;
  if (connection.closedByOther) {
    closed = true;
    return false;
  }
  if (!WaitSlice(connection.socket, false)) return true;
  char chunk[kReceiveChunk];
  for (;;) {
    auto n = ::recv(AsSocket(connection.socket), chunk, static_cast<int>(sizeof chunk), 0);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      received_[connection.index].append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && WouldBlock()) return true;
    // 0: the other side closed; an error: it went away (a reset, for example).
    connection.closedByOther = true;
    closed = true;
    return false;
  }
}

bool ScriptedPeer::SendAll(const char* bytes, size_t length) {
  size_t sent = 0;
  while (sent < length) {
    if (!TimeLeft()) return false;
    int piece = static_cast<int>(std::min<size_t>(length - sent, 1 << 20));
#if defined(_WIN32)
    auto n = ::send(AsSocket(current_->socket), bytes + sent, piece, 0);
#else
    auto n = ::send(current_->socket, bytes + sent, static_cast<size_t>(piece), MSG_NOSIGNAL);
#endif
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && WouldBlock()) {
      WaitSlice(current_->socket, true);
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
  if (!EnsureConnection()) {
    Fail(index, "no connection came in time");
    return false;
  }
  Connection& connection = *current_;
  auto buffered = [this, &connection] {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_[connection.index].size() - connection.consumed;
  };

  switch (step.kind) {
    case Kind::kExpectBytes:
    case Kind::kReadUntil:
    case Kind::kExpectClose: {
      for (;;) {
        if (step.kind == Kind::kExpectBytes && buffered() >= step.count) {
          connection.consumed += step.count;
          return true;
        }
        if (step.kind == Kind::kReadUntil) {
          std::lock_guard<std::mutex> lock(mutex_);
          const std::string& bytes = received_[connection.index];
          size_t at = bytes.find(step.text, connection.consumed);
          if (at != std::string::npos) {
            connection.consumed = at + step.text.size();
            return true;
          }
        }
        if (!TimeLeft()) {
          Fail(index, "time limit reached while reading");
          return false;
        }
        bool closed = false;
        ReceiveSome(connection, closed);
        if (closed) {
          if (step.kind == Kind::kExpectClose) {
            std::lock_guard<std::mutex> lock(mutex_);
            connection.consumed = received_[connection.index].size();
            return true;
          }
          // What arrived with the close may still complete the step; look once more before failing.
          if (step.kind == Kind::kExpectBytes && buffered() >= step.count) continue;
          if (step.kind == Kind::kReadUntil) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (received_[connection.index].find(step.text, connection.consumed) != std::string::npos) continue;
          }
          Fail(index, "the other side closed the connection");
          return false;
        }
      }
    }
    case Kind::kSend:
      for (size_t i = 0; i < step.count; ++i) {
        if (!SendAll(step.text.data(), step.text.size())) {
          Fail(index, "send failed or time limit reached");
          return false;
        }
      }
      return true;
    case Kind::kShutdownSend:
      ::shutdown(AsSocket(connection.socket), 1);
      return true;
    case Kind::kClose: {
      // The end of the stream first; then whatever the other side had already sent is read, so that releasing
      // the socket does not turn the close into a reset.
      ::shutdown(AsSocket(connection.socket), 1);
      bool closed = false;
      ReceiveSome(connection, closed);
      CloseSocket(connection.socket);
      connection.socket = -1;
      current_ = nullptr;
      return true;
    }
    case Kind::kReset: {
      linger abortive{};
      abortive.l_onoff = 1;
      abortive.l_linger = 0;
      ::setsockopt(AsSocket(connection.socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
                   sizeof abortive);
      CloseSocket(connection.socket);
      connection.socket = -1;
      current_ = nullptr;
      return true;
    }
    default:
      return true;
  }
}
