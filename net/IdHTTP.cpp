#include "net/IdHTTP.h"

#include <utility>

#include "net/IdChunkedBody.h"
#include "net/IdGlobalProtocols.h"
#include "net/IdResourceStrings.h"
#include "net/IdSSLIOHandlerSocket.h"
#include "net/IdSocketHandle.h"
#include "rtl/SysUtils.h"

using namespace IdResourceStrings;

namespace {

// A redirect's body is drained with this read time-out, so a server that announces more than it sends cannot hold
// the fetch that follows the redirect.
constexpr int kRedirectDrainTimeoutMs = 2000;

// Request line words, in the order of TIdHTTPMethod. DELETE has no word: this client never sends it.
const char* MethodWord(TIdHTTPMethod method) {
  switch (method) {
    case hmHead:
      return "HEAD ";
    case hmGet:
      return "GET ";
    case hmPost:
      return "POST ";
    case hmOptions:
      return "OPTIONS ";
    case hmTrace:
      return "TRACE ";
    case hmPut:
      return "PUT ";
    case hmConnect:
      return "CONNECT ";
    case hmDelete:
      break;
  }
  return nullptr;
}

// Methods whose request may go to the server twice with the effect of once.
bool IsIdempotent(TIdHTTPMethod method) {
  return method == hmGet || method == hmHead || method == hmOptions || method == hmTrace;
}

// A chunked body's bytes as the connection gives them.
class TConnectionChunks final : public TIdChunkSource {
 public:
  explicit TConnectionChunks(TIdTCPConnection& connection) : connection_(connection) {}
  std::string ReadLine() override { return connection_.ReadLine(); }
  void ReadToStream(TStream& stream, int64_t count) override { connection_.ReadToStream(stream, count); }

 private:
  TIdTCPConnection& connection_;
};

std::unique_ptr<TIdAuthentication> MakeBasicAuthentication() { return std::make_unique<TIdBasicAuthentication>(); }

}  // namespace

TIdAuthenticationClass FindAuthClass(const std::string& scheme) {
  if (SameText(scheme, "Basic")) return &MakeBasicAuthentication;
  return nullptr;
}

// ---- TIdHTTPResponse ----

void TIdHTTPResponse::UpdateResponseVersion() {
  if (responseText_.size() >= 8) {
    const std::string version = responseText_.substr(5, 3);
    if (SameText(version, "1.0")) {
      responseVersion_ = pv1_0;
    } else if (SameText(version, "1.1")) {
      responseVersion_ = pv1_1;
    }
  }
}

int TIdHTTPResponse::ResponseCode() {
  UpdateResponseVersion();
  std::string rest = responseText_;
  Fetch(rest, " ");
  rest = Trim(rest);
  return StrToInt(Fetch(rest, " "));
}

bool TIdHTTPResponse::KeepAlive() {
  UpdateResponseVersion();
  owner_->CheckClosed(false);
  bool keepAlive = owner_->Connected();
  if (keepAlive) {
    const std::string connection = Trim(Connection());
    const std::string proxyConnection = Trim(ProxyConnection());
    // The component's own version decides, not the one in the server's status line.
    if (owner_->ProtocolVersion() == pv1_1) {
      keepAlive = !SameText(connection, "CLOSE") && !SameText(proxyConnection, "CLOSE");
    } else {
      keepAlive = SameText(connection, "KEEP-ALIVE") || SameText(proxyConnection, "KEEP-ALIVE");
    }
  }
  return keepAlive;
}

// ---- TIdHTTPProtocol ----

TIdHTTPProtocol::TIdHTTPProtocol(TIdHTTP* owner)
    : owner_(owner),
      request_(std::make_unique<TIdHTTPRequest>(owner)),
      response_(std::make_unique<TIdHTTPResponse>(owner)) {}

