#include "testing/LoopbackFeedServer.h"

#include <memory>

#include "testing/TestSocket.h"

namespace ts = test_socket;

namespace {

constexpr int kSliceMs = 20;

struct ClientConnection {
  intptr_t socket;
  std::string pending;  // received bytes not yet answered
};

}  // namespace

TLoopbackFeedServer::TLoopbackFeedServer(int port, TReplyFunction reply) : reply_(std::move(reply)) {
  listener_ = ts::Listen(port, &port_);
  if (listener_ == kNoSocket) {
    error_ = "cannot listen on 127.0.0.1:" + std::to_string(port);
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

TLoopbackFeedServer::~TLoopbackFeedServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ts::Close(listener_);
}

std::vector<std::string> TLoopbackFeedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int TLoopbackFeedServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(requests_.size());
}

std::string TLoopbackFeedServer::OkReply(const std::string& body, const std::string& extraHeaders) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

void TLoopbackFeedServer::Run() {
  std::vector<ClientConnection> clients;
  while (!stop_) {
    // Connections are few and short-lived: one slice of waiting on the listener, then a look at each client.
    if (ts::WaitReady(listener_, false, clients.empty() ? kSliceMs : 1)) {
      intptr_t accepted = ts::Accept(listener_);
      if (accepted != ts::kNone) {
        clients.push_back({accepted, std::string()});
        ++connections_;
      }
    }
    for (size_t i = 0; i < clients.size();) {
      ClientConnection& client = clients[i];
      bool closed = false;
      if (ts::WaitReady(client.socket, false, kSliceMs / 4)) {
        char chunk[4096];
        long n = ts::Receive(client.socket, chunk, sizeof chunk);
        if (n <= 0) {
          closed = true;
        } else {
          client.pending.append(chunk, static_cast<size_t>(n));
        }
      }
      // Every complete request head gets its answer, in order.
      size_t end;
      while (!closed && (end = client.pending.find("\r\n\r\n")) != std::string::npos) {
        const std::string head = client.pending.substr(0, end + 4);
        client.pending.erase(0, end + 4);
        int index;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          index = static_cast<int>(requests_.size());
          requests_.push_back(head);
        }
        const std::optional<std::string> reply = reply_ ? reply_(index, head) : std::string();
        if (!reply) continue;
        const std::string& answer = *reply;
        if (answer.empty()) {
          closed = true;
          break;
        }
        for (size_t sent = 0; sent < answer.size();) {
          long n = ts::Send(client.socket, answer.data() + sent, answer.size() - sent);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
      }
      if (closed) {
        ts::Close(client.socket);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  for (const ClientConnection& client : clients) ts::Close(client.socket);
}
