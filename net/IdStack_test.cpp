#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/IdException.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdSocketHandle.h"
#include "net/IdStack.h"
#include "net/IdTestSupport.h"
#include "testing/ScriptedPeer.h"

#if defined(_WIN32)
#include "net/IdStackWinsock.h"
#endif

namespace {

// A port the system reports free right now (bound once, never used for a connection, then released).
int FreePort() {
  TIdSocketHandle probe;
  probe.Allocate();
  probe.Bind();
  int port = probe.Port();
  probe.Close();
  return port;
}

// A socket holding a local port so that nothing else can bind it.
std::unique_ptr<TIdSocketHandle> Hold(int port) {
  auto holder = std::make_unique<TIdSocketHandle>();
  holder->Allocate();
  holder->SetPort(port);
  holder->Bind();
  return holder;
}

// Two neighbouring ports that are both free: returns the higher one, or 0 when none were found in a few tries.
int FreePortWithFreeNeighbourBelow() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    int port = FreePort();
    if (port <= 1025) continue;
    try {
      Hold(port - 1);  // released again at once
      return port;
    } catch (const EIdException&) {
    }
  }
  return 0;
}

TEST(ResolveHost, LocalhostInAnyCaseNeedsNoLookup) {
  StackUser user;
  for (const char* name : {"localhost", "LOCALHOST", "LocalHost", "lOcAlHoSt"}) {
    EXPECT_EQ(GStack()->ResolveHost(name), "127.0.0.1") << name;
  }
}

TEST(ResolveHost, DottedAddressesStayAsTheyAre) {
  StackUser user;
  EXPECT_EQ(GStack()->ResolveHost("192.168.0.1"), "192.168.0.1");
  EXPECT_EQ(GStack()->ResolveHost("010.0.0.1"), "010.0.0.1");
  EXPECT_EQ(GStack()->ResolveHost("0.0.0.0"), "0.0.0.0");
}

TEST(IsDottedAddress, FourDecimalPartsBelow256) {
  for (const char* text : {"192.168.0.1", "010.0.0.1", "255.255.255.255", "0.0.0.0", "127.000.000.001"}) {
    EXPECT_TRUE(TIdStack::IsDottedAddress(text)) << text;
  }
  for (const char* text : {"192.168.0.256", "1.2.3", "1.2.3.4.5", "", "...", "1..2.3", "1.2.3.", "-1.2.3.4", "a.b.c.d",
                           "1.2.3.4x", "localhost", "256.1.1.1"}) {
    EXPECT_FALSE(TIdStack::IsDottedAddress(text)) << text;
  }
}

TEST(TextToAddress, LeadingZerosAreDecimal) {
  uint8_t bytes[4];
  TIdStack::TextToAddress("010.0.0.1", bytes);
  EXPECT_EQ(TIdStack::AddressToText(bytes), "10.0.0.1");
  TIdStack::TextToAddress("127.000.000.009", bytes);
  EXPECT_EQ(TIdStack::AddressToText(bytes), "127.0.0.9");
  EXPECT_THROW(TIdStack::TextToAddress("1.2.x.4", bytes), EConvertError);
}

TEST(ResolveHost, UnknownHostFailsWithTheLookupCodeAndAnEmptyText) {
  StackUser user;
  try {
    GStack()->ResolveHost("no-such-host.invalid");
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\n");
    EXPECT_EQ(GStack()->LastError(), 11001);
  }
}