void TIdHTTPProtocol::BuildAndSendRequest() {
  TIdHTTPRequest& request = *request_;
  request.SetHeaders();
  TIdHeaderList& raw = request.RawHeaders();
  if (request.UseProxy() == ctProxy || request.UseProxy() == ctSSLProxy) owner_->ProxyParams().SetHeaders(raw);
  if (TIdCookieManager* store = owner_->CookieManager()) {
    const bool secure = request.UseProxy() == ctSSL || request.UseProxy() == ctSSLProxy;
    const std::string cookies = store->CookieHeaderValue(*owner_->uri_, secure);
    if (!cookies.empty()) raw.SetValues("Cookie", cookies);
  }

  // The request head leaves in one send.
  std::string head = std::string(MethodWord(request.Method())) + request.URL() + " HTTP/" +
                     (owner_->ProtocolVersion() == pv1_0 ? "1.0" : "1.1") + "\r\n";
  for (int i = 0; i < raw.Count(); ++i) {
    if (!raw[i].empty()) head += raw[i] + "\r\n";
  }
  owner_->WriteText(head + "\r\n");
}

void TIdHTTPProtocol::RetrieveHeaders() {
  TIdHTTPResponse& response = *response_;
  for (int interim = 0;; ++interim) {
    response.SetResponseText(owner_->ReadLine());
    TIdHeaderList& raw = response.RawHeaders();
    raw.Clear();
    // A close before the first header line is a failure of the exchange; a close after it ends the header block
    // with what has arrived.
    std::string line = owner_->ReadLine();
    int64_t blockSize = 0;
    while (!line.empty()) {
      blockSize += static_cast<int64_t>(line.size());
      if (raw.Count() >= kIdMaxHeaderLines || blockSize > kIdMaxHeaderBlockSize) {
        // The rest of the block is still on the wire: the connection is out of step and cannot be kept.
        owner_->Disconnect();
        throw EIdHTTPHeaderTooLarge(RSHTTPHeaderBlockTooLarge);
      }
      raw.Add(line);
      try {
        line = owner_->ReadLine();
      } catch (const EIdConnClosedGracefully&) {
        owner_->Disconnect();
        break;
      }
    }
    response.ProcessHeaders();
    owner_->ProcessCookies(*request_, response);
    if (response.ResponseCode() != 100) return;
    if (interim == kIdMaxInterimReplies) {
      // More of them would follow: the connection is in step with nothing.
      owner_->Disconnect();
      throw EIdHTTPTooManyInterimReplies(RSHTTPTooManyInterimReplies);
    }
  }
}

void TIdHTTPProtocol::RaiseBodyTooLarge() {
  owner_->Disconnect();
  throw EIdHTTPBodyTooLarge(RSHTTPBodyTooLarge);
}

void TIdHTTPProtocol::ReadResult(TStream* stream) {
  TIdHTTPResponse& response = *response_;
  if (stream == nullptr) return;
  // A body is refused as soon as it is known to be too long: by its announced length before a byte of it is read,
  // by its chunks and by what arrived before the close as they come.
  const int64_t cap = owner_->MaxBodySize() > 0 ? owner_->MaxBodySize() : INT64_MAX;
  if (response.ContentLength() > 0) {
    if (response.ContentLength() > cap) RaiseBodyTooLarge();
    owner_->ReadToStream(*stream, response.ContentLength());
    return;
  }
  if (response.ContentLength() < 0) {
    // A length the server got wrong: nothing is read, and the connection cannot be trusted to be in step with the
    // next reply, so it is not kept.
    owner_->Disconnect();
    return;
  }
  if (response.RawHeaders().Values("Transfer-Encoding").find("chunked") != std::string::npos) {
    owner_->ReportStatus(stText, RSHTTPChunkStarted);
    TConnectionChunks chunks(*owner_);
    if (!ReadChunkedBody(chunks, *stream, cap)) RaiseBodyTooLarge();
    return;
  }
  if (!response.HasContentLength()) {
    // One byte more than the cap is enough to know the body is too long.
    const int64_t start = stream->Position();
    owner_->ReadToStream(*stream, cap == INT64_MAX ? -1 : cap + 1, true);
    if (stream->Position() - start > cap) RaiseBodyTooLarge();
    return;
  }
  // A "Content-Length" of 0 reads nothing. One that is no number reads nothing too; its body, if any, would be read
  // as the next reply, so the connection is not kept.
  if (Trim(response.RawHeaders().Values("Content-Length")) != "0") owner_->Disconnect();
}

