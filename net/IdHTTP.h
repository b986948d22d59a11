// The HTTP client component: one HTTP/1.1 GET exchange per fetch over a TCP connection that it keeps open between
// fetches when the server allows it, with the cookies of each reply sent back on the next request, and the reply
// body returned unchanged. Every status outside 2xx (100 aside) ends a fetch with EIdHTTPProtocolException.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/IdAuthentication.h"
#include "net/IdCookieManager.h"
#include "net/IdException.h"
#include "net/IdHTTPHeaderInfo.h"
#include "net/IdTCPClient.h"
#include "net/IdURI.h"
#include "rtl/Classes.h"

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
// How a request reaches its server. Only direct connections are made.
enum TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };

// A reply whose status ends the fetch: the message is the status line, ErrorCode the status code and ErrorBody the
// reply body.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
 public:
  EIdHTTPProtocolException(int32_t errorCode, std::string message, std::string errorBody)
      : EIdProtocolReplyError(errorCode, std::move(message)), errorBody_(std::move(errorBody)) {}
  const std::string& ErrorBody() const { return errorBody_; }

 private:
  std::string errorBody_;
};

// A reply whose header block passes the bounds below; the connection is dropped before this is raised.
class EIdHTTPHeaderTooLarge : public EIdException {
 public:
  using EIdException::EIdException;
};

// A reply whose body is longer than the client's MaxBodySize; the connection is dropped before this is raised.
class EIdHTTPBodyTooLarge : public EIdException {
 public:
  using EIdException::EIdException;
};

// A server that sends more interim (100 Continue) replies than kIdMaxInterimReplies before its real one.
class EIdHTTPTooManyInterimReplies : public EIdException {
 public:
  using EIdException::EIdException;
};

// Bounds on one reply's header block. Each line is already capped by the connection; these keep a server that
// sends header lines without end from growing the process without limit.
inline constexpr int kIdMaxHeaderLines = 1000;
inline constexpr int64_t kIdMaxHeaderBlockSize = 4 * 1048576;
// A server sends an interim reply only to a request that asks for one, which this client never does, or passes
// on the odd one from a server behind it: a few are skipped, a stream of them fails the fetch.
inline constexpr int kIdMaxInterimReplies = 8;

// A URL whose protocol has no default port and names none.
class EIdUnknownProtocol : public EIdException {
 public:
  EIdUnknownProtocol() : EIdException(std::string()) {}
};

// Makes an authentication object of one scheme; nullptr stands for "no scheme".
using TIdAuthenticationClass = std::unique_ptr<TIdAuthentication> (*)();

// The registered authentication schemes: only "Basic" (TIdBasicAuthentication). Names compare without regard to
// case; nullptr for any other.
TIdAuthenticationClass FindAuthClass(const std::string& scheme);

class TIdHTTP;

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  explicit TIdHTTPRequest(TIdHTTP* owner) : owner_(owner) {}

  TIdHTTP* Owner() const { return owner_; }
  // First the URL passed to the fetch, then the request target that goes into the request line.
  const std::string& URL() const { return url_; }
  void SetURL(const std::string& value) { url_ = value; }
  TIdHTTPMethod Method() const { return method_; }
  void SetMethod(TIdHTTPMethod value) { method_ = value; }
  TIdHTTPConnectionType UseProxy() const { return useProxy_; }
  void SetUseProxy(TIdHTTPConnectionType value) { useProxy_ = value; }

 private:
  TIdHTTP* owner_;
  std::string url_;
  TIdHTTPMethod method_ = hmGet;
  TIdHTTPConnectionType useProxy_ = ctNormal;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  explicit TIdHTTPResponse(TIdHTTP* owner) : owner_(owner) {}

  TIdHTTP* Owner() const { return owner_; }
  // The whole status line as received.
  const std::string& ResponseText() const { return responseText_; }
  void SetResponseText(const std::string& value) { responseText_ = value; }
  // The number after the status line's first space. Raises EConvertError "'%s' is not a valid integer value" when
  // there is none. Also takes the response version from the status line.
  int ResponseCode();
  // "1.0" or "1.1" at characters 6 to 8 of the status line (without regard to case); otherwise the last value.
  TIdHTTPProtocolVersion ResponseVersion() const { return responseVersion_; }
  // Whether the connection may carry the next request: it is still open and the server did not ask to close it
  // (HTTP/1.1) or asked to keep it (HTTP/1.0), as the component's own protocol version decides. Recomputed on
  // every call; closes the connection when the peer has closed it.
  bool KeepAlive();
  // The caller's destination stream; not owned.
  TStream* ContentStream() const { return contentStream_; }
  void SetContentStream(TStream* value) { contentStream_ = value; }

 private:
  void UpdateResponseVersion();

  TIdHTTP* owner_;
  std::string responseText_;
  TIdHTTPProtocolVersion responseVersion_ = pv1_1;
  TStream* contentStream_ = nullptr;
};

