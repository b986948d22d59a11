// A scripted TCP peer for tests: listens on 127.0.0.1 on a port the system chooses and, on a thread of its own,
// plays a list of steps against whatever connects: read up to a marker, send, pause, close gracefully or with a
// reset, accept another connection. It records every byte it receives. Every wait is bounded by the script's time
// limit, and the peer stops (closing its sockets) when it goes out of scope.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedPeer {
 public:
  struct Step {
    enum class Kind { kAccept, kReadUntil, kSend, kSleep, kClose, kReset };
    Kind kind;
    std::string text;
    size_t count = 0;
  };

  // Accepts the next connection, which becomes the current one (the previous one stays open until the script
  // ends). A step that needs a connection when none is current accepts one first, so scripts usually start with
  // what they expect to read.
  static Step Accept() { return {Step::Kind::kAccept, {}, 0}; }
  // Waits until the marker has arrived on the current connection, after everything earlier steps consumed.
  static Step ReadUntil(const std::string& marker) { return {Step::Kind::kReadUntil, marker, 0}; }
  static Step Send(const std::string& bytes) { return SendRepeated(bytes, 1); }
  // Sends the bytes times times over (large bodies without a large string).
  static Step SendRepeated(const std::string& bytes, size_t times) { return {Step::Kind::kSend, bytes, times}; }
  static Step Sleep(int milliseconds) { return {Step::Kind::kSleep, {}, static_cast<size_t>(milliseconds)}; }
  // A graceful close: the end of the stream, then the socket is released.
  static Step Close() { return {Step::Kind::kClose, {}, 0}; }
  // An abortive close: the other side gets a connection reset.
  static Step Reset() { return {Step::Kind::kReset, {}, 0}; }

  explicit ScriptedPeer(std::vector<Step> steps, int timeLimitMs = 10000);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int Port() const { return port_; }
  // What arrived on one connection (0 = the first accepted).
  std::string Received(size_t connection = 0) const;
  size_t Connections() const;
  // Waits (at most timeoutMs) for the script to end; true when it has.
  bool WaitDone(int timeoutMs) const;
  // Empty when every step ran as scripted; otherwise what went wrong, with the step's number.
  std::string Error() const;

 private:
  struct Connection;
  void Run();
  bool RunStep(size_t index, const Step& step);
  bool AcceptOne();
  // Receives what is there (waiting up to one slice); marks the connection when the other side closed or failed.
  void ReceiveSome(Connection& connection);
  bool SendAll(const char* bytes, size_t length);
  bool TimeLeft() const;
  void Fail(size_t index, const std::string& what);

  std::vector<Step> steps_;
  long long deadline_ = 0;  // steady-clock milliseconds
  intptr_t listener_ = -1;
  int port_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  Connection* current_ = nullptr;

  mutable std::mutex mutex_;
  mutable std::condition_variable doneChanged_;
  std::vector<std::string> received_;
  std::string error_;
  bool done_ = false;
  bool stop_ = false;
  std::thread thread_;
};