void TIdHTTPProtocol::RaiseProtocolException() {
  TMemoryStream body;
  ReadResult(&body);
  throw EIdHTTPProtocolException(response_->ResponseCode(), response_->ResponseText(), body.TakeDataString());
}

void TIdHTTPProtocol::DiscardBody() {
  TMemoryStream discarded;
  const int savedTimeout = owner_->ReadTimeout();
  TScopeExit restoreTimeout([this, savedTimeout] { owner_->SetReadTimeout(savedTimeout); });
  owner_->SetReadTimeout(kRedirectDrainTimeoutMs);
  try {
    ReadResult(&discarded);
  } catch (const Exception&) {
    // Ignored, as a redirect's body does not matter; but what is left of it would be read as the next reply, so
    // the connection is not kept.
    owner_->Disconnect();
  }
}

bool TIdHTTPProtocol::Authorize(bool forProxy) {
  TIdHTTPRequest& request = *request_;
  TIdHTTPResponse& response = *response_;
  // A server that keeps refusing cannot hold the fetch in a loop: authorization shares the request limit.
  if (owner_->requestCounter_ >= owner_->RedirectMaximum()) return false;
  const TIdOnAuthorization& handler = forProxy ? owner_->OnProxyAuthorization : owner_->OnAuthorization;
  TIdAuthentication* current = forProxy ? owner_->ProxyParams().Authentication() : request.Authentication();
  if (current == nullptr) {
    TIdHeaderList& offers = forProxy ? response.ProxyAuthenticate() : response.WWWAuthenticate();
    TIdAuthenticationClass authClass = nullptr;
    for (int i = 0; i < offers.Count() && authClass == nullptr; ++i) {
      std::string offer = offers[i];
      authClass = FindAuthClass(Fetch(offer, " "));
    }
    const TIdOnSelectAuthorization& select =
        forProxy ? owner_->OnSelectProxyAuthorization : owner_->OnSelectAuthorization;
    if (select) select(owner_, authClass, offers);
    if (authClass == nullptr) return false;
    std::unique_ptr<TIdAuthentication> made = authClass();
    current = made.get();
    if (forProxy) {
      owner_->ProxyParams().SetAuthentication(std::move(made));
    } else {
      request.SetAuthentication(std::move(made));
    }
  }
  if (!handler) return false;
  if (forProxy) {
    current->SetUsername(owner_->ProxyParams().ProxyUsername());
    current->SetPassword(owner_->ProxyParams().ProxyPassword());
  } else {
    current->SetUsername(request.Username());
    current->SetPassword(request.Password());
  }
  bool handled = false;
  handler(owner_, current, handled);
  if (!handled) return false;
  if (forProxy) {
    owner_->ProxyParams().SetProxyUsername(current->Username());
    owner_->ProxyParams().SetProxyPassword(current->Password());
  } else {
    request.SetUsername(current->Username());
    request.SetPassword(current->Password());
  }
  return true;
}

