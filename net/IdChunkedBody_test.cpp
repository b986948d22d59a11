#include "net/IdChunkedBody.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// A chunked body's bytes as a text gives them, the way the connection reads them.
class TTextChunks final : public TIdChunkSource {
 public:
  explicit TTextChunks(std::string text) : text_(std::move(text)) {}
  std::string ReadLine() override {
    const size_t end = text_.find('\n', at_);
    if (end == std::string::npos) throw std::runtime_error("read past the end");
    std::string line = text_.substr(at_, end - at_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at_ = end + 1;
    return line;
  }
  void ReadToStream(TStream& stream, int64_t count) override {
    if (static_cast<int64_t>(text_.size() - at_) < count) throw std::runtime_error("read past the end");
    stream.WriteBuffer(text_.data() + at_, count);
    at_ += static_cast<size_t>(count);
  }
  std::string Left() const { return text_.substr(at_); }

 private:
  std::string text_;
  size_t at_ = 0;
};

TEST(ChunkedBody, EachRowIsTheBytesTheBodyAndWhatIsLeftUnread) {
  struct Case {
    std::string bytes, body, left;
  };
  const Case cases[] = {
      {"5\r\nhello\r\n0\r\n\r\nnext", "hello", "next"},
      {"5 ;name=value\r\nhello\r\n0\r\n\r\n", "hello", ""},   // a space before an extension
      {"000A\r\n0123456789\r\n0\r\n\r\n", "0123456789", ""},  // leading zeros, a capital digit
      {"3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", "abcde", ""},
      {"3\nabc\n0\n\n", "abc", ""},                  // bare line feeds
      {"2\r\nab  anything\r\n0\r\n\r\n", "ab", ""},  // the rest of a chunk's last line is dropped
      // A size that cannot be read ends the body at once; the next line is taken for the body's last.
      {"5;name=value\r\nhello\r\n0\r\n\r\n", "", "0\r\n\r\n"},
      {"+5\r\nhello\r\n", "", ""},
      {"\r\n\r\n", "", ""},
      {"0000000001\r\nx\r\n0\r\n\r\n", "x", ""},  // zeros in front do not count against the eight digits
      {"100000000\r\nx\r\n", "", ""},             // nine digits: unreadable
      {"80000000\r\nx\r\n", "", ""},              // negative as 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    TTextChunks chunks(c.bytes);
    TMemoryStream body;
    EXPECT_TRUE(ReadChunkedBody(chunks, body, INT64_MAX));
    EXPECT_EQ(body.DataString(), c.body);
    EXPECT_EQ(chunks.Left(), c.left);
  }
}

TEST(ChunkedBody, AChunkThatWouldPassTheBoundIsNotRead) {
  const std::string bytes = "3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n";
  for (int64_t bound : {5, 6}) {
    TTextChunks chunks(bytes);
    TMemoryStream body;
    EXPECT_EQ(ReadChunkedBody(chunks, body, bound), bound == 6);
    EXPECT_EQ(body.DataString(), bound == 6 ? "abcdef" : "abc");
    EXPECT_EQ(chunks.Left(), bound == 6 ? "" : "def\r\n0\r\n\r\n");
  }
}

}  // namespace
