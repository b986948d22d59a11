#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/IdException.h"
#include "net/IdTCPClient.h"
#include "testing/TestSupport.h"
#include "testing/ScriptedPeer.h"

namespace {

using Peer = ScriptedPeer;

// A client connected to the peer, with every status text it reports and every disconnected event it fires.
struct Connection {
  explicit Connection(int port, const std::string& host = "127.0.0.1") : client(nullptr) {
    client.OnStatus = [this](TObject*, TIdStatus, const std::string& text) { statuses.push_back(text); };
    client.OnDisconnected = [this](TObject*) { ++disconnectedEvents; };
    client.SetHost(host);
    client.SetPort(port);
    client.Connect();
  }
  std::string Buffered() { return client.InputBuffer().DataString(); }
  // Waits until the input buffer holds n bytes.
  void Buffer(int64_t n) {
    for (int i = 0; i < 1000 && client.InputBuffer().Size() < n; ++i) client.FillInputBuffer(true, 5000, true);
  }

  TIdTCPClient client;
  std::vector<std::string> statuses;
  int disconnectedEvents = 0;
};

// ---- lines ----

TEST(ReadLine, ReturnsTheLineThenReportsTheCloseAndKeepsAnUnterminatedRestBuffered) {
  Peer peer({Peer::Send("abc\r\ndef"), Peer::Close()});
  Connection c(peer.Port());
  EXPECT_EQ(c.client.ReadLine(), "abc");
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { c.client.ReadLine(); }), "Connection Closed Gracefully.");
  EXPECT_EQ(c.Buffered(), "def");
  EXPECT_FALSE(c.client.Connected());
}

TEST(ReadLine, LineEndingsAndTerminators) {
  Peer peer({Peer::Send("one\ntwo\r\nthree\r\n\r\nfourEN"), Peer::Sleep(100), Peer::Send("Dfive\rEND"),
             Peer::Sleep(100), Peer::Send("E"), Peer::Sleep(100), Peer::Send("ND")});
  Connection c(peer.Port());
  EXPECT_EQ(c.client.ReadLine(), "one");
  EXPECT_EQ(c.client.ReadLine(), "two");
  EXPECT_EQ(c.client.ReadLine("\n"), "three\r");  // an explicit line feed keeps the carriage return
  EXPECT_EQ(c.client.ReadLine(), "");
  EXPECT_EQ(c.client.ReadLine("END"), "four");  // a terminator split across two receives
  EXPECT_EQ(c.client.ReadLine("END"), "five\r");
  EXPECT_EQ(c.client.ReadLine("END"), "");  // split across three
  EXPECT_EQ(c.client.ReadLineTimedOut(), false);
}

TEST(ReadLine, AnExplicitTimeOutReturnsEmptyAndSetsTheFlagAndADefaultOneRaises) {
  Peer peer({Peer::Sleep(1500), Peer::Send("late\n")});
  Connection c(peer.Port());
  EXPECT_EQ(c.client.ReadLine("", 500), "");
  EXPECT_TRUE(c.client.ReadLineTimedOut());
  EXPECT_TRUE(c.client.Connected());
  // The default wait raises when a ReadTimeout is set,
  c.client.SetReadTimeout(200);
  EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { c.client.ReadLine(); }), "Read Timeout");
  c.client.SetReadTimeout(0);
  // and has no limit with ReadTimeout 0, so the late line still comes.
  EXPECT_EQ(c.client.ReadLine(), "late");
  EXPECT_FALSE(c.client.ReadLineTimedOut());
}

TEST(ReadLine, ALineAtTheBoundIsReturnedWholeAndOneByteMoreFailsAndCloses) {
  const std::string line(static_cast<size_t>(kIdMaxLineLength), 'x');
  Peer peer({Peer::Send(line + "\r\nnext\n" + line + "z\n")});
  Connection c(peer.Port());
  EXPECT_EQ(c.client.ReadLine(), line);
  EXPECT_EQ(c.client.ReadLine(), "next");
  EXPECT_EQ(MessageOf<EIdMaxLineLengthExceeded>([&] { c.client.ReadLine(); }), "Max line length exceeded.");
  EXPECT_FALSE(c.client.Connected());
  EXPECT_EQ(c.client.InputBuffer().Size(), 0);
  EXPECT_THROW(c.client.ReadLine(), EIdException);
}