TIdHTTPProtocol::TIdHTTPWhatsNext TIdHTTPProtocol::ProcessResponse() {
  TIdHTTPResponse& response = *response_;
  const int code = response.ResponseCode();
  const int kind = code / 100;

  if ((kind == 3 && code != 304) || !response.Location().empty()) {
    std::string target = TIdURI::URLDecode(response.Location());
    TIdHTTPMethod method = request_->Method();
    // Followed while the request limit allows; past it the fetch ends with the redirect's target as its location.
    const bool follow = owner_->HandleRedirects() && owner_->requestCounter_ < owner_->RedirectMaximum();
    bool handled = owner_->HandleRedirects();
    owner_->DoOnRedirect(target, method, owner_->requestCounter_, handled);
    if (!handled) RaiseProtocolException();
    if (follow) {
      request_->SetURL(target);
    } else {
      response.SetLocation(target);
    }
    if (owner_->Connected()) DiscardBody();
    return follow ? TIdHTTPWhatsNext::wnGoToURL : TIdHTTPWhatsNext::wnJustExit;
  }

  if (kind != 2) {
    if ((code == 401 || code == 407) && Authorize(code == 407)) {
      if (owner_->Connected()) ReadResult(response.ContentStream());
      return TIdHTTPWhatsNext::wnAuthRequest;
    }
    RaiseProtocolException();
  }

  if (code != 204 && owner_->Connected()) {
    ReadResult(response.ContentStream());
    return TIdHTTPWhatsNext::wnJustExit;
  }
  return TIdHTTPWhatsNext::wnDontKnow;
}

// ---- TIdHTTP ----

TIdHTTP::TIdHTTP(TComponent* owner)
    : TIdTCPClient(owner),
      proxyParams_(std::make_unique<TIdProxyConnectionInfo>()),
      uri_(std::make_unique<TIdURI>()),
      protocol_(std::make_unique<TIdHTTPProtocol>(this)) {
  SetPort(80);
  proxyParams_->Clear();
}

TIdHTTP::~TIdHTTP() { ReleaseCookieManager(); }

void TIdHTTP::ReleaseCookieManager() {
  // A store this component made is freed here; one assigned from outside belongs to someone else.
  if (ownsCookieManager_) {
    TIdCookieManager* store = cookieManager_;
    cookieManager_ = nullptr;
    ownsCookieManager_ = false;
    delete store;
  } else if (cookieManager_ != nullptr) {
    cookieManager_->RemoveFreeNotification(this);
  }
  cookieManager_ = nullptr;
}

void TIdHTTP::SetCookieManager(TIdCookieManager* value) {
  if (value == cookieManager_) return;
  ReleaseCookieManager();
  cookieManager_ = value;
  ownsCookieManager_ = false;
  if (value != nullptr) value->FreeNotification(this);
}

void TIdHTTP::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == cookieManager_) {
    cookieManager_ = nullptr;
    ownsCookieManager_ = false;
  }
  TIdTCPClient::Notification(component, operation);
}

void TIdHTTP::DoDisconnectedEvent() {
  // Credentials belong to the connection they were accepted for. Inside a fetch the connection may be replaced
  // between an accepted authorization and the request that carries it, so they are kept until the fetch ends.
  if (!inRequestCycle_) {
    Request().SetAuthentication(nullptr);
    ProxyParams().SetAuthentication(nullptr);
  }
  TIdTCPClient::DoDisconnectedEvent();
}

std::string TIdHTTP::Get(const std::string& url) {
  // The body is handed over as the stream holds it, without a final copy.
  TMemoryStream stream;
  Get(url, stream);
  return stream.TakeDataString();
}

void TIdHTTP::Get(const std::string& url, TStream& stream) { DoRequest(hmGet, url, &stream); }

