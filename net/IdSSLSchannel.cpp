// The TLS session on Windows' own TLS (Schannel, through SSPI): nothing ships with the program. The server's chain is
// checked by the system against its trusted roots and the name against the host; the protocol versions are those
// the system offers.
//
// Neither library is one the system protects by name, so both are loaded from the system folder, not imported: an
// import is resolved before any of the program's code runs, and would take a file of that name from the program's
// own folder first. They are loaded by the first handshake, so a run that never speaks TLS never loads them.
#define SECURITY_WIN32
#include <windows.h>
// After windows.h, which they build on.
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "net/IdStack.h"
#include "rtl/SysUtils.h"

namespace {

// The functions of the system's TLS (through its security interface's table) and certificate libraries. Loaded once,
// by the first call, and kept for the rest of the run: sessions of any lifetime call into them.
struct TSystemTLS {
  const SecurityFunctionTableA* sspi = nullptr;
  decltype(&CertGetCertificateChain) getCertificateChain = nullptr;
  decltype(&CertVerifyCertificateChainPolicy) verifyCertificateChainPolicy = nullptr;
  decltype(&CertFreeCertificateChain) freeCertificateChain = nullptr;
  decltype(&CertFreeCertificateContext) freeCertificateContext = nullptr;

  bool Loaded() const {
    // The message functions are the table's latest entries; a table that has them has the rest.
    return sspi != nullptr && sspi->EncryptMessage != nullptr && sspi->DecryptMessage != nullptr &&
           getCertificateChain != nullptr && verifyCertificateChainPolicy != nullptr &&
           freeCertificateChain != nullptr && freeCertificateContext != nullptr;
  }
};

const TSystemTLS& SystemTLS() {
  static const TSystemTLS tls = [] {
    TSystemTLS found;
    auto initSecurityInterface = SystemFunction<INIT_SECURITY_INTERFACE_A>("secur32.dll", "InitSecurityInterfaceA");
    if (initSecurityInterface != nullptr) found.sspi = initSecurityInterface();
    found.getCertificateChain =
        SystemFunction<decltype(found.getCertificateChain)>("crypt32.dll", "CertGetCertificateChain");
    found.verifyCertificateChainPolicy =
        SystemFunction<decltype(found.verifyCertificateChainPolicy)>("crypt32.dll", "CertVerifyCertificateChainPolicy");
    found.freeCertificateChain =
        SystemFunction<decltype(found.freeCertificateChain)>("crypt32.dll", "CertFreeCertificateChain");
    found.freeCertificateContext =
        SystemFunction<decltype(found.freeCertificateContext)>("crypt32.dll", "CertFreeCertificateContext");
    return found;
  }();
  return tls;
}

constexpr size_t kReceiveChunk = 16 * 1024 + 512;  // one TLS record with its framing
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// A token the system allocated for us to send.
struct TOutToken {
  SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc desc{SECBUFFER_VERSION, 1, &buffer};
  ~TOutToken() {
    if (buffer.pvBuffer != nullptr) SystemTLS().sspi->FreeContextBuffer(buffer.pvBuffer);
  }
};

class TIdTLSSessionSchannel final : public TIdTLSSession {
 public:
  ~TIdTLSSessionSchannel() override {
    if (haveContext_) Sspi().DeleteSecurityContext(&context_);
    if (haveCredentials_) Sspi().FreeCredentialHandle(&credentials_);
  }

