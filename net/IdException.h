// The network exception family. Every failure of the network code is one of these, carrying its fixed message and,
// for socket and protocol reply errors, a numeric code. Catching code selects by class.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/SysUtils.h"

class EIdException : public Exception {
 public:
  using Exception::Exception;
};

class EIdAlreadyConnected : public EIdException {
 public:
  using EIdException::EIdException;
};

// Gets no special treatment in this system: it reaches the default handler like any other exception.
class EIdSilentException : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdSilentException {
 public:
  using EIdSilentException::EIdSilentException;
};

class EIdReadTimeout : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdInvalidServiceName : public EIdException {
 public:
  using EIdException::EIdException;
};

// A numeric reply that is not among the expected codes.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int32_t errorCode, std::string message)
      : EIdException(std::move(message)), errorCode_(errorCode) {}
  int32_t ErrorCode() const { return errorCode_; }

 private:
  int32_t errorCode_;
};

class EIdSSLProtocolReplyError : public EIdProtocolReplyError {
 public:
  using EIdProtocolReplyError::EIdProtocolReplyError;
};

class EIdConnectTimeout : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdConnectException : public EIdException {
 public:
  using EIdException::EIdException;
};

// Proxy negotiation failures. No proxy is ever configured here, so none of these is raised; they keep the family
// complete for code that selects by class.
class EIdSocksError : public EIdException {
 public:
  using EIdException::EIdException;
};
#define BRASKO_ID_SOCKS_ERROR(Name)     \
  class Name : public EIdSocksError {   \
   public:                              \
    using EIdSocksError::EIdSocksError; \
  };
BRASKO_ID_SOCKS_ERROR(EIdSocksRequestFailed)
BRASKO_ID_SOCKS_ERROR(EIdSocksRequestServerFailed)
BRASKO_ID_SOCKS_ERROR(EIdSocksRequestIdentFailed)
BRASKO_ID_SOCKS_ERROR(EIdSocksUnknownError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerRespondError)
BRASKO_ID_SOCKS_ERROR(EIdSocksAuthMethodError)
BRASKO_ID_SOCKS_ERROR(EIdSocksAuthError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerGeneralError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerPermissionError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerNetUnreachableError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerHostUnreachableError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerConnectionRefusedError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerTTLExpiredError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerCommandError)
BRASKO_ID_SOCKS_ERROR(EIdSocksServerAddressError)
#undef BRASKO_ID_SOCKS_ERROR

class EIdInvalidSocket : public EIdException {
 public:
  using EIdException::EIdException;
};

// A failed socket call; LastError is the Windows socket error number of the failure, on every platform.
class EIdSocketError : public EIdException {
 public:
  EIdSocketError(int32_t lastError, std::string message) : EIdException(std::move(message)), lastError_(lastError) {}
  int32_t LastError() const { return lastError_; }

 private:
  int32_t lastError_;
};

class EIdClosedSocket : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackCanNotLoadWinsock : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdStackError : public EIdException {
 public:
  using EIdException::EIdException;
};
class EIdStackInitializationFailed : public EIdStackError {
 public:
  using EIdStackError::EIdStackError;
};
class EIdStackSetSizeExceeded : public EIdStackError {
 public:
  using EIdStackError::EIdStackError;
};

class EIdFailedToRetreiveTimeZoneInfo : public EIdException {
 public:
  using EIdException::EIdException;
};

class EIdSocketHandleError : public EIdException {
 public:
  using EIdException::EIdException;
};
class EIdCouldNotBindSocket : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};
class EIdCanNotBindPortInRange : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};
class EIdInvalidPortRange : public EIdSocketHandleError {
 public:
  using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdTCPConnectionError : public EIdException {
 public:
  using EIdException::EIdException;
};
class EIdNotEnoughDataInBuffer : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};
// A TLS session that could not be made: the handshake failed, or the server's certificate was refused.
class EIdTLSError : public EIdException {
 public:
  using EIdException::EIdException;
};
class EIdIOHandlerPropInvalid : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};
class EIdNoDataToRead : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};
// A line longer than the connection accepts; the connection is dropped before this is raised, because the rest of
// the line is still on the wire and nothing after it can be read in step.
class EIdMaxLineLengthExceeded : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};
// The exchange reached its deadline: the reply (or the connection it needs) took longer than it was given in all.
// Whatever of it is still on its way would be read out of step, so the socket is closed first.
class EIdReplyTimeout : public EIdTCPConnectionError {
 public:
  using EIdTCPConnectionError::EIdTCPConnectionError;
};

class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
 public:
  using EIdException::EIdException;
};

// The optional encrypted transport is not part of this system; the class keeps the family complete.
class EIdOpenSSLError : public EIdException {
 public:
  using EIdException::EIdException;
};