// OnRedirect: dest may be changed, and handled decides whether the redirect is followed (it comes in as
// HandleRedirects). Changes to numRedirect and method have no effect.
using TIdHTTPOnRedirectEvent =
    std::function<void(TObject* sender, std::string& dest, int& numRedirect, bool& handled, TIdHTTPMethod& method)>;
// OnSelectAuthorization: may change the scheme chosen from the server's authenticate values (authInfo).
using TIdOnSelectAuthorization =
    std::function<void(TObject* sender, TIdAuthenticationClass& authenticationClass, TIdHeaderList& authInfo)>;
// OnAuthorization: may change the credentials of the authentication object and accept (handled) or refuse.
using TIdOnAuthorization = std::function<void(TObject* sender, TIdAuthentication* authentication, bool& handled)>;

// The exchange: request and response records of one component, reused by every fetch, and the steps of one
// request. Neither record is cleared between fetches; each step overwrites what it sets.
class TIdHTTPProtocol : public TObject {
 public:
  // What the request cycle does after a reply.
  enum class TIdHTTPWhatsNext { wnGoToURL, wnJustExit, wnDontKnow, wnAuthRequest };

  explicit TIdHTTPProtocol(TIdHTTP* owner);

  TIdHTTPRequest& Request() { return *request_; }
  TIdHTTPResponse& Response() { return *response_; }

  // Reads the status line and the header block, hands the cookies to the store, and repeats while the status is
  // 100 Continue (at most kIdMaxInterimReplies times).
  void RetrieveHeaders();
  // Decides the next step from the reply, reading its body where it has one.
  TIdHTTPWhatsNext ProcessResponse();
  // Writes the request line and the header lines in one send.
  void BuildAndSendRequest();

 private:
  // Reads the body into the stream (none: nothing is read): by length, by chunks, or until the peer closes; never
  // more than the owner's MaxBodySize.
  void ReadResult(TStream* stream);
  // Drops the connection (the rest of the body is still on the wire) and raises EIdHTTPBodyTooLarge.
  [[noreturn]] void RaiseBodyTooLarge();
  // Reads the body into a string and raises EIdHTTPProtocolException with it.
  [[noreturn]] void RaiseProtocolException();
  // Reads and discards a redirect's body, with a short time-out.
  void DiscardBody();
  // Runs the authorization step for a 401 (or, for a proxy, 407) reply; true when the request is to be sent again.
  bool Authorize(bool forProxy);

  TIdHTTP* owner_;
  std::unique_ptr<TIdHTTPRequest> request_;
  std::unique_ptr<TIdHTTPResponse> response_;
};

class TIdHTTP : public TIdTCPClient {
 public:
  explicit TIdHTTP(TComponent* owner);
  ~TIdHTTP() override;

  // Fetches the URL with GET and returns the body, byte for byte (empty for an empty body).
  std::string Get(const std::string& url);
  // The same, appending the body to the stream at its position.
  void Get(const std::string& url, TStream& stream);

  // The connection's host and port; each fetch takes them from its URL.
  using TIdTCPClient::Host;
  using TIdTCPClient::Port;

