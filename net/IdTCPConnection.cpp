#include "net/IdTCPConnection.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <vector>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"
#include "rtl/SysUtils.h"

using namespace IdResourceStrings;

namespace {

constexpr char kLineFeed[] = "\n";
constexpr char kLineEnd[] = "\r\n";

void PutInt32(uint8_t bytes[4], int32_t value, bool networkOrder) {
  const uint32_t bits = static_cast<uint32_t>(value);
  if (networkOrder) {
    bytes[0] = static_cast<uint8_t>(bits >> 24);
    bytes[1] = static_cast<uint8_t>(bits >> 16);
    bytes[2] = static_cast<uint8_t>(bits >> 8);
    bytes[3] = static_cast<uint8_t>(bits);
  } else {
    std::memcpy(bytes, &bits, 4);
  }
}

int32_t GetInt32(const uint8_t bytes[4], bool networkOrder) {
  uint32_t bits;
  if (networkOrder) {
    bits = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
  } else {
    std::memcpy(&bits, bytes, 4);
  }
  return static_cast<int32_t>(bits);
}

}  // namespace

TIdTCPConnection::TIdTCPConnection(TComponent* owner)
    : TIdComponent(owner), inputBuffer_(std::make_unique<TIdBuffer>()) {}

TIdTCPConnection::~TIdTCPConnection() {
  DropSocket();
  if (freeIOHandlerOnDisconnect_ && ioHandler_ != nullptr) {
    TIdIOHandler* handler = ioHandler_;
    ioHandler_ = nullptr;
    freeIOHandlerOnDisconnect_ = false;
    delete handler;
  }
}

void TIdTCPConnection::Notification(TComponent* component, TOperation operation) {
  TIdComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component != nullptr && component == ioHandler_) {
    ioHandler_ = nullptr;
    freeIOHandlerOnDisconnect_ = false;
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == ioHandler_) return;
  if (ioHandler_ != nullptr) {
    TIdIOHandler* old = ioHandler_;
    ioHandler_ = nullptr;
    if (freeIOHandlerOnDisconnect_) {
      freeIOHandlerOnDisconnect_ = false;
      delete old;
    } else {
      RemoveFreeNotification(old);
    }
  }
  ioHandler_ = handler;
  if (handler != nullptr) {
    FreeNotification(handler);
    handler->SetDeadline(deadline_);
  }
}

void TIdTCPConnection::SetDeadline(int64_t deadline) {
  deadline_ = deadline;
  if (ioHandler_ != nullptr) ioHandler_->SetDeadline(deadline);
}

// ---- opening and closing ----

bool TIdTCPConnection::Connected() {
  CheckClosed(false, false);
  return ioHandler_ != nullptr && ioHandler_->Connected();
}

void TIdTCPConnection::Disconnect() {
  ReportStatus(stDisconnecting);
  DropSocket();
  if (freeIOHandlerOnDisconnect_) {
    TIdIOHandler* handler = ioHandler_;
    ioHandler_ = nullptr;
    freeIOHandlerOnDisconnect_ = false;
    delete handler;
  }
  DoDisconnectedEvent();
  ReportStatus(stDisconnected);
}

void TIdTCPConnection::DoDisconnectedEvent() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::DropSocket() {
  if (ioHandler_ == nullptr) return;
  peerClosed_ = true;
  ioHandler_->Close();
}

void TIdTCPConnection::CheckClosed(bool raiseIfClosed, bool ignoreBuffer) {
  bool closed = false;
  if (peerClosed_ && ioHandler_ != nullptr) {
    if (ioHandler_->Connected()) {
      DropSocket();
      ReportStatus(stDisconnected);
      // Whatever the handler does, the socket is already released, so a nested check finds nothing left to drop.
      DoDisconnectedEvent();
    }
    closed = true;
  } else if (ioHandler_ != nullptr) {
    closed = !ioHandler_->Connected();
  }
  if (closed && raiseIfClosed && (inputBuffer_->Size() == 0 || ignoreBuffer)) {
    throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
  }
}

void TIdTCPConnection::ProbeClosed(bool raiseIfClosed) { FillInputBuffer(raiseIfClosed, 1, false); }

void TIdTCPConnection::ResetState() {
  inputBuffer_->SetSize(0);
  peerClosed_ = false;
}

// ---- reading ----

