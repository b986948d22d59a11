// Every network text that a user can see, in one place. The texts are shown unchanged in the message box of the
// default error handler, so spaces, periods and line breaks are part of them.
#pragma once

namespace IdResourceStrings {

// Socket layer start-up and stack errors.
inline constexpr const char kWinsockDllName[] = "wsock32.dll";
inline constexpr const char RSStackCanNotLoad[] = "%s could not be loaded.";
inline constexpr const char RSWinsockInitializationError[] = "Winsock Initialization Error.";
inline constexpr const char RSSetSizeExceeded[] = "Set Size Exceeded.";
inline constexpr const char RSStackName[] = "Winsock stack";

// Socket handles and binding.
inline constexpr const char RSCannotAllocateSocket[] = "Cannot allocate socket.";
inline constexpr const char RSCouldNotBindSocket[] = "Could not bind socket. Address and port are already in use.";
inline constexpr const char RSCannotBindRange[] = "Can not bind in port range (%d - %d)";
inline constexpr const char RSInvalidPortRange[] = "Invalid Port Range (%d - %d)";
inline constexpr const char RSInvalidServiceName[] = "%s is not a valid service.";

// Socket errors: "Socket Error # <code>" CR LF and the code's text (empty for codes without one).
inline constexpr const char RSStackError[] = "Socket Error # %d\r\n%s";
inline constexpr const char RSStackEINTR[] = "Interrupted system call.";
inline constexpr const char RSStackEBADF[] = "Bad file number.";
inline constexpr const char RSStackEACCES[] = "Access denied.";
inline constexpr const char RSStackEFAULT[] = "Bad address.";
inline constexpr const char RSStackEINVAL[] = "Invalid argument.";
inline constexpr const char RSStackEMFILE[] = "Too many open files.";
inline constexpr const char RSStackEWOULDBLOCK[] = "Operation would block. ";  // the trailing blank is intended
inline constexpr const char RSStackEINPROGRESS[] = "Operation now in progress.";
inline constexpr const char RSStackEALREADY[] = "Operation already in progress.";
inline constexpr const char RSStackENOTSOCK[] = "Socket operation on non-socket.";
inline constexpr const char RSStackEDESTADDRREQ[] = "Destination address required.";
inline constexpr const char RSStackEMSGSIZE[] = "Message too long.";
inline constexpr const char RSStackEPROTOTYPE[] = "Protocol wrong type for socket.";
inline constexpr const char RSStackENOPROTOOPT[] = "Bad protocol option.";
inline constexpr const char RSStackEPROTONOSUPPORT[] = "Protocol not supported.";
inline constexpr const char RSStackESOCKTNOSUPPORT[] = "Socket type not supported.";
inline constexpr const char RSStackEOPNOTSUPP[] = "Operation not supported on socket.";
inline constexpr const char RSStackEPFNOSUPPORT[] = "Protocol family not supported.";
inline constexpr const char RSStackEAFNOSUPPORT[] = "Address family not supported by protocol family.";
inline constexpr const char RSStackEADDRINUSE[] = "Address already in use.";
inline constexpr const char RSStackEADDRNOTAVAIL[] = "Cannot assign requested address.";
inline constexpr const char RSStackENETDOWN[] = "Network is down.";
inline constexpr const char RSStackENETUNREACH[] = "Network is unreachable.";
inline constexpr const char RSStackENETRESET[] = "Net dropped connection or reset.";
inline constexpr const char RSStackECONNABORTED[] = "Software caused connection abort.";
inline constexpr const char RSStackECONNRESET[] = "Connection reset by peer.";
inline constexpr const char RSStackENOBUFS[] = "No buffer space available.";
inline constexpr const char RSStackEISCONN[] = "Socket is already connected.";
inline constexpr const char RSStackENOTCONN[] = "Socket is not connected.";
inline constexpr const char RSStackESHUTDOWN[] = "Cannot send or receive after socket is closed.";
inline constexpr const char RSStackETOOMANYREFS[] = "Too many references, cannot splice.";
inline constexpr const char RSStackETIMEDOUT[] = "Connection timed out.";
inline constexpr const char RSStackECONNREFUSED[] = "Connection refused.";
inline constexpr const char RSStackELOOP[] = "Too many levels of symbolic links.";
inline constexpr const char RSStackENAMETOOLONG[] = "File name too long.";
inline constexpr const char RSStackEHOSTDOWN[] = "Host is down.";
inline constexpr const char RSStackEHOSTUNREACH[] = "No route to host.";
inline constexpr const char RSStackENOTEMPTY[] = "Directory not empty";  // no final period, as the table has it

// Connections.
inline constexpr const char RSConnectTimeout[] = "Connect timed out.";
inline constexpr const char RSAlreadyConnected[] = "Already connected.";
inline constexpr const char RSConnectionClosedGracefully[] = "Connection Closed Gracefully.";
inline constexpr const char RSReadTimeout[] = "Read Timeout";
inline constexpr const char RSStatusDisconnected[] = "Disconnected.";
inline constexpr const char RSNotEnoughDataInBuffer[] = "Not enough data in buffer.";
inline constexpr const char RSIdNoDataToRead[] = "No data to read.";
inline constexpr const char RSIOHandlerPropInvalid[] = "IOHandler value is not valid";
inline constexpr const char RSMaxLineLengthExceeded[] = "Max line length exceeded.";
// The whole exchange (connect, request and reply) outlasted the time it was given, whatever the gaps between bytes.
inline constexpr const char RSReplyTimeout[] = "Reply took too long.";
inline constexpr const char RSFailedTimeZoneInfo[] = "Failed attempting to retrieve time zone information.";
inline constexpr const char RSOnlyOneAntiFreeze[] = "Only one TIdAntiFreeze can exist per application.";

// Component status texts, formatted with the arguments of the report.
inline constexpr const char RSStatusResolving[] = "Resolving hostname %s.";
inline constexpr const char RSStatusConnecting[] = "Connecting to %s.";
inline constexpr const char RSStatusConnected[] = "Connected.";
inline constexpr const char RSStatusDisconnecting[] = "Disconnecting.";
inline constexpr const char RSStatusText[] = "%s";

}  // namespace IdResourceStrings

