#include "testing/LoopbackFeedServer.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketType = SOCKET;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketType = int;
#endif

#include <memory>

namespace {

#if defined(_WIN32)
// Keeps Winsock started for as long as a server exists.
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
void CloseSocket(intptr_t s) { ::closesocket(static_cast<SOCKET>(s)); }
#else
void CloseSocket(intptr_t s) { ::close(static_cast<int>(s)); }
#endif

SocketType AsSocket(intptr_t s) { return static_cast<SocketType>(s); }

constexpr int kSliceMs = 20;

struct ClientConnection {
  intptr_t socket;
  std::string pending;  // received bytes not yet answered
};

}  // namespace

TLoopbackFeedServer::TLoopbackFeedServer(int port, TReplyFunction reply) : reply_(std::move(reply)) {
#if defined(_WIN32)
  static WinsockUser winsock;
#endif
  SocketType s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  // A port the previous test left in TIME_WAIT can be listened on again at once.
  int yes = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 16) != 0) {
    error_ = "cannot listen on 127.0.0.1:" + std::to_string(port);
    CloseSocket(static_cast<intptr_t>(s));
    return;
  }
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  listener_ = static_cast<intptr_t>(s);
  thread_ = std::thread([this] { Run(); });
}

TLoopbackFeedServer::~TLoopbackFeedServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ != kNoSocket) CloseSocket(listener_);
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
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(listener_), &readable);
    intptr_t highest = listener_;
    for (const ClientConnection& client : clients) {
      FD_SET(AsSocket(client.socket), &readable);
      if (client.socket > highest) highest = client.socket;
    }
    timeval slice{0, kSliceMs * 1000};
    if (::select(static_cast<int>(highest + 1), &readable, nullptr, nullptr, &slice) <= 0) continue;

    if (FD_ISSET(AsSocket(listener_), &readable)) {
      SocketType accepted = ::accept(AsSocket(listener_), nullptr, nullptr);
      if (accepted != static_cast<SocketType>(-1)) {
        clients.push_back({static_cast<intptr_t>(accepted), std::string()});
        ++connections_;
      }
    }
    for (size_t i = 0; i < clients.size();) {
      ClientConnection& client = clients[i];
      bool closed = false;
      if (FD_ISSET(AsSocket(client.socket), &readable)) {
        char chunk[4096];
        auto n = ::recv(AsSocket(client.socket), chunk, static_cast<int>(sizeof chunk), 0);
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
        const std::string answer = reply_ ? reply_(index, head) : std::string();
        if (answer.empty()) {
          closed = true;
          break;
        }
        size_t sent = 0;
        while (sent < answer.size()) {
          auto n = ::send(AsSocket(client.socket), answer.data() + sent, static_cast<int>(answer.size() - sent), 0);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
      }
      if (closed) {
        CloseSocket(client.socket);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }
  for (const ClientConnection& client : clients) CloseSocket(client.socket);
}