int TIdTCPConnection::FillInputBuffer(bool raiseIfClosed, int timeoutMs, bool raiseOnTimeout) {
  if (ioHandler_ == nullptr) {
    // Never connected, or disconnected: there is nothing to wait on, and waiting would never end.
    if (raiseIfClosed) throw EIdClosedSocket(RSStatusDisconnected);
    return 0;
  }
  CheckClosed(raiseIfClosed, false);
  if (!Connected()) return 0;
  // Received straight into the input buffer's free end: one copy fewer than a separate receive buffer.
  const int size = std::max(recvBufferSize_, 1);
  const int n = Receive(inputBuffer_->ReserveTail(size), size, timeoutMs, raiseOnTimeout);
  if (n < 0) return n;
  inputBuffer_->CommitTail(n);
  CheckClosed(raiseIfClosed, false);
  return n;
}

int TIdTCPConnection::Receive(char* target, int size, int timeoutMs, bool raiseOnTimeout) {
  if (timeoutMs == TimeoutDefault) timeoutMs = readTimeout_ != 0 ? readTimeout_ : TimeoutInfinite;
  // A wait without a limit is the receive's own: it returns once bytes or the close arrive, one system call fewer.
  // Under a deadline the transport cuts every wait short.
  if (timeoutMs != TimeoutInfinite && !ioHandler_->WaitReadable(timeoutMs)) {
    if (raiseOnTimeout) throw EIdReadTimeout(RSReadTimeout);
    return -1;
  }
  int n = ioHandler_->Receive(target, size);
  peerClosed_ = (n == 0);
  if (n == 0) return 0;
  TIdStack* stack = GStack();
  if (stack->CheckSocketResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED})) {
    const int code = stack->LastError();
    if (ioHandler_ != nullptr) DropSocket();
    if (inputBuffer_->Size() == 0) stack->RaiseSocketError(code);
    return 0;
  }
  if (asciiFilter_) {
    for (int i = 0; i < n; ++i) target[i] = static_cast<char>(target[i] & 0x7F);
  }
  receivedByteCount_ += n;
  return n;
}

void TIdTCPConnection::RaiseLineTooLong() {
  // The rest of the line is still on its way; nothing after it could be read in step, so the connection ends here.
  inputBuffer_->SetSize(0);
  DropSocket();
  throw EIdMaxLineLengthExceeded(RSMaxLineLengthExceeded);
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int timeoutMs) {
  const bool defaultTerminator = terminator.empty();
  const std::string_view term = defaultTerminator ? std::string_view(kLineFeed) : std::string_view(terminator);
  readLineTimedOut_ = false;
  // With the default terminator a carriage return before the line feed is removed too, so it may come on top.
  const int64_t longestStart = maxLineLength_ + (defaultTerminator ? 1 : 0);

  // Receives only append, so what was searched once never needs searching again: only the new bytes are, plus
  // the few before them that could hold the start of a terminator split across two receives.
  int64_t searched = 0;
  int64_t found = -1;
  for (;;) {
    const int64_t size = inputBuffer_->Size();
    if (size > 0) {
      std::string_view data(inputBuffer_->Memory(), static_cast<size_t>(size));
      size_t at = data.find(term, static_cast<size_t>(searched));
      if (at != std::string_view::npos) {
        found = static_cast<int64_t>(at);
        break;
      }
      searched = std::max<int64_t>(size - static_cast<int64_t>(term.size() - 1), 0);
      if (searched > longestStart) RaiseLineTooLong();
    }
    CheckClosed(true, true);
    if (FillInputBuffer(true, timeoutMs, timeoutMs == TimeoutDefault) == -1) {
      readLineTimedOut_ = true;
      return std::string();
    }
  }

  const bool carriageReturn = defaultTerminator && found > 0 && inputBuffer_->Memory()[found - 1] == '\r';
  if (found - (carriageReturn ? 1 : 0) > maxLineLength_) RaiseLineTooLong();
  std::string line = TakeFromBuffer(found + static_cast<int64_t>(term.size()));
  line.resize(static_cast<size_t>(found - (carriageReturn ? 1 : 0)));
  return line;
}

void TIdTCPConnection::BufferAtLeast(int64_t count) {
  while (inputBuffer_->Size() < count) {
    FillInputBuffer(true, TimeoutDefault, true);
    CheckClosed(true, true);
  }
}

void TIdTCPConnection::ReadBytes(void* buffer, int64_t count) {
  if (count <= 0) return;
  BufferAtLeast(count);
  std::memcpy(buffer, inputBuffer_->Memory(), static_cast<size_t>(count));
  DropFromBuffer(count);
}

std::string TIdTCPConnection::ReadText(int64_t count) {
  if (count <= 0) return std::string();
  BufferAtLeast(count);
  return TakeFromBuffer(count);
}