  void Handshake(TIdSocketHandle& socket, const std::string& host, int timeoutMs) override {
    socket_ = &socket;
    host_ = host;
    handshakeTimeoutMs_ = timeoutMs;
    if (!SystemTLS().Loaded()) Fail();
    SCHANNEL_CRED settings = {};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    // The chain is checked below, where its verdict can be told to the user.
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    if (Sspi().AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                         &settings, nullptr, nullptr, &credentials_, &expiry) != SEC_E_OK) {
      Fail();
    }
    haveCredentials_ = true;
    SECURITY_STATUS status = Step(nullptr);  // the client's hello
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
      if (status == SEC_E_INCOMPLETE_MESSAGE || incoming_.empty()) {
        if (!ReceiveMore()) Fail();
      }
      std::vector<char> input(incoming_);
      status = Step(&input);
    }
    if (status != SEC_E_OK) Fail();
    CheckCertificate();
    if (Sspi().QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) Fail();
  }

  bool Pending() override {
    if (plain_.empty() && !incoming_.empty()) Decrypt();
    return !plain_.empty();
  }

  int Receive(void* buffer, int length) override {
    while (plain_.empty()) {
      const int decrypted = Decrypt();
      if (decrypted < 0) return 0;  // the peer ended the session
      if (!plain_.empty()) break;
      char chunk[kReceiveChunk];
      const int n = socket_->Receive(chunk, static_cast<int>(sizeof chunk));
      if (n <= 0) return n;  // closed, or the socket's own error for the caller to read
      incoming_.insert(incoming_.end(), chunk, chunk + n);
    }
    const size_t taken = std::min(plain_.size(), static_cast<size_t>(length));
    std::memcpy(buffer, plain_.data(), taken);
    plain_.erase(plain_.begin(), plain_.begin() + static_cast<std::ptrdiff_t>(taken));
    return static_cast<int>(taken);
  }

  int Send(const void* buffer, int length) override {
    const char* bytes = static_cast<const char*>(buffer);
    for (int sent = 0; sent < length;) {
      const int piece = std::min(length - sent, static_cast<int>(sizes_.cbMaximumMessage));
      std::vector<char> record(sizes_.cbHeader + static_cast<size_t>(piece) + sizes_.cbTrailer);
      std::memcpy(record.data() + sizes_.cbHeader, bytes + sent, static_cast<size_t>(piece));
      SecBuffer parts[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                            {static_cast<ULONG>(piece), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + piece},
                            {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
      if (Sspi().EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) GStack()->RaiseSocketError(Id_WSAECONNRESET);
      const size_t total = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
      if (!SendAll(record.data(), total)) return Id_SOCKET_ERROR;
      sent += piece;
    }
    return length;
  }

  void Shutdown() override {
    if (!haveContext_) return;
    DWORD token = SCHANNEL_SHUTDOWN;
    SecBuffer part{sizeof token, SECBUFFER_TOKEN, &token};
    SecBufferDesc desc{SECBUFFER_VERSION, 1, &part};
    if (Sspi().ApplyControlToken(&context_, &desc) != SEC_E_OK) return;
    TOutToken out;
    ULONG flags = 0;
    TimeStamp expiry;
    Sspi().InitializeSecurityContextA(&credentials_, &context_, nullptr, kContextFlags, 0, 0, nullptr, 0, nullptr,
                                      &out.desc, &flags, &expiry);
    if (out.buffer.pvBuffer != nullptr) SendAll(static_cast<char*>(out.buffer.pvBuffer), out.buffer.cbBuffer);
  }

 private:
  // Only after the handshake found the libraries loaded.
  static const SecurityFunctionTableA& Sspi() { return *SystemTLS().sspi; }

  [[noreturn]] void Fail(const char* text = IdResourceStrings::RSTLSFailed) const {
    throw EIdTLSError(Format(text, host_.c_str()));
  }

  // One handshake step with what the server sent so far (none for the first); sends what the step made, and keeps
  // bytes the step did not use for the next one.
  SECURITY_STATUS Step(std::vector<char>* input) {
    SecBuffer in[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    if (input != nullptr) {
      in[0].cbBuffer = static_cast<ULONG>(input->size());
      in[0].pvBuffer = input->data();
    }
    TOutToken out;
    ULONG flags = 0;
    TimeStamp expiry;
    SECURITY_STATUS status = Sspi().InitializeSecurityContextA(
        &credentials_, haveContext_ ? &context_ : nullptr, const_cast<char*>(host_.c_str()), kContextFlags, 0, 0,
        input != nullptr ? &inDesc : nullptr, 0, haveContext_ ? nullptr : &context_, &out.desc, &flags, &expiry);
    if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
    if (status == SEC_E_INCOMPLETE_MESSAGE) return status;  // the input stays whole for the next try
    if (out.buffer.pvBuffer != nullptr && out.buffer.cbBuffer > 0 &&
        !SendAll(static_cast<char*>(out.buffer.pvBuffer), out.buffer.cbBuffer)) {
      Fail();
    }
    if (input != nullptr) {
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
        incoming_.erase(incoming_.begin(), incoming_.end() - in[1].cbBuffer);
      } else {
        incoming_.clear();
      }
    }
    return status;
  }

  // Decrypts whole records held in incoming_ into plain_. -1 once the peer ended the session; 0 otherwise.
  int Decrypt() {
    while (!incoming_.empty()) {
      SecBuffer parts[4] = {{static_cast<ULONG>(incoming_.size()), SECBUFFER_DATA, incoming_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, parts};
      SECURITY_STATUS status = Sspi().DecryptMessage(&context_, &desc, 0, nullptr);
      if (status == SEC_E_INCOMPLETE_MESSAGE) return 0;
      if (status == SEC_I_CONTEXT_EXPIRED) {
        incoming_.clear();
        return -1;
      }
      if (status != SEC_E_OK) GStack()->RaiseSocketError(Id_WSAECONNRESET);
      std::vector<char> extra;
      for (const SecBuffer& part : parts) {
        const char* at = static_cast<const char*>(part.pvBuffer);
        if (part.BufferType == SECBUFFER_DATA) plain_.insert(plain_.end(), at, at + part.cbBuffer);
        if (part.BufferType == SECBUFFER_EXTRA) extra.assign(at, at + part.cbBuffer);
      }
      incoming_.swap(extra);
      if (!plain_.empty()) return 0;
    }
    return 0;
  }

  // More of the server's handshake; false when it closed or stayed silent past the time-out.
  bool ReceiveMore() {
    if (handshakeTimeoutMs_ > 0 && !socket_->WaitReadable(handshakeTimeoutMs_)) return false;
    char chunk[kReceiveChunk];
    const int n = socket_->Receive(chunk, static_cast<int>(sizeof chunk));
    if (n <= 0) return false;
    incoming_.insert(incoming_.end(), chunk, chunk + n);
    return true;
  }

  bool SendAll(const char* bytes, size_t length) {
    for (size_t sent = 0; sent < length;) {
      const int n = socket_->Send(bytes + sent, static_cast<int>(length - sent));
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  // The system's verdict on the server's chain for this host, as a reason the user can read.
  void CheckCertificate() {
    PCCERT_CONTEXT certificate = nullptr;
    if (Sspi().QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        certificate == nullptr) {
      Fail(IdResourceStrings::RSTLSNotTrusted);
    }
    struct TCertificate {
      PCCERT_CONTEXT context;
      PCCERT_CHAIN_CONTEXT chain = nullptr;
      ~TCertificate() {
        if (chain != nullptr) SystemTLS().freeCertificateChain(chain);
        SystemTLS().freeCertificateContext(context);
      }
    } held{certificate};
    LPSTR serverUsage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = serverUsage;
    if (!SystemTLS().getCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                         &held.chain)) {
      Fail(IdResourceStrings::RSTLSNotTrusted);
    }
    std::wstring name = AnsiToWideText(host_);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS verdict = {};
    verdict.cbSize = sizeof verdict;
    if (!SystemTLS().verifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, held.chain, &policy, &verdict)) {
      Fail(IdResourceStrings::RSTLSNotTrusted);
    }
    // The chain's own trust bits as well: a chain that ends at no known root must not pass on a policy check that
    // looked only at the root it did find. Revocation is not asked for.
    const DWORD chainErrors =
        held.chain->TrustStatus.dwErrorStatus &
        ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (verdict.dwError == 0 && chainErrors != 0) {
      verdict.dwError = (chainErrors & CERT_TRUST_IS_NOT_TIME_VALID) != 0 ? static_cast<DWORD>(CERT_E_EXPIRED)
                                                                          : static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    }
    switch (static_cast<HRESULT>(verdict.dwError)) {
      case S_OK:
        return;
      case CERT_E_EXPIRED:
        Fail(IdResourceStrings::RSTLSExpired);
      case CERT_E_CN_NO_MATCH:
        Fail(IdResourceStrings::RSTLSWrongName);
      default:
        Fail(IdResourceStrings::RSTLSNotTrusted);
    }
  }

  static std::wstring AnsiToWideText(const std::string& text) {
    int size = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
  }

  TIdSocketHandle* socket_ = nullptr;
  std::string host_;
  int handshakeTimeoutMs_ = TimeoutDefault;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> incoming_;  // received, not yet decrypted
  std::vector<char> plain_;     // decrypted, not yet taken
};

}  // namespace

std::unique_ptr<TIdTLSSession> TIdTLSSession::Create() { return std::make_unique<TIdTLSSessionSchannel>(); }