void TIdHTTP::DoRequest(TIdHTTPMethod method, const std::string& url, TStream* destination) {
  const int64_t startPosition = destination != nullptr ? destination->Position() : 0;
  TIdHTTPRequest& request = Request();
  TIdHTTPResponse& response = Response();
  request.SetURL(url);
  request.SetMethod(method);
  response.SetContentStream(destination);

  inRequestCycle_ = true;
  resent_ = false;
  // Every wait of the fetch, however the server paces its bytes, ends by one deadline.
  if (exchangeTimeout_ > 0) SetDeadline(IdSteadyMilliseconds() + exchangeTimeout_);
  // However the fetch ends, its state goes, and its connection stays only when the server lets it. Whether it may is
  // asked once more at the end; a failure to tell means it may not.
  TScopeExit end([this, &response] {
    bool keepAlive = false;
    try {
      keepAlive = response.KeepAlive();
    } catch (const Exception&) {
    }
    requestCounter_ = 0;
    inRequestCycle_ = false;
    SetDeadline(0);
    if (!keepAlive) Disconnect();
  });
  for (;;) {
    ++requestCounter_;
    PrepareRequest(request);
    SendAndRetrieveHeaders(request, response);
    switch (protocol_->ProcessResponse()) {
      case TIdHTTPProtocol::TIdHTTPWhatsNext::wnJustExit:
        return;
      case TIdHTTPProtocol::TIdHTTPWhatsNext::wnDontKnow:
        throw EIdException(RSHTTPUndefinedSituation);
      default:
        // A follow-up request (a redirect or a login) replaces this reply: the caller's stream loses what it put in.
        if (destination != nullptr) {
          destination->SetPosition(startPosition);
          destination->SetSize(startPosition);
        }
        break;
    }
  }
}

void TIdHTTP::PrepareRequest(TIdHTTPRequest& request) {
  std::string protocol, host, path, document, port, bookmark, username, password;
  TIdURI::ParseURI(request.URL(), protocol, host, path, document, port, bookmark, username, password);

  if (!username.empty()) {
    request.SetUsername(username);
    request.SetPassword(password);
  }
  uri_->SetUsername(request.Username());
  uri_->SetPassword(request.Password());
  uri_->SetPath(TIdURI::PathJoin(uri_->Path(), path, '/'));
  uri_->SetDocument(document);

  // A URL without a host (a relative redirect) keeps the current host, protocol and port.
  const bool relative = host.empty();
  if (!relative) uri_->SetHost(host);
  if (!relative || uri_->Protocol().empty()) uri_->SetProtocol(protocol.empty() ? "http" : protocol);
  if (!port.empty()) {
    uri_->SetPort(port);
  } else if (!relative || uri_->Port().empty()) {
    if (SameText(uri_->Protocol(), "http")) {
      uri_->SetPort("80");
    } else if (SameText(uri_->Protocol(), "https")) {
      uri_->SetPort("443");
    } else {
      throw EIdUnknownProtocol();
    }
  }

  if (request.Method() == hmOptions && document == "*") {
    request.SetURL("*");
  } else {
    request.SetURL(uri_->Path() + uri_->Document());
  }
  if (protocolVersion_ == pv1_0 && (request.Method() == hmOptions || request.Method() == hmTrace ||
                                    request.Method() == hmPut || request.Method() == hmDelete)) {
    throw EIdException(RSHTTPMethodRequiresVersion);
  }
  if (request.Method() == hmDelete) throw EIdException(RSHTTPMethodNotSupported);
  if (request.Method() == hmPost || request.Method() == hmPut) {
    // The request cycle writes no body: a request that needs one is refused before anything is sent.
    throw EIdException(RSHTTPRequestBodyNotSupported);
  }
  request.SetContentLength(0);
  request.SetHost(uri_->Host());
}

bool TIdHTTP::KeptConnectionUsable() {
  if (!Connected()) return false;
  try {
    // One look without waiting: a close (or reset) the server made while the connection lay idle is already
    // waiting on the socket.
    FillInputBuffer(false, 0, false);
  } catch (const EIdException&) {
    return false;
  }
  // Bytes nobody asked for (a server's parting "408" before it closes, or the rest of a reply that was not read
  // whole) would be taken for the next reply.
  return Connected() && InputBuffer().Size() == 0;
}