  TIdHTTPProtocolVersion ProtocolVersion() const { return protocolVersion_; }
  void SetProtocolVersion(TIdHTTPProtocolVersion value) { protocolVersion_ = value; }
  bool HandleRedirects() const { return handleRedirects_; }
  void SetHandleRedirects(bool value) { handleRedirects_ = value; }
  // A limit on the requests of one fetch when following redirects.
  int RedirectMaximum() const { return redirectMaximum_; }
  void SetRedirectMaximum(int value) { redirectMaximum_ = value; }
  // The longest body a reply may have, in bytes (error replies included); a longer one fails the fetch with
  // EIdHTTPBodyTooLarge "Reply body too large." as soon as it is known to be longer. 0 (the default): no limit.
  int64_t MaxBodySize() const { return maxBodySize_; }
  void SetMaxBodySize(int64_t value) { maxBodySize_ = value; }
  // The longest one fetch may take in all, in milliseconds, from its connect to the last byte of its reply,
  // however the server paces its bytes; beyond it the fetch fails with EIdReplyTimeout "Reply took too long.".
  // 0 (the default): no limit but the read and connect time-outs, which measure each wait on its own.
  int ExchangeTimeout() const { return exchangeTimeout_; }
  void SetExchangeTimeout(int value) { exchangeTimeout_ = value; }
  // When true and no store is assigned, the first reply creates a cookie store (owned by this component's owner).
  bool AllowCookies() const { return allowCookies_; }
  void SetAllowCookies(bool value) { allowCookies_ = value; }
  TIdCookieManager* CookieManager() const { return cookieManager_; }
  // Frees a store that this component created, takes the new one (not owned) and watches for its destruction.
  void SetCookieManager(TIdCookieManager* value);
  // Only an empty ProxyServer (a direct connection) is supported.
  TIdProxyConnectionInfo& ProxyParams() { return *proxyParams_; }
  TIdHTTPRequest& Request() { return protocol_->Request(); }
  TIdHTTPResponse& Response() { return protocol_->Response(); }
  // The status code and the status line of the last reply.
  int ResponseCode() { return Response().ResponseCode(); }
  const std::string& ResponseText() { return Response().ResponseText(); }
  // The current target: protocol, host, port, path and document of the last request.
  TIdURI& URL() { return *uri_; }
  // The requests sent so far in the current fetch; 0 between fetches.
  int RedirectCount() const { return requestCounter_; }

  TIdHTTPOnRedirectEvent OnRedirect;
  TIdOnSelectAuthorization OnSelectAuthorization;
  TIdOnSelectAuthorization OnSelectProxyAuthorization;
  TIdOnAuthorization OnAuthorization;
  TIdOnAuthorization OnProxyAuthorization;

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  // The request cycle: method, URL and the destination of the reply body.
  void DoRequest(TIdHTTPMethod method, const std::string& url, TStream* destination);
  // Closing the connection forgets the credentials that were chosen for it, outside a running fetch.
  void DoDisconnectedEvent() override;

 private:
  // Lets go of the cookie store: frees one this component made, forgets one assigned from outside.
  void ReleaseCookieManager();
  friend class TIdHTTPProtocol;
  friend class TIdHTTPResponse;

  // Splits the request's URL into the component's URI and turns the request's URL into the request target.
  void PrepareRequest(TIdHTTPRequest& request);
  // Opens the connection or reuses the kept one; true when the kept one is used.
  bool ConnectToHost(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // Sends the request and reads the reply's status line and header block, sending it once more on a new
  // connection when the kept one was lost before the reply (LostBeforeReply).
  void SendAndRetrieveHeaders(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // Whether a request that just failed so found its connection lost before any byte of a reply: kept is whether it
  // went out on a connection kept from an earlier exchange, receivedBefore the connection's byte count before it went.
  bool LostBeforeReply(const EIdException& failure, bool kept, int64_t receivedBefore);
  // Creates the store when allowed and none is assigned, then hands it the reply's cookies.
  void ProcessCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);
  // A kept connection may have been closed by the server while idle; a request written on it would be lost.
  bool KeptConnectionUsable();
  void DoOnRedirect(std::string& location, TIdHTTPMethod& method, int redirectCount, bool& handled);

  TIdHTTPProtocolVersion protocolVersion_ = pv1_1;
  bool handleRedirects_ = false;
  int redirectMaximum_ = 15;
  int64_t maxBodySize_ = 0;
  int exchangeTimeout_ = 0;
  bool allowCookies_ = true;
  TIdCookieManager* cookieManager_ = nullptr;  // owned by a component's owner, see SetCookieManager
  bool ownsCookieManager_ = false;
  std::unique_ptr<TIdProxyConnectionInfo> proxyParams_;
  std::unique_ptr<TIdURI> uri_;
  std::unique_ptr<TIdHTTPProtocol> protocol_;
  int requestCounter_ = 0;
  bool inRequestCycle_ = false;
  // The fetch has sent a request once more after its kept connection was lost: it does not again.
  bool resent_ = false;
};