int32_t TIdTCPConnection::ReadInt32(bool convertFromNetworkOrder) {
  uint8_t bytes[4];
  ReadBytes(bytes, 4);
  return GetInt32(bytes, convertFromNetworkOrder);
}

void TIdTCPConnection::ReadToStream(TStream& stream, int64_t byteCount, bool readUntilDisconnect) {
  if (byteCount == kIdReadCountFromPeer && !readUntilDisconnect) byteCount = ReadInt32(true);
  if (byteCount >= 0 && !readUntilDisconnect) {
    // Room made in advance, so that a long body does not grow the stream step by step; room that is not filled
    // costs no more than address space. Only so far, because the count comes from the peer: beyond that the stream
    // grows as the bytes arrive.
    constexpr int64_t kMaxReserve = 64 << 20;
    stream.Reserve(std::min(byteCount, kMaxReserve));
  }
  // A negative count (a length the peer got wrong) reads nothing rather than everything or garbage. Until the close,
  // a count is the most that is read.
  int64_t amount = readUntilDisconnect && byteCount < 0 ? INT64_MAX : std::max<int64_t>(byteCount, 0);
  StartWork(wkRead, readUntilDisconnect ? 0 : amount);

  // However the read ends, the work is finished and the stream is cut at its position.
  TScopeExit finish([this, &stream] {
    FinishWork(wkRead);
    const int64_t position = stream.Position();
    if (stream.Size() > position) stream.SetSize(position);
  });
  int64_t direct = 0;  // bytes received straight into the stream
  // A failed read leaves the stream as reading it piece by piece through the input buffer would have: whole pieces
  // of RecvBufferSize bytes in the stream, the bytes of the unfinished one back in the buffer.
  TScopeExit giveBackUnfinished(
      [this, &stream, &direct] {
        const int64_t unfinished = direct % std::max(recvBufferSize_, 1);
        if (unfinished > 0) {
          stream.Seek(-unfinished, TSeekOrigin::soCurrent);
          inputBuffer_->CommitTail(stream.Read(inputBuffer_->ReserveTail(unfinished), unfinished));
          stream.Seek(-unfinished, TSeekOrigin::soCurrent);
        }
      },
      TScopeExitWhen::seOnFailure);
  int64_t receiveSize = kDirectReceiveLeast;
  const int64_t buffered = std::min(inputBuffer_->Size(), amount);
  if (buffered > 0) {
    stream.WriteBuffer(inputBuffer_->Memory(), buffered);
    inputBuffer_->RemoveFront(buffered);
    amount -= buffered;
  }
  while (Connected() && amount > 0) {
    // With nothing buffered, the bytes go from the socket straight into a stream that gives room for them, in large
    // receives: one copy and many system calls fewer than through the input buffer.
    const int64_t wanted = std::min(amount, receiveSize);
    char* room = inputBuffer_->Size() == 0 ? stream.WriteRoom(wanted) : nullptr;
    if (room != nullptr) {
      const int n = Receive(room, static_cast<int>(wanted), TimeoutDefault, true);
      if (n == wanted) {
        receiveSize = std::min(receiveSize * 2, kDirectReceiveMost);
      } else if (n < wanted / 2) {
        receiveSize = std::max(receiveSize / 2, kDirectReceiveLeast);
      }
      stream.CommitRoom(n);
      AddWork(wkRead, n);
      amount -= n;
      direct += n;
      // A close is the end of a body read until the close, and a failure of any other.
      CheckClosed(!readUntilDisconnect, false);
      continue;
    }
    const int64_t chunk = std::min<int64_t>(amount, std::max(recvBufferSize_, 1));
    try {
      BufferAtLeast(chunk);
    } catch (const EIdConnClosedGracefully&) {
      if (!readUntilDisconnect) throw;
      // The end of the connection is the end of the body: what arrived last is the rest of it.
      std::string rest = TakeAvailable();
      stream.WriteBuffer(rest.data(), static_cast<int64_t>(rest.size()));
      amount -= static_cast<int64_t>(rest.size());
      continue;
    }
    stream.WriteBuffer(inputBuffer_->Memory(), chunk);
    DropFromBuffer(chunk);
    amount -= chunk;
  }
}

std::string TIdTCPConnection::TakeAvailable() {
  if (Connected()) FillInputBuffer(false, TimeoutDefault, true);
  return TakeFromBuffer(inputBuffer_->Size());
}

std::string TIdTCPConnection::ReadAll() {
  std::string result;
  StartWork(wkRead, 0);
  TScopeExit finish([this] { FinishWork(wkRead); });
  while (Connected()) result += TakeAvailable();
  return result;
}

