// A TCP connection with buffered reading: line reads, exact-count reads, reads until the peer closes, and writes
// that can be collected and sent in one go. A peer's close is noticed at once but reported (as
// EIdConnClosedGracefully) only when the caller needs more than what was already received.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdBuffer.h"
#include "net/IdComponent.h"
#include "net/IdIOHandler.h"
#include "net/IdStack.h"

// The longest line ReadLine returns, in bytes without the terminator.
inline constexpr int64_t kIdMaxLineLength = 1048576;
// What ReadToStream asks of one receive straight into a stream: it starts at the least and doubles while receives
// come back full (the peer sends faster than it is read), up to the most.
inline constexpr int64_t kDirectReceiveLeast = 256 << 10;
inline constexpr int64_t kDirectReceiveMost = 2 << 20;
// ReadToStream's byte count for "the peer sends the count first, as a 32-bit number in network order".
inline constexpr int64_t kIdReadCountFromPeer = INT64_MIN;

class TIdTCPConnection : public TIdComponent {
 public:
  explicit TIdTCPConnection(TComponent* owner);
  ~TIdTCPConnection() override;

  // ---- opening and closing ----
  virtual bool Connected();
  // Reports "Disconnecting.", drops the socket, frees the I/O handler that Connect made, calls OnDisconnected and
  // reports "Disconnected.". Raises nothing of its own; a second call does no harm.
  virtual void Disconnect();
  virtual void DropSocket();
  // The closed-connection rule: when the peer has closed (or the socket is gone) and the input buffer is used up
  // (or ignoreBuffer is set), raise EIdConnClosedGracefully if asked. A close not yet acted on drops the socket,
  // reports "Disconnected." and calls OnDisconnected, once.
  virtual void CheckClosed(bool raiseIfClosed = true, bool ignoreBuffer = false);
  void ProbeClosed(bool raiseIfClosed = true);
  // Empties the input buffer and forgets a peer's close.
  virtual void ResetState();

  // ---- reading ----
  // One wait and at most one receive into the input buffer. Returns the bytes received, 0 when the peer closed (or
  // when not connected), -1 when the wait ran out and raiseOnTimeout is false (else EIdReadTimeout "Read Timeout").
  virtual int FillInputBuffer(bool raiseIfClosed = true, int timeoutMs = TimeoutDefault, bool raiseOnTimeout = true);
  // The next line without its terminator. The default terminator is a line feed, and then one carriage return
  // before it is removed too. With an explicit time-out that runs out, returns "" and sets ReadLineTimedOut. A line
  // longer than MaxLineLength raises EIdMaxLineLengthExceeded and drops the connection.
  virtual std::string ReadLine(const std::string& terminator = std::string(), int timeoutMs = TimeoutDefault);
  // Appends byteCount bytes to the stream, or everything until the peer closes (readUntilDisconnect; with a count
  // that is not negative, at most that many), or a count the peer sends first (kIdReadCountFromPeer). Any other
  // negative count reads nothing. The stream is cut at its position afterwards, also on failure.
  void ReadToStream(TStream& stream, int64_t byteCount = kIdReadCountFromPeer, bool readUntilDisconnect = false);
  // Exactly count bytes (none for a count of 0 or less).
  void ReadBytes(void* buffer, int64_t count);
  std::string ReadText(int64_t count);
  int32_t ReadInt32(bool convertFromNetworkOrder = true);
  // Whatever one receive brings (waiting for it when connected) plus what was buffered.
  std::string TakeAvailable();
  // Everything until the peer closes.
  virtual std::string ReadAll();
  virtual std::string TakeFromBuffer(int64_t count);
  virtual void DropFromBuffer(int64_t count);

