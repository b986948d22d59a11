// The TLS session on OpenSSL, for the builds that are not for Windows.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "net/IdStack.h"
#include "rtl/SysUtils.h"

namespace {

// One context for the process: the system's trusted roots (or those SSL_CERT_FILE and SSL_CERT_DIR name), and
// nothing older than TLS 1.2.
SSL_CTX* Context() {
  static SSL_CTX* const context = [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    if (made != nullptr) {
      SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
      SSL_CTX_set_default_verify_paths(made);
      SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
    }
    return made;
  }();
  return context;
}

class TIdTLSSessionOpenSSL final : public TIdTLSSession {
 public:
  ~TIdTLSSessionOpenSSL() override {
    if (ssl_ != nullptr) SSL_free(ssl_);
  }

  void Handshake(TIdSocketHandle& socket, const std::string& host, int timeoutMs) override {
    ERR_clear_error();
    SSL_CTX* context = Context();
    ssl_ = context != nullptr ? SSL_new(context) : nullptr;
    if (ssl_ == nullptr) throw EIdTLSError(Format(IdResourceStrings::RSTLSFailed, host.c_str()));
    SSL_set_fd(ssl_, static_cast<int>(socket.Handle()));
    // The name goes out for the server to pick its certificate, and the certificate must be made out for it (or,
    // for an address, for that address).
    if (!TIdStack::IsDottedAddress(host)) SSL_set_tlsext_host_name(ssl_, host.c_str());
    X509_VERIFY_PARAM* check = SSL_get0_param(ssl_);
    if (TIdStack::IsDottedAddress(host)) {
      X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str());
    } else {
      X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0);
    }
    // A server that goes silent in the handshake must not hold the caller longer than its time-out.
    const int fd = static_cast<int>(socket.Handle());
    auto receiveLimit = [fd](int ms) {
      timeval limit{ms / 1000, (ms % 1000) * 1000};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    };
    if (timeoutMs > 0) receiveLimit(timeoutMs);
    const bool connected = SSL_connect(ssl_) == 1;
    if (timeoutMs > 0) receiveLimit(0);
    if (connected) return;
    const long verdict = SSL_get_verify_result(ssl_);
    switch (verdict) {
      case X509_V_OK:
        throw EIdTLSError(Format(IdResourceStrings::RSTLSFailed, host.c_str()));
      case X509_V_ERR_CERT_HAS_EXPIRED:
      case X509_V_ERR_CERT_NOT_YET_VALID:
        throw EIdTLSError(Format(IdResourceStrings::RSTLSExpired, host.c_str()));
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        throw EIdTLSError(Format(IdResourceStrings::RSTLSWrongName, host.c_str()));
      default:
        throw EIdTLSError(Format(IdResourceStrings::RSTLSNotTrusted, host.c_str()));
    }
  }

  bool Pending() override { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }

  int Receive(void* buffer, int length) override {
    ERR_clear_error();
    const int n = SSL_read(ssl_, buffer, length);
    if (n > 0) return n;
    const int error = SSL_get_error(ssl_, n);
    // The peer's close_notify, or a close without one (many servers end a kept connection so): the end of the
    // stream either way.
    if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && n == 0)) return 0;
    return Failure(error);
  }

  int Send(const void* buffer, int length) override {
    ERR_clear_error();
    const int n = SSL_write(ssl_, buffer, length);
    return n > 0 ? n : Failure(SSL_get_error(ssl_, n));
  }

  void Shutdown() override {
    if (ssl_ != nullptr) SSL_shutdown(ssl_);
  }

 private:
  // A socket failure keeps the socket's own error (the caller reads it); a broken session reads as a reset
  // connection.
  static int Failure(int error) {
    if (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return Id_SOCKET_ERROR;
    GStack()->RaiseSocketError(Id_WSAECONNRESET);
  }

  SSL* ssl_ = nullptr;
};

}  // namespace

std::unique_ptr<TIdTLSSession> TIdTLSSession::Create() { return std::make_unique<TIdTLSSessionOpenSSL>(); }