TEST(ReadLine, ALineThatNeverEndsStopsAtTheBound) {
  // Arrives in pieces and never ends: the bound stops the buffer growing without limit.
  Peer endless({Peer::SendRepeated(std::string(4096, 'y'), 600)});
  Connection c(endless.Port());
  EXPECT_THROW(c.client.ReadLine(), EIdMaxLineLengthExceeded);
  EXPECT_FALSE(c.client.Connected());
}

TEST(ReadLine, WithoutAConnectionItFailsInsteadOfWaitingForever) {
  StackUser user;
  TIdTCPClient client(nullptr);
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { client.ReadLine(); }), "Disconnected.");
  EXPECT_THROW(client.ReadText(1), EIdClosedSocket);
  EXPECT_THROW(client.WriteLine("x"), EIdClosedSocket);
  EXPECT_FALSE(client.Connected());
}

// ---- reading to a stream ----

TEST(ReadToStream, UntilThePeerClosesWith100000BytesOfEveryValue) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += static_cast<char>(i * 7);
  Peer peer({Peer::Send(body.substr(0, 40000)), Peer::Sleep(50), Peer::Send(body.substr(40000)), Peer::Close()});
  Connection c(peer.Port());
  TMemoryStream stream;
  c.client.ReadToStream(stream, kIdReadCountFromPeer, true);
  EXPECT_EQ(stream.Size(), 100000);
  EXPECT_TRUE(stream.DataString() == body);
  EXPECT_FALSE(c.client.Connected());
  EXPECT_EQ(c.disconnectedEvents, 1);
}

TEST(ReadToStream, AnEarlyCloseFailsWithWholePiecesInTheStreamAndThePartialOneBuffered) {
  Peer peer({Peer::Send("0123"), Peer::Close()});
  Connection c(peer.Port());
  TMemoryStream stream;
  stream.WriteBuffer("XY", 2);
  EXPECT_THROW(c.client.ReadToStream(stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "XY");
  EXPECT_EQ(c.Buffered(), "0123");
  // Pieces of RecvBufferSize: the first 32768 of 40000 bytes are one whole piece.
  const std::string bytes(40000, 'b');
  Peer longer({Peer::Send(bytes), Peer::Close()});
  Connection d(longer.Port());
  TMemoryStream body;
  EXPECT_THROW(d.client.ReadToStream(body, 50000), EIdConnClosedGracefully);
  EXPECT_EQ(body.Size(), 32768);
  EXPECT_EQ(d.client.InputBuffer().Size(), 40000 - 32768);
}

TEST(ReadToStream, ZeroOrNegativeCountsReadNothingAndTheDefaultReadsACountSentFirst) {
  Peer peer({Peer::Send(std::string("\0\0\0\5hello!", 10))});
  Connection c(peer.Port());
  c.Buffer(10);
  TMemoryStream stream;
  for (int64_t count : {0, -1, -12345}) c.client.ReadToStream(stream, count);
  EXPECT_EQ(stream.Size(), 0);
  c.client.ReadToStream(stream);
  EXPECT_EQ(stream.DataString(), "hello");
  EXPECT_EQ(c.client.ReadText(1), "!");
}

TEST(ReadToStream, CountsItsWorkOnce) {
  Peer peer({Peer::Send(std::string(70000, 'w'))});
  Connection c(peer.Port());
  std::vector<std::string> work;
  c.client.OnWorkBegin = [&](TObject*, TWorkMode m, int64_t max) {
    work.push_back("begin " + std::to_string(m) + " " + std::to_string(max));
  };
  c.client.OnWorkEnd = [&](TObject*, TWorkMode m) { work.push_back("end " + std::to_string(m)); };
  int64_t last = 0;
  c.client.OnWork = [&](TObject*, TWorkMode, int64_t count) { last = count; };
  TMemoryStream stream;
  c.client.ReadToStream(stream, 70000);
  EXPECT_EQ(work, (std::vector<std::string>{"begin 0 70000", "end 0"}));
  EXPECT_GT(last, 0);
  EXPECT_LE(last, 70000);
}

// ---- closing ----

TEST(Closing, APeerCloseIsActedOnOnceAtTheNextCheck) {
  Peer peer({Peer::Send("data"), Peer::Close()});
  Connection c(peer.Port());
  c.Buffer(4);
  while (c.client.FillInputBuffer(false, 5000, false) > 0) {
  }
  EXPECT_TRUE(c.client.PeerClosed());
  EXPECT_EQ(c.disconnectedEvents, 1);  // the fill's own check dropped the socket
  EXPECT_FALSE(c.client.Connected());
  EXPECT_FALSE(c.client.Connected());
  EXPECT_EQ(c.disconnectedEvents, 1);
  EXPECT_EQ(c.statuses, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "Disconnected."}));
  // Bytes still buffered keep it readable, not writable.
  EXPECT_THROW(c.client.WriteLine("x"), EIdConnClosedGracefully);
  EXPECT_EQ(c.client.ReadText(4), "data");
  EXPECT_THROW(c.client.ReadText(1), EIdConnClosedGracefully);
}

