#include "net/IdStack.h"

#include <mutex>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

using namespace IdResourceStrings;

namespace {

struct SocketErrorEntry {
  int code;
  const char* text;
};

constexpr SocketErrorEntry kSocketErrorTexts[] = {
    {Id_WSAEINTR, RSStackEINTR},
    {Id_WSAEBADF, RSStackEBADF},
    {Id_WSAEACCES, RSStackEACCES},
    {Id_WSAEFAULT, RSStackEFAULT},
    {Id_WSAEINVAL, RSStackEINVAL},
    {Id_WSAEMFILE, RSStackEMFILE},
    {Id_WSAEWOULDBLOCK, RSStackEWOULDBLOCK},
    {Id_WSAEINPROGRESS, RSStackEINPROGRESS},
    {Id_WSAEALREADY, RSStackEALREADY},
    {Id_WSAENOTSOCK, RSStackENOTSOCK},
    {Id_WSAEDESTADDRREQ, RSStackEDESTADDRREQ},
    {Id_WSAEMSGSIZE, RSStackEMSGSIZE},
    {Id_WSAEPROTOTYPE, RSStackEPROTOTYPE},
    {Id_WSAENOPROTOOPT, RSStackENOPROTOOPT},
    {Id_WSAEPROTONOSUPPORT, RSStackEPROTONOSUPPORT},
    {Id_WSAESOCKTNOSUPPORT, RSStackESOCKTNOSUPPORT},
    {Id_WSAEOPNOTSUPP, RSStackEOPNOTSUPP},
    {Id_WSAEPFNOSUPPORT, RSStackEPFNOSUPPORT},
    {Id_WSAEAFNOSUPPORT, RSStackEAFNOSUPPORT},
    {Id_WSAEADDRINUSE, RSStackEADDRINUSE},
    {Id_WSAEADDRNOTAVAIL, RSStackEADDRNOTAVAIL},
    {Id_WSAENETDOWN, RSStackENETDOWN},
    {Id_WSAENETUNREACH, RSStackENETUNREACH},
    {Id_WSAENETRESET, RSStackENETRESET},
    {Id_WSAECONNABORTED, RSStackECONNABORTED},
    {Id_WSAECONNRESET, RSStackECONNRESET},
    {Id_WSAENOBUFS, RSStackENOBUFS},
    {Id_WSAEISCONN, RSStackEISCONN},
    {Id_WSAENOTCONN, RSStackENOTCONN},
    {Id_WSAESHUTDOWN, RSStackESHUTDOWN},
    {Id_WSAETOOMANYREFS, RSStackETOOMANYREFS},
    {Id_WSAETIMEDOUT, RSStackETIMEDOUT},
    {Id_WSAECONNREFUSED, RSStackECONNREFUSED},
    {Id_WSAELOOP, RSStackELOOP},
    {Id_WSAENAMETOOLONG, RSStackENAMETOOLONG},
    {Id_WSAEHOSTDOWN, RSStackEHOSTDOWN},
    {Id_WSAEHOSTUNREACH, RSStackEHOSTUNREACH},
    {Id_WSAENOTEMPTY, RSStackENOTEMPTY},
};

constexpr char kLocalHostName[] = "LOCALHOST";
constexpr char kLoopbackAddress[] = "127.0.0.1";
constexpr char kReservedInvalidDomain[] = "invalid";

// Takes the text before the first "." off the front of rest, with the "."; with no "." left, takes all of it.
std::string SplitAddressPart(std::string& rest) {
  size_t dot = rest.find('.');
  std::string part;
  if (dot == std::string::npos) {
    part = rest;
    rest.clear();
  } else {
    part = rest.substr(0, dot);
    rest.erase(0, dot + 1);
  }
  return part;
}

// Names in the reserved "invalid" domain never exist. Answering them here keeps such lookups off the network.
bool IsInReservedInvalidDomain(const std::string& host) {
  std::string name = LowerCase(host);
  if (!name.empty() && name.back() == '.') name.pop_back();
  const std::string domain = kReservedInvalidDomain;
  if (name == domain) return true;
  return name.size() > domain.size() && name.compare(name.size() - domain.size(), domain.size(), domain) == 0 &&
         name[name.size() - domain.size() - 1] == '.';
}

// Guards the live-component count and the creation and freeing of the stack.
std::mutex& StackLock() {
  static std::mutex lock;
  return lock;
}
int gInstanceCount = 0;
std::unique_ptr<TIdStack> gStack;
TIdStackFactory gStackClass = &NewPlatformStack;

}  // namespace