std::string TIdTCPConnection::TakeFromBuffer(int64_t count) {
  if (count > inputBuffer_->Size()) throw EIdNotEnoughDataInBuffer(RSNotEnoughDataInBuffer);
  if (count <= 0) return std::string();
  std::string text = inputBuffer_->Text(count);
  DropFromBuffer(count);
  return text;
}

void TIdTCPConnection::DropFromBuffer(int64_t count) {
  inputBuffer_->RemoveFront(count);
  if (count > 0) AddWork(wkRead, count);
}

// ---- writing ----

void TIdTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBytes(text.data(), static_cast<int64_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) { WriteText(text + kLineEnd); }

void TIdTCPConnection::WriteBytes(const void* buffer, int64_t count, bool writeNow) {
  if (count <= 0) return;
  CheckClosed(true, true);
  if (writeBuffer_ == nullptr || writeNow) {
    SendNow(static_cast<const char*>(buffer), count);
    return;
  }
  writeBuffer_->Append(buffer, count);
  if (writeThreshold_ > 0 && writeBuffer_->Size() >= writeThreshold_) FlushBufferedWrite(writeThreshold_);
}

void TIdTCPConnection::SendNow(const char* bytes, int64_t count) {
  if (ioHandler_ == nullptr) throw EIdClosedSocket(RSStatusDisconnected);
  int64_t sent = 0;
  while (sent < count) {
    const int length = static_cast<int>(std::min<int64_t>(count - sent, INT_MAX));
    const int n = ioHandler_->Send(bytes + sent, length);
    peerClosed_ = (n == 0);
    CheckClosed(true, false);
    TIdStack* stack = GStack();
    if (stack->CheckSocketResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET})) {
      // The code of the failed send: asking the platform again after the socket is closed could report the close.
      const int code = stack->LastError();
      DropSocket();
      stack->RaiseSocketError(code);
    }
    if (n <= 0) {
      // Nothing taken and nothing failed: the socket is gone, and another try would take nothing either.
      throw EIdClosedSocket(RSStatusDisconnected);
    }
    AddWork(wkWrite, n);
    sent += n;
  }
}

void TIdTCPConnection::WriteInt32(int32_t value, bool convertToNetworkOrder) {
  uint8_t bytes[4];
  PutInt32(bytes, value, convertToNetworkOrder);
  WriteBytes(bytes, 4);
}

void TIdTCPConnection::WriteFromStream(TStream& stream, bool fromStart, bool writeByteCount) {
  if (fromStart) stream.SetPosition(0);
  int64_t left = stream.Size() - stream.Position();
  if (writeByteCount) WriteInt32(static_cast<int32_t>(left));
  StartWork(wkWrite, left);
  TScopeExit finish([this] { FinishWork(wkWrite); });
  std::vector<char> scratch(static_cast<size_t>(std::clamp<int64_t>(left, 1, std::max(sendBufferSize_, 1))));
  while (left > 0) {
    const int64_t wanted = std::min<int64_t>(left, static_cast<int64_t>(scratch.size()));
    const int64_t got = stream.Read(scratch.data(), wanted);
    if (got <= 0) throw EIdNoDataToRead(RSIdNoDataToRead);
    WriteBytes(scratch.data(), got);
    left -= got;
  }
}

void TIdTCPConnection::BeginBufferedWrite(int threshold) {
  // A second begin keeps what is already collected rather than losing it.
  if (writeBuffer_ == nullptr) writeBuffer_ = std::make_unique<TIdBuffer>();
  writeThreshold_ = threshold;
}

void TIdTCPConnection::EndBufferedWrite() {
  if (writeBuffer_ == nullptr) return;
  // Collecting ends either way, so that a failed request is not sent again in front of the next one.
  TScopeExit end([this] { writeBuffer_.reset(); });
  FlushBufferedWrite(-1);
}

void TIdTCPConnection::FlushBufferedWrite(int64_t count) {
  if (writeBuffer_ == nullptr || writeBuffer_->Size() == 0) return;
  if (count != -1 && count <= writeBuffer_->Size()) {
    WriteBytes(writeBuffer_->Memory(), count, true);
    writeBuffer_->RemoveFront(count);
  } else {
    WriteBytes(writeBuffer_->Memory(), writeBuffer_->Size(), true);
    writeBuffer_->SetSize(0);
  }
}

void TIdTCPConnection::ClearBufferedWrite() {
  if (writeBuffer_ != nullptr) writeBuffer_->SetSize(0);
}