TEST(Closing, AProbeRaisesForAPeersCloseButNotForSilence) {
  Peer peer({Peer::Sleep(300), Peer::Close()});
  Connection c(peer.Port());
  EXPECT_NO_THROW(c.client.ProbeClosed());
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_THROW(c.client.ProbeClosed(), EIdConnClosedGracefully);
}

TEST(Closing, ConnectingAgainIsRefusedAndDisconnectingTwiceRaisesNothing) {
  Peer peer({Peer::Sleep(2000)});
  Connection c(peer.Port());
  EXPECT_EQ(MessageOf<EIdAlreadyConnected>([&] { c.client.Connect(); }), "Already connected.");
  EXPECT_TRUE(c.client.Connected());
  EXPECT_NO_THROW(c.client.Disconnect());
  EXPECT_NO_THROW(c.client.Disconnect());
  EXPECT_FALSE(c.client.Connected());
  EXPECT_EQ(c.client.IOHandler(), nullptr);  // the handler Connect made is gone
  EXPECT_EQ(c.disconnectedEvents, 2);
  EXPECT_EQ(c.statuses, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.", "Disconnecting.",
                                                  "Disconnected.", "Disconnecting.", "Disconnected."}));
}

TEST(Closing, AResetWhileReadingIsASocketErrorEvenWithBytesBuffered) {
  if (RunningUnderWine()) {
    // Measured here: Wine's recv reports a peer's reset as the end of the stream (0 bytes, no error), even from a
    // native peer, so the reset cannot be observed through its socket layer.
    GTEST_SKIP() << "Wine reports a connection reset as a graceful close";
  }
  Peer peer({Peer::Send("abc"), Peer::Sleep(200), Peer::Reset()});
  Connection c(peer.Port());
  c.Buffer(3);
  const auto e = Raised<EIdSocketError>([&] { c.client.ReadLine(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->LastError(), 10054);
  EXPECT_EQ(c.Buffered(), "abc");
}

TEST(Closing, WritingAfterAResetFailsWithASocketError) {
  // The peer resets only once it has the client's first line, so the connect has finished (and read both
  // addresses) before the reset, however slowly this machine schedules the client.
  Peer peer({Peer::Accept(), Peer::ReadUntil("\r\n"), Peer::Reset()});
  Connection c(peer.Port());
  c.client.WriteLine("hello");
  ASSERT_TRUE(peer.WaitDone(5000));
  bool failed = false;
  // The first write may still be taken; the reset answers it, and a later one fails.
  for (int i = 0; i < 50 && !failed; ++i) {
    try {
      c.client.WriteLine("ping");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } catch (const EIdSocketError&) {
      failed = true;
    } catch (const EIdConnClosedGracefully&) {
      failed = true;
    }
  }
  EXPECT_TRUE(failed);
  EXPECT_FALSE(c.client.Connected());
}

// ---- connecting ----

TEST(Connect, ARefusedConnectDropsTheSocketAndTheHandlerIsReusedLater) {
  StackUser user;
  TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  {
    Peer probe({});
    client.SetPort(probe.Port());
  }  // nobody listens there any more
  EXPECT_THROW(client.Connect(), EIdSocketError);
  EXPECT_FALSE(client.Connected());
  TIdIOHandler* handler = client.IOHandler();
  ASSERT_NE(handler, nullptr);
  Peer peer({Peer::ReadUntil("\r\n")});
  client.SetPort(peer.Port());
  client.Connect();
  EXPECT_EQ(client.IOHandler(), handler);
  client.WriteLine("hello");
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Received(), "hello\r\n");
}

TEST(Connect, ConnectAndReadAllReturnsEverythingUntilTheClose) {
  Peer peer({Peer::Send("first "), Peer::Sleep(50), Peer::Send("second"), Peer::Close()});
  StackUser user;
  TIdTCPClient client(nullptr);
  client.SetHost("localhost");
  client.SetPort(peer.Port());
  EXPECT_EQ(client.ConnectAndReadAll(), "first second");
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(Connect, AConnectTimeoutEndsAConnectTheListenerNeverTakes) {
  // A listener that never accepts stops answering once its queue is full; a connect then waits for the platform's
  // retries, and the client's connect time-out ends it.
  Peer peer({Peer::Sleep(20000)}, 30000);
  StackUser user;
  std::vector<std::unique_ptr<TIdTCPClient>> queued;
  bool timedOut = false;
  for (int i = 0; i < 40 && !timedOut; ++i) {
    auto client = std::make_unique<TIdTCPClient>(nullptr);
    client->SetHost("127.0.0.1");
    client->SetPort(peer.Port());
    client->SetConnectTimeout(300);
    try {
      client->Connect();
      queued.push_back(std::move(client));
    } catch (const EIdConnectTimeout& e) {
      EXPECT_EQ(e.Message(), "Connect timed out.");
      EXPECT_FALSE(client->Connected());  // closed so that the pending connect ends
      timedOut = true;
    }
  }
  EXPECT_TRUE(timedOut) << queued.size() << " connections were all taken";
}

// ---- writing ----

TEST(Writing, ABufferedHeadLeavesInOneSendLoop) {
  Peer peer({Peer::ReadUntil("\r\n\r\n")});
  Connection c(peer.Port());
  std::vector<int64_t> sends;
  c.client.OnWork = [&](TObject*, TWorkMode mode, int64_t count) {
    if (mode == wkWrite) sends.push_back(count);
  };
  c.client.StartWork(wkWrite, 0);
  c.client.BeginBufferedWrite(-1);
  c.client.WriteLine("GET / HTTP/1.1");
  c.client.WriteLine("Host: example");
  c.client.WriteLine();
  EXPECT_TRUE(sends.empty());
  c.client.EndBufferedWrite();
  c.client.FinishWork(wkWrite);
  EXPECT_FALSE(c.client.Buffering());
  const std::string head = "GET / HTTP/1.1\r\nHost: example\r\n\r\n";
  EXPECT_EQ(sends, (std::vector<int64_t>{static_cast<int64_t>(head.size())}));
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Received(), head);
}

TEST(Writing, AThresholdFlushesAsItFills) {
  Peer peer({Peer::ReadUntil("klmn")});
  Connection c(peer.Port());
  c.client.BeginBufferedWrite(4);
  c.client.WriteText("abc");
  c.client.WriteText("defgh");  // 8 collected: the first 4 go
  c.client.ClearBufferedWrite();
  c.client.WriteText("ij");
  c.client.EndBufferedWrite();
  c.client.WriteText("klmn");
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Received(), "abcdijklmn");
}