bool TIdHTTP::LostBeforeReply(const EIdException& failure, bool kept, int64_t receivedBefore) {
  // A kept connection that the server gave up while it lay idle (its idle limit ran out, or this machine slept
  // through its close) takes the request and then ends, closed or reset, or refuses the send, before anything of a
  // reply comes. Such a request did nothing on the server. Never after a byte of a reply (the server may have acted
  // on it), never on a new connection (the server itself refuses), never after a time-out (the connection has not
  // ended).
  const bool ended = dynamic_cast<const EIdConnClosedGracefully*>(&failure) != nullptr ||
                     dynamic_cast<const EIdSocketError*>(&failure) != nullptr ||
                     dynamic_cast<const EIdClosedSocket*>(&failure) != nullptr;
  return ended && kept && ReceivedByteCount() == receivedBefore;
}

void TIdHTTP::SendAndRetrieveHeaders(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  for (;;) {
    const bool kept = ConnectToHost(request, response);
    const int64_t receivedBefore = ReceivedByteCount();
    try {
      protocol_->BuildAndSendRequest();
      protocol_->RetrieveHeaders();
      return;
    } catch (const EIdException& failure) {
      // The request goes once more on a new connection, once in a fetch and only if it may go twice.
      if (resent_ || !IsIdempotent(request.Method()) || !LostBeforeReply(failure, kept, receivedBefore)) throw;
    }
    resent_ = true;
    // What is left of the lost connection goes; ConnectToHost then finds none to keep and connects anew.
    DropSocket();
  }
}

bool TIdHTTP::ConnectToHost(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  if (!proxyParams_->ProxyServer().empty()) throw EIdException(RSHTTPProxyNotSupported);
  const bool secure = SameText(uri_->Protocol(), "https");
  // Over TLS the cookie store is told the connection is secure, so cookies marked "secure" go only there.
  request.SetUseProxy(secure ? ctSSL : ctNormal);
  const int port = StrToInt(uri_->Port());
  if (!SameText(Host(), uri_->Host()) || Port() != port || secure != UseTLS()) {
    if (Connected()) Disconnect();
    SetHost(uri_->Host());
    SetPort(port);
    SetUseTLS(secure);
  }
  // A handler given from outside must itself speak TLS for an https address.
  if (secure && IOHandler() != nullptr && dynamic_cast<TIdSSLIOHandlerSocket*>(IOHandler()) == nullptr) {
    throw EIdIOHandlerPropInvalid(RSIOHandlerPropInvalid);
  }
  if (protocolVersion_ == pv1_0) request.SetConnection("Keep-Alive");

  if (!response.KeepAlive() || !KeptConnectionUsable()) Disconnect();
  if (Connected()) return true;
  try {
    Connect();
  } catch (const EIdSSLProtocolReplyError&) {
    Disconnect();
    throw;
  }
  return false;
}

void TIdHTTP::ProcessCookies(TIdHTTPRequest& request, TIdHTTPResponse& response) {
  if (cookieManager_ == nullptr && allowCookies_) {
    // Owned like any component of the owner's; with no owner, by this component itself.
    auto* store = new TIdCookieManager(Owner() != nullptr ? Owner() : this);
    SetCookieManager(store);
    ownsCookieManager_ = true;
  }
  if (cookieManager_ == nullptr) return;
  request.SetContentType(std::string());
  TStringList setCookies;
  TStringList setCookies2;
  response.RawHeaders().Extract("Set-cookie", setCookies);
  response.RawHeaders().Extract("Set-cookie2", setCookies2);
  for (int i = 0; i < setCookies.Count(); ++i) cookieManager_->StoreSetCookie(setCookies[i], uri_->Host());
  for (int i = 0; i < setCookies2.Count(); ++i) cookieManager_->StoreSetCookie2(setCookies2[i], uri_->Host());
}

void TIdHTTP::DoOnRedirect(std::string& location, TIdHTTPMethod& method, int redirectCount, bool& handled) {
  if (!OnRedirect) return;
  // The handler sees copies of the count and the method: changing them has no effect.
  int count = redirectCount;
  TIdHTTPMethod methodCopy = method;
  OnRedirect(this, location, count, handled, methodCopy);
}
