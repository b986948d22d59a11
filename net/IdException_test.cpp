#include <gtest/gtest.h>

#include "net/IdException.h"
#include "net/IdStack.h"
#include "testing/TestSupport.h"

namespace {

TEST(SocketErrorText, TableCodesGiveNumberLineBreakAndText) {
  EXPECT_EQ(SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(SocketErrorText(10054), "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
  // The two texts that break the pattern: a trailing blank, and no final period.
  EXPECT_EQ(SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(SocketErrorText, CodesOutsideTheTableEndInTheBareLineBreak) {
  for (int code : {0, 11001, 11004, 10091, 10093, 10003, 10067, -1}) {
    EXPECT_EQ(SocketErrorText(code), "Socket Error # " + std::to_string(code) + "\r\n") << code;
  }
}

TEST(RaiseSocketError, CarriesTheCodeAndTheMessage) {
  StackUser user;
  const auto e = Raised<EIdSocketError>([] { GStack()->RaiseSocketError(10061); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->LastError(), 10061);
  EXPECT_EQ(e->Message(), "Socket Error # 10061\r\nConnection refused.");
}

TEST(ExceptionFamily, ClosedGracefullyIsAnOrdinaryFailureOfTheFamily) {
  // Nothing treats it as silent: it is caught as a network exception and as the runtime's general one.
  EXPECT_EQ(MessageOf<EIdException>([] { throw EIdConnClosedGracefully("Connection Closed Gracefully."); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<Exception>([] { throw EIdConnClosedGracefully("Connection Closed Gracefully."); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(MessageOf<EAbort>([] { throw EIdConnClosedGracefully("x"); }), "another exception: x");
}

}  // namespace