// A stream that claims more bytes than it can give.
class ShortStream : public TMemoryStream {
 public:
  int64_t Size() override { return TMemoryStream::Size() + 5; }
};

TEST(Writing, FromAStreamAndFromOneThatRunsDry) {
  Peer peer({Peer::ReadUntil("xyz")});
  Connection c(peer.Port());
  c.client.SetSendBufferSize(4096);
  TMemoryStream body;
  for (int i = 0; i < 50000; ++i) body.WriteBuffer(i % 2 ? "a" : "b", 1);
  c.client.WriteFromStream(body, true, true);
  ShortStream dry;
  dry.WriteBuffer("xyz", 3);
  EXPECT_EQ(MessageOf<EIdNoDataToRead>([&] { c.client.WriteFromStream(dry); }), "No data to read.");
  EXPECT_TRUE(peer.WaitDone(5000));
  const std::string received = peer.Received();
  ASSERT_EQ(received.size(), 4u + 50000u + 3u);
  EXPECT_EQ(received.substr(0, 4), std::string("\0\0\xc3\x50", 4));  // 50000 in network order
  EXPECT_EQ(received.substr(4, 4), "baba");
  EXPECT_EQ(received.substr(50004), "xyz");
}

// ---- buffer operations ----

TEST(Buffer, TakingMoreThanIsBufferedRaisesAndInt32ReadsBothWays) {
  Peer peer({Peer::Send(std::string("\xc1\xe2z\x12\x34\x56\x78\x78\x56\x34\x12", 11))});
  Connection c(peer.Port());
  c.client.SetASCIIFilter(true);
  c.Buffer(11);
  EXPECT_THROW(c.client.TakeFromBuffer(12), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(c.client.TakeFromBuffer(3), "Abz");  // the filter cleared the top bits
  EXPECT_EQ(c.client.TakeFromBuffer(0), "");
  EXPECT_EQ(c.client.ReadInt32(), 0x12345678);
  EXPECT_EQ(c.client.ReadInt32(false), 0x12345678);
}

}  // namespace
