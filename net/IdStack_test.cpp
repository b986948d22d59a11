#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "net/IdException.h"
#include "net/IdIOHandlerSocket.h"
#include "net/IdSocketHandle.h"
#include "net/IdStack.h"
#include "testing/TestSupport.h"
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

TEST(ResolveHost, LocalhostNeedsNoLookupDottedAddressesStayAndUnknownHostsFail) {
  StackUser user;
  for (const char* name : {"localhost", "LOCALHOST", "lOcAlHoSt"}) EXPECT_EQ(GStack()->ResolveHost(name), "127.0.0.1");
  for (const char* dotted : {"192.168.0.1", "010.0.0.1", "0.0.0.0"}) EXPECT_EQ(GStack()->ResolveHost(dotted), dotted);
  const auto e = Raised<EIdSocketError>([] { GStack()->ResolveHost("no-such-host.invalid"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->LastError(), 11001);
  EXPECT_EQ(GStack()->LastError(), 11001);
}

TEST(SocketErrorText, NumberLineBreakAndTheTableTextOrNothing) {
  const std::pair<int, std::string> cases[] = {
      {10054, "Connection reset by peer."}, {10004, "Interrupted system call."},
      // The two texts that break the pattern: a trailing blank, and no final period.
      {10035, "Operation would block. "}, {10066, "Directory not empty"},
      // Codes outside the table end in the bare line break.
      {0, ""}, {11001, ""}, {11004, ""}, {10091, ""}, {10093, ""}, {10003, ""}, {10067, ""}, {-1, ""}};
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(SocketErrorText(code), "Socket Error # " + std::to_string(code) + "\r\n" + text);
  }
}

TEST(DottedAddresses, FourDecimalPartsBelow256AndLeadingZerosAreDecimal) {
  for (const char* text : {"192.168.0.1", "010.0.0.1", "255.255.255.255", "0.0.0.0", "127.000.000.001"}) {
    EXPECT_TRUE(TIdStack::IsDottedAddress(text)) << text;
  }
  for (const char* text : {"192.168.0.256", "1.2.3", "1.2.3.4.5", "", "...", "1..2.3", "1.2.3.", "-1.2.3.4", "a.b.c.d",
                           "1.2.3.4x", "localhost", "256.1.1.1"}) {
    EXPECT_FALSE(TIdStack::IsDottedAddress(text)) << text;
  }
  uint8_t bytes[4];
  TIdStack::TextToAddress("127.000.010.009", bytes);
  EXPECT_EQ(TIdStack::AddressToText(bytes), "127.0.10.9");
  EXPECT_THROW(TIdStack::TextToAddress("1.2.x.4", bytes), EConvertError);
}

TEST(SocketHandle, ARefusedConnectionGivesError10061WithOrWithoutATimeLimit) {
  StackUser user;
  const int port = FreePort();
  TIdIOHandlerSocket handler(nullptr);
  handler.Open();
  auto connect = [&](int timeout) { handler.ConnectTo("127.0.0.1", port, "", 0, 0, 0, timeout); };
  const auto refused = Raised<EIdSocketError>([&] { connect(TimeoutDefault); });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->LastError(), 10061);
  // The socket stays allocated for the caller to close.
  EXPECT_TRUE(handler.Connected());
  handler.Close();
  EXPECT_FALSE(handler.Connected());
  // A connect with a time limit runs in a thread of its own, whose failure keeps its message.
  handler.Open();
  EXPECT_EQ(MessageOf<EIdConnectException>([&] { connect(5000); }), "Socket Error # 10061\r\nConnection refused.");
}

