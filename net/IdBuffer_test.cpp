#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "net/IdBuffer.h"
#include "net/IdException.h"
#include "testing/TestSupport.h"

namespace {

TEST(TIdBuffer, RemoveFrontKeepsTheRestInOrderAndRemovingMoreThanIsHeldChangesNothing) {
  TIdBuffer buffer;
  buffer.Append("abcdef", 6);
  buffer.RemoveFront(2);
  EXPECT_EQ(MessageOf<EIdNotEnoughDataInBuffer>([&] { buffer.RemoveFront(5); }), "Not enough data in buffer.");
  EXPECT_EQ(buffer.DataString(), "cdef");
  buffer.RemoveFront(4);  // exactly the size: empty
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_THROW(buffer.RemoveFront(1), EIdNotEnoughDataInBuffer);
}

TEST(TIdBuffer, BehavesAsAStreamAfterFrontRemovals) {
  TIdBuffer buffer;
  buffer.WriteBuffer("0123456789", 10);
  buffer.SetPosition(6);
  buffer.RemoveFront(4);  // the position follows its byte
  EXPECT_EQ(buffer.Position(), 2);
  char c = 0;
  buffer.ReadBuffer(&c, 1);
  EXPECT_EQ(c, '6');
  buffer.SetPosition(buffer.Size());
  buffer.WriteBuffer("AB", 2);
  EXPECT_EQ(buffer.DataString(), "456789AB");
  buffer.SetSize(3);
  EXPECT_EQ(buffer.DataString(), "456");
  buffer.SetSize(5);  // grown bytes are zero
  EXPECT_EQ(buffer.TakeDataString(), std::string("456\0\0", 5));
}

TEST(TIdBuffer, LongMixOfAppendsAndRemovalsMatchesAPlainString) {
  // Appends of varying length and removals from the front, enough to make the storage grow and compact many
  // times; the content must always equal the same operations on a string.
  std::mt19937 random(12345);
  TIdBuffer buffer;
  std::string model;
  char next = 'a';
  for (int step = 0; step < 20000; ++step) {
    if (random() % 3 != 0) {
      std::string piece(random() % 700, '\0');
      for (char& ch : piece) ch = next = static_cast<char>(next == 'z' ? 'a' : next + 1);
      if (random() % 2 == 0) {
        buffer.Append(piece.data(), static_cast<int64_t>(piece.size()));
      } else {
        std::memcpy(buffer.ReserveTail(static_cast<int64_t>(piece.size())), piece.data(), piece.size());
        buffer.CommitTail(static_cast<int64_t>(piece.size()));
      }
      model += piece;
    } else {
      const int64_t n = model.empty() ? 0 : static_cast<int64_t>(random() % (model.size() + 1));
      buffer.RemoveFront(n);
      model.erase(0, static_cast<size_t>(n));
    }
    ASSERT_EQ(buffer.Size(), static_cast<int64_t>(model.size())) << step;
    if (step % 97 == 0) {
      ASSERT_EQ(buffer.DataString(), model) << step;
    }
  }
  EXPECT_EQ(buffer.DataString(), model);
}

}  // namespace