// ---- URI, header, cookie and HTTP texts (appended below this line) ----

// URI, header and cookie texts.
namespace IdResourceStrings {
inline constexpr const char RSIndexOutOfRange[] = "Index out of range.";
}  // namespace IdResourceStrings

// HTTP exchange texts.
namespace IdResourceStrings {
inline constexpr const char RSHTTPChunkStarted[] = "Chunk Started";
inline constexpr const char RSHTTPUndefinedSituation[] = "Undefined situation";
inline constexpr const char RSHTTPMethodRequiresVersion[] = "This request method is supported in HTTP 1.1";
// Requests this client does not make; refused before anything is sent.
inline constexpr const char RSHTTPMethodNotSupported[] = "This request method is not supported.";
inline constexpr const char RSHTTPRequestBodyNotSupported[] = "Requests with a body are not supported.";
inline constexpr const char RSHTTPProxyNotSupported[] = "Connections through a proxy are not supported.";
inline constexpr const char RSHTTPHeaderBlockTooLarge[] = "Reply header too large.";
inline constexpr const char RSHTTPBodyTooLarge[] = "Reply body too large.";
inline constexpr const char RSHTTPTooManyInterimReplies[] = "Too many interim replies.";
}  // namespace IdResourceStrings

// TLS texts, each formatted with the server's host name.
namespace IdResourceStrings {
inline constexpr const char RSTLSNotTrusted[] = "The certificate of %s is not trusted.";
inline constexpr const char RSTLSExpired[] = "The certificate of %s has expired or is not valid yet.";
inline constexpr const char RSTLSWrongName[] = "The certificate of %s is made out for another name.";
inline constexpr const char RSTLSFailed[] = "No secure connection to %s could be made.";
}  // namespace IdResourceStrings