TEST(SocketHandle, ConnectsToANameOrADottedAddressWithOrWithoutATimeLimitAndReportsTheSteps) {
  // Resolving is reported for names only, and the connect names the address as it was given; leading zeros in a
  // dotted address are decimal.
  const std::tuple<const char*, int, std::string> cases[] = {
      {"LocalHost", TimeoutDefault, "Resolving hostname LocalHost.|Connecting to 127.0.0.1.|"},
      {"0127.0.0.01", TimeoutDefault, "Connecting to 0127.0.0.01.|"},
      {"0127.0.0.01", 5000, "Connecting to 0127.0.0.01.|"}};
  for (const auto& [host, timeout, steps] : cases) {
    ScriptedPeer peer({ScriptedPeer::ReadUntil("hi")});
    StackUser user;
    TIdIOHandlerSocket handler(nullptr);
    std::string reported;
    handler.OnStatus = [&](TObject*, TIdStatus, const std::string& text) { reported += text + "|"; };
    handler.Open();
    handler.ConnectTo(host, peer.Port(), "", 0, 0, 0, timeout);
    EXPECT_EQ(reported, steps);
    EXPECT_EQ(handler.Binding()->PeerIP(), "127.0.0.1");
    EXPECT_EQ(handler.Binding()->PeerPort(), peer.Port());
    EXPECT_EQ(handler.Binding()->IP(), "127.0.0.1");
    EXPECT_NE(handler.Binding()->Port(), 0);
    EXPECT_EQ(handler.Send("hi", 2), 2);
    EXPECT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Received(), "hi");
  }
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
  EXPECT_THROW(binding.WaitReadable(10), EIdConnClosedGracefully);
  EXPECT_THROW(handler.Receive(nullptr, 0), EIdClosedSocket);
  EXPECT_THROW(handler.Send("x", 1), EIdClosedSocket);
  binding.Reset(false);
  EXPECT_EQ(binding.Handle(), kIdInvalidSocket);
  EXPECT_EQ(binding.PeerIP(), "");
  EXPECT_EQ(binding.IP(), "127.0.0.1");  // the local side stays unless asked
}

TEST(Select, SetsHoldAtMost64SocketsAndAFailureIsReturnedNotRaised) {
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
  EXPECT_THROW(GStack()->Select(nullptr, nullptr, &tooMany, 0), EIdStackSetSizeExceeded);
  list.pop_back();
  TIdSocketList writable = list;  // a select keeps only the ready sockets in its lists
  EXPECT_NO_THROW(GStack()->Select(&list, nullptr, nullptr, 0));
  EXPECT_NO_THROW(GStack()->Select(nullptr, &writable, nullptr, 0));
  // A select that fails is returned, not raised.
  TIdSocketHandle closed;
  closed.Allocate();
  TIdSocketList gone{closed.Handle()};
  closed.Close();  // the number no longer names a socket
  int result = 0;
  EXPECT_NO_THROW(result = GStack()->Select(&gone, nullptr, nullptr, 0));
  EXPECT_EQ(result, Id_SOCKET_ERROR);
}

// A handle bound in the range [min, max] (0 for none), or the message of the bind's failure.
std::string BoundIn(int min, int max, int port = 0) {
  TIdSocketHandle handle;
  handle.Allocate();
  handle.SetPort(port);
  handle.SetClientPortMin(min);
  handle.SetClientPortMax(max);
  try {
    handle.Bind();
    return std::to_string(handle.Port());
  } catch (const Exception& e) {
    return e.Message();
  }
}

TEST(BindRange, TheHighestFreePortOfTheRangeIsBound) {
  StackUser user;
  const int high = FreePort();
  ASSERT_GT(high, 1030);
  EXPECT_EQ(BoundIn(high - 5, high), std::to_string(high));
  const int next = FreePortWithFreeNeighbourBelow();
  ASSERT_NE(next, 0) << "no two neighbouring free ports found";
  auto holder = Hold(next);
  EXPECT_EQ(BoundIn(next - 1, next), std::to_string(next - 1)) << "a taken port is skipped for the next lower one";
}

TEST(BindRange, NoFreePortAReversedRangeAndAGivenPortInUse) {
  StackUser user;
  const int port = FreePort();
  auto holder = Hold(port);
  const std::string p = std::to_string(port);
  EXPECT_EQ(BoundIn(port, port), "Can not bind in port range (" + p + " - " + p + ")");
  EXPECT_EQ(BoundIn(5, 3), "Invalid Port Range (5 - 3)");
  EXPECT_EQ(BoundIn(0, 0, port), "Could not bind socket. Address and port are already in use.");
  // A range is used only when no port is given.
  EXPECT_EQ(BoundIn(1, 2, port), "Could not bind socket. Address and port are already in use.");
}

#if defined(_WIN32)
TEST(Winsock, AMissingLibraryCannotBeLoadedAndLeavesNoLiveCountBehind) {
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
}
#endif

}  // namespace