TEST(SocketHandle, RefusedConnectionGivesError10061) {
  StackUser user;
  const int port = FreePort();
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  try {
    handler.ConnectTo("127.0.0.1", port, "", 0, 0, 0, TimeoutDefault);
    FAIL() << "connected to a port nobody listens on";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  // The socket stays allocated for the caller to close.
  EXPECT_TRUE(handler.Connected());
  handler.Close();
  EXPECT_FALSE(handler.Connected());
}

TEST(SocketHandle, ConnectsThroughADottedAddressWithLeadingZeros) {
  ScriptedPeer peer({ScriptedPeer::ExpectBytes(2)});
  StackUser user;
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  handler.ConnectTo("0127.0.0.01", peer.Port(), "", 0, 0, 0, TimeoutDefault);
  EXPECT_EQ(handler.Binding()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(handler.Binding()->PeerPort(), peer.Port());
  EXPECT_EQ(handler.Binding()->IP(), "127.0.0.1");
  EXPECT_NE(handler.Binding()->Port(), 0);
  EXPECT_EQ(handler.Send("hi", 2), 2);
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Received(), "hi");
}

TEST(SocketHandle, ReportsResolvingForNamesAndConnectingAlways) {
  ScriptedPeer peer({ScriptedPeer::Accept(), ScriptedPeer::Accept()});
  StackUser user;
  std::vector<std::string> texts;
  TIdIOHandlerSocket handler(nullptr);
  handler.OnStatus = [&](TObject*, TIdStatus, const std::string& text) { texts.push_back(text); };
  handler.Open();
  handler.ConnectTo("LocalHost", peer.Port(), "", 0, 0, 0, TimeoutDefault);
  handler.Open();
  handler.ConnectTo("127.0.0.1", peer.Port(), "", 0, 0, 0, TimeoutDefault);
  EXPECT_EQ(texts, (std::vector<std::string>{"Resolving hostname LocalHost.", "Connecting to 127.0.0.1.",
                                             "Connecting to 127.0.0.1."}));
}

TEST(SocketHandle, CloseTwiceIsHarmlessAndWaitingAfterCloseRaises) {
  ScriptedPeer peer({ScriptedPeer::Accept()});
  StackUser user;
  TIdIOHandlerSocket handler(nullptr);
  handler.SetUseNagle(false);  // also sets TCP_NODELAY on the way
  handler.Open();
  handler.ConnectTo("127.0.0.1", peer.Port(), "", 0, 0, 0, TimeoutDefault);
  TIdSocketHandle& binding = *handler.Binding();
  const TIdStackSocketHandle number = binding.Handle();
  binding.Close();
  binding.Close();
  EXPECT_FALSE(binding.HandleAllocated());
  EXPECT_EQ(binding.Handle(), number);  // kept until Reset
  EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { binding.WaitReadable(10); }), "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { handler.Receive(nullptr, 0); }), "Disconnected.");
  EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { handler.Send("x", 1); }), "Disconnected.");
  binding.Reset(false);
  EXPECT_EQ(binding.Handle(), kIdInvalidSocket);
  EXPECT_EQ(binding.PeerIP(), "");
  EXPECT_EQ(binding.IP(), "127.0.0.1");  // the local side stays unless asked
}

TEST(Select, SetsHoldAtMost64Sockets) {
  StackUser user;
  std::vector<std::unique_ptr<TIdSocketHandle>> sockets;
  TIdSocketList list;
  for (int i = 0; i < 65; ++i) {
    sockets.push_back(std::make_unique<TIdSocketHandle>());
    sockets.back()->Allocate();
    list.push_back(sockets.back()->Handle());
  }
  TIdSocketList tooMany = list;
  EXPECT_EQ(MessageOf<EIdStackSetSizeExceeded>([&] { GStack()->Select(&tooMany, nullptr, nullptr, 0); }),
            "Set Size Exceeded.");
  EXPECT_EQ(MessageOf<EIdStackSetSizeExceeded>([&] { GStack()->Select(nullptr, nullptr, &tooMany, 0); }),
            "Set Size Exceeded.");
  list.pop_back();
  EXPECT_NO_THROW(GStack()->Select(&list, nullptr, nullptr, 0));
  TIdSocketList writable;
  writable.assign(list.begin(), list.begin() + 64);
  EXPECT_NO_THROW(GStack()->Select(nullptr, &writable, nullptr, 0));
}

TEST(Select, AFailingSelectIsReturnedNotRaised) {
  StackUser user;
  TIdSocketHandle closed;
  closed.Allocate();
  TIdSocketList list{closed.Handle()};
  closed.Close();  // the number no longer names a socket
  int result = 0;
  EXPECT_NO_THROW(result = GStack()->Select(&list, nullptr, nullptr, 0));
  EXPECT_EQ(result, Id_SOCKET_ERROR);
}

TEST(Select, ReportsTheReadySocket) {
  ScriptedPeer peer({ScriptedPeer::Send("x"), ScriptedPeer::Sleep(2000)});
  StackUser user;
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  handler.ConnectTo("127.0.0.1", peer.Port(), "", 0, 0, 0, TimeoutDefault);
  EXPECT_TRUE(handler.WaitReadable(5000));
  TIdSocketList readable{handler.Binding()->Handle()};
  EXPECT_EQ(GStack()->Select(&readable, nullptr, nullptr, 1000), 1);
  EXPECT_EQ(readable, TIdSocketList{handler.Binding()->Handle()});
}

TEST(BindRange, AFreeRangeBindsItsHighestPort) {
  StackUser user;
  const int high = FreePort();
  ASSERT_GT(high, 1030);
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetClientPortMin(high - 5);
  handle.SetClientPortMax(high);
  handle.Bind();
  EXPECT_EQ(handle.Port(), high);
}

TEST(BindRange, ATakenPortIsSkippedForTheNextLowerOne) {
  StackUser user;
  const int high = FreePortWithFreeNeighbourBelow();
  ASSERT_NE(high, 0) << "no two neighbouring free ports found";
  auto holder = Hold(high);
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetClientPortMin(high - 1);
  handle.SetClientPortMax(high);
  handle.Bind();
  EXPECT_EQ(handle.Port(), high - 1);
}