  // ---- writing ----
  virtual void WriteText(const std::string& text);
  virtual void WriteLine(const std::string& text = std::string());
  void WriteBytes(const void* buffer, int64_t count, bool writeNow = false);
  void WriteInt32(int32_t value, bool convertToNetworkOrder = true);
  // Sends the stream from its start (or its position) to its end, optionally preceded by the count.
  virtual void WriteFromStream(TStream& stream, bool fromStart = true, bool writeByteCount = false);
  // Collects writes in memory until EndBufferedWrite; a positive threshold flushes whenever that much is collected.
  void BeginBufferedWrite(int threshold = -1);
  // Sends what was collected and ends collecting, also when the send fails.
  void EndBufferedWrite();
  // Sends count collected bytes from the front (all when count is -1 or larger than what is collected).
  void FlushBufferedWrite(int64_t count = -1);
  void ClearBufferedWrite();

  // ---- properties ----
  TIdBuffer& InputBuffer() { return *inputBuffer_; }
  TIdIOHandler* IOHandler() const { return ioHandler_; }
  // A handler made elsewhere; the connection forgets it when it is destroyed.
  void SetIOHandler(TIdIOHandler* handler);
  bool ASCIIFilter() const { return asciiFilter_; }
  void SetASCIIFilter(bool value) { asciiFilter_ = value; }
  bool PeerClosed() const { return peerClosed_; }
  // Every byte received on this connection object so far, buffered or taken; only differences mean anything.
  int64_t ReceivedByteCount() const { return receivedByteCount_; }
  bool ReadLineTimedOut() const { return readLineTimedOut_; }
  // The point (IdSteadyMilliseconds) that no wait of this connection goes past, whatever its time-outs: a wait that
  // reaches it raises EIdReplyTimeout "Reply took too long." and drops the socket. 0 (the default): none.
  int64_t Deadline() const { return deadline_; }
  void SetDeadline(int64_t deadline);
  // Milliseconds a read waits by default; 0 means no limit.
  int ReadTimeout() const { return readTimeout_; }
  void SetReadTimeout(int value) { readTimeout_ = value; }
  int RecvBufferSize() const { return recvBufferSize_; }
  void SetRecvBufferSize(int value) { recvBufferSize_ = value; }
  int SendBufferSize() const { return sendBufferSize_; }
  void SetSendBufferSize(int value) { sendBufferSize_ = value; }
  bool Buffering() const { return writeBuffer_ != nullptr; }
  int WriteThreshold() const { return writeThreshold_; }
  int64_t MaxLineLength() const { return maxLineLength_; }
  void SetMaxLineLength(int64_t value) { maxLineLength_ = value; }

  TNotifyEvent OnDisconnected;

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  virtual void DoDisconnectedEvent();
  // The I/O handler was made by Connect and is freed by Disconnect.
  bool freeIOHandlerOnDisconnect_ = false;
  TIdIOHandler* ioHandler_ = nullptr;  // owned through the component owner when Connect made it

 private:
  // One wait and at most one receive into target (the input buffer's free end, or a stream's own room): the bytes
  // received, 0 when the peer closed, -1 when the wait ran out and raiseOnTimeout is false. A socket error drops the
  // socket and is raised unless bytes are still buffered.
  int Receive(char* target, int size, int timeoutMs, bool raiseOnTimeout);
  // Sends count bytes now, in a loop until all are taken.
  void SendNow(const char* bytes, int64_t count);
  // Waits until count bytes are buffered (or raises).
  void BufferAtLeast(int64_t count);
  [[noreturn]] void RaiseLineTooLong();

  bool asciiFilter_ = false;
  std::unique_ptr<TIdBuffer> inputBuffer_;
  bool peerClosed_ = false;
  int64_t receivedByteCount_ = 0;
  bool readLineTimedOut_ = false;
  int readTimeout_ = 0;
  int64_t deadline_ = 0;
  int recvBufferSize_ = 32768;
  int sendBufferSize_ = 32768;
  std::unique_ptr<TIdBuffer> writeBuffer_;
  int writeThreshold_ = 0;
  int64_t maxLineLength_ = kIdMaxLineLength;
};
