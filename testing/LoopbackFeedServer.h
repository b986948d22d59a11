// A small HTTP server on 127.0.0.1 for tests of the whole program: it listens on a given port (the one a test build
// of the program fetches from; 0 for any), reads each request head, records it, and answers with whatever the test's
// reply function returns for it: an empty answer closes the connection without a reply, and no answer at all
// (std::nullopt) leaves the connection open and silent, as a stalled server does. Any number of connections, kept
// open until the client closes them. It runs on a thread of its own and stops at scope exit.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TLoopbackFeedServer {
 public:
  // requestIndex counts the requests received so far, from 0; requestHead is the request line and header lines
  // with the empty line that ends them.
  using TReplyFunction = std::function<std::optional<std::string>(int requestIndex, const std::string& requestHead)>;

  TLoopbackFeedServer(int port, TReplyFunction reply);
  ~TLoopbackFeedServer();
  TLoopbackFeedServer(const TLoopbackFeedServer&) = delete;
  TLoopbackFeedServer& operator=(const TLoopbackFeedServer&) = delete;

  // False (with Error()) when the port could not be bound.
  bool Listening() const { return listener_ != kNoSocket; }
  const std::string& Error() const { return error_; }
  int Port() const { return port_; }

  std::vector<std::string> Requests() const;
  int RequestCount() const;
  int ConnectionCount() const { return connections_.load(); }

  // A 200 reply with a Content-Length and the given extra header lines (each ending in CR LF).
  static std::string OkReply(const std::string& body, const std::string& extraHeaders = std::string());

 private:
  static constexpr intptr_t kNoSocket = -1;
  void Run();

  intptr_t listener_ = kNoSocket;
  int port_ = 0;
  std::string error_;
  TReplyFunction reply_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};