TEST(BindRange, NoFreePortInTheRange) {
  StackUser user;
  const int port = FreePort();
  auto holder = Hold(port);
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetClientPortMin(port);
  handle.SetClientPortMax(port);
  EXPECT_EQ(MessageOf<EIdCanNotBindPortInRange>([&] { handle.Bind(); }),
            "Can not bind in port range (" + std::to_string(port) + " - " + std::to_string(port) + ")");
}

TEST(BindRange, AReversedRangeIsRefusedBeforeAnyTry) {
  StackUser user;
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetClientPortMin(5);
  handle.SetClientPortMax(3);
  EXPECT_EQ(MessageOf<EIdInvalidPortRange>([&] { handle.Bind(); }), "Invalid Port Range (5 - 3)");
}

TEST(BindRange, ASinglePortInUse) {
  StackUser user;
  const int port = FreePort();
  auto holder = Hold(port);
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPort(port);
  EXPECT_EQ(MessageOf<EIdCouldNotBindSocket>([&] { handle.Bind(); }),
            "Could not bind socket. Address and port are already in use.");
  // A range is used only when no port is given.
  handle.SetClientPortMin(1);
  handle.SetClientPortMax(2);
  EXPECT_THROW(handle.Bind(), EIdCouldNotBindSocket);
}

TEST(TimedConnect, ConnectsWithinItsTime) {
  ScriptedPeer peer({ScriptedPeer::ExpectBytes(3)});
  StackUser user;
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  handler.ConnectTo("127.0.0.1", peer.Port(), "", 0, 0, 0, 5000);
  EXPECT_EQ(handler.Binding()->PeerPort(), peer.Port());
  EXPECT_EQ(handler.Send("abc", 3), 3);
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Error(), "");
}

TEST(TimedConnect, AFailureInTheThreadKeepsItsMessage) {
  StackUser user;
  const int port = FreePort();
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  EXPECT_EQ(MessageOf<EIdConnectException>([&] { handler.ConnectTo("127.0.0.1", port, "", 0, 0, 0, 5000); }),
            "Socket Error # 10061\r\nConnection refused.");
}

TEST(TimedConnect, GivesUpWhenTheListenerTakesNoMore) {
  // A listener that never accepts stops answering once its queue is full; a connect then waits for the platform's
  // retries, and the time limit ends it.
  ScriptedPeer peer({ScriptedPeer::Sleep(20000)}, 30000);
  StackUser user;
  std::vector<std::unique_ptr<TIdIOHandlerSocket>> queued;
  bool timedOut = false;
  for (int i = 0; i < 40 && !timedOut; ++i) {
    auto handler = std::make_unique<TIdIOHandlerSocket>(nullptr);
    handler->Open();
    try {
      handler->ConnectTo("127.0.0.1", peer.Port(), "", 0, 0, 0, 300);
      queued.push_back(std::move(handler));
    } catch (const EIdConnectTimeout& e) {
      EXPECT_EQ(e.Message(), "Connect timed out.");
      EXPECT_FALSE(handler->Connected());  // closed so that the pending connect ends
      timedOut = true;
    }
  }
  EXPECT_TRUE(timedOut) << queued.size() << " connections were all taken";
}

#if defined(_WIN32)
TEST(Winsock, AMissingLibraryCannotBeLoaded) {
  EXPECT_EQ(MessageOf<EIdStackCanNotLoadWinsock>([] { TIdStackWinsock stack("no-such-sockets.dll"); }),
            "no-such-sockets.dll could not be loaded.");
}

TEST(Winsock, AFailedLoadLeavesNoLiveCountBehind) {
  SetStackClass([]() -> std::unique_ptr<TIdStack> { return std::make_unique<TIdStackWinsock>("absent.dll"); });
  EXPECT_EQ(MessageOf<EIdStackCanNotLoadWinsock>([] { TIdComponent c(nullptr); }), "absent.dll could not be loaded.");
  EXPECT_EQ(IdStackInstanceCount(), 0);
  SetStackClass(nullptr);
  TIdComponent c(nullptr);
  ASSERT_NE(GStack(), nullptr);
  EXPECT_EQ(IdStackInstanceCount(), 1);
}

TEST(Winsock, TheRealLibraryStartsVersion22) {
  TIdStackWinsock stack;
  EXPECT_EQ(stack.Version().version, 0x0202);
  EXPECT_EQ(stack.Version().name, "Winsock stack");
  EXPECT_EQ(stack.EntryPointCount(), 51);
}
#endif

}  // namespace