std::string SocketErrorText(int errorCode) {
  const char* text = "";
  for (const SocketErrorEntry& entry : kSocketErrorTexts) {
    if (entry.code == errorCode) {
      text = entry.text;
      break;
    }
  }
  return Format(RSStackError, errorCode, text);
}

int TIdStack::Select(TIdSocketList* readList, TIdSocketList* writeList, TIdSocketList* errorList, int timeoutMs) {
  for (const TIdSocketList* list : {readList, writeList, errorList}) {
    if (list != nullptr && list->size() > static_cast<size_t>(kIdSelectSetCapacity)) {
      throw EIdStackSetSizeExceeded(RSSetSizeExceeded);
    }
  }
  return PlatformSelect(readList, writeList, errorList, timeoutMs);
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != Id_SOCKET_ERROR) return false;
  lastError_ = GetLastError();
  for (int code : tolerated) {
    if (code == lastError_) return true;
  }
  RaiseSocketError(lastError_);
}

void TIdStack::RaiseSocketError(int errorCode) { throw EIdSocketError(errorCode, SocketErrorText(errorCode)); }

TIdStackSocketHandle TIdStack::NewSocket(int type, int protocol) {
  TIdStackSocketHandle socket = Socket(Id_AF_INET, type, protocol);
  if (socket == kIdInvalidSocket) throw EIdInvalidSocket(RSCannotAllocateSocket);
  return socket;
}

std::string TIdStack::ResolveHost(const std::string& host) {
  if (SameText(host, kLocalHostName)) return kLoopbackAddress;
  if (IsDottedAddress(host)) return host;
  if (IsInReservedInvalidDomain(host)) {
    SetLastError(Id_WSAHOST_NOT_FOUND);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return GetHostByName(host);
}

bool TIdStack::IsDottedAddress(const std::string& text) {
  std::string rest = text;
  std::string parts[4];
  for (int i = 0; i < 3; ++i) parts[i] = SplitAddressPart(rest);
  parts[3] = rest;
  for (const std::string& part : parts) {
    int32_t value = 0;
    if (part.empty() || !TryStrToInt(part, value) || value < 0 || value > 255) return false;
  }
  return true;
}

std::string TIdStack::AddressToText(const uint8_t address[4]) {
  return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

void TIdStack::TextToAddress(const std::string& text, uint8_t address[4]) {
  std::string rest = text;
  for (int i = 0; i < 3; ++i) address[i] = static_cast<uint8_t>(StrToInt(SplitAddressPart(rest)) & 0xFF);
  address[3] = static_cast<uint8_t>(StrToInt(rest) & 0xFF);
}

void SetStackClass(TIdStackFactory factory) {
  std::lock_guard<std::mutex> lock(StackLock());
  gStackClass = factory != nullptr ? factory : &NewPlatformStack;
}

std::unique_ptr<TIdStack> NewStack() { return gStackClass(); }

TIdStack* GStack() { return gStack.get(); }

int IdStackInstanceCount() {
  std::lock_guard<std::mutex> lock(StackLock());
  return gInstanceCount;
}

void IdStackAddInstance() {
  std::lock_guard<std::mutex> lock(StackLock());
  // Created before counting: a stack that fails to load leaves no live count behind, so the next component tries
  // again instead of finding a count without a stack.
  if (gInstanceCount == 0) gStack = NewStack();
  ++gInstanceCount;
}

void IdStackRemoveInstance() {
  std::lock_guard<std::mutex> lock(StackLock());
  if (gInstanceCount == 0) return;
  if (--gInstanceCount == 0) gStack.reset();
}
