#include "app/FeedProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BraskoConfig.h"
#include "rtl/SysUtils.h"
#include "testing/TestSupport.h"

namespace {

// Records what the processor asks of the notification window; can fail a call as a window in its handlers does.
class RecordingWindow : public TNotificationTarget {
 public:
  void Hide() override { Record("Hide", failHide); }
  void Show() override { Record("Show", failShow); }
  std::vector<std::string> events;
  bool failHide = false;
  bool failShow = false;

 private:
  void Record(const char* call, bool fail) {
    events.push_back(call);
    if (fail) throw Exception("Cannot change Visible in OnShow or OnHide");
  }
};

std::vector<TFeedItem> NumberedItems(int count) {
  std::vector<TFeedItem> items;
  for (int n = 1; n <= count; ++n) items.push_back({std::to_string(n), "T" + std::to_string(n), std::to_string(n)});
  return items;
}

// Expected pages are written with HOST and AUTHOR standing for the configured addresses.
std::string Configured(std::string text) {
  for (auto [key, value] : {std::pair<std::string, std::string_view>{"HOST", kSiteHost}, {"AUTHOR", kAuthorUrl}}) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

const std::string kHead =
    "<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
    "<title>Brasko tracker</title>\r\n</head>\r\n"
    "<body background=\"background.jpg\" bgcolor=\"#FFFFFF\" text=\"#FFFFFF\" link=\"#44FFFF\" vlink=\"#0044aa\" "
    "alink=\"#0044aa\" bgproperties=\"fixed\">\r\n<Font size=2><br>\r\n";
const std::string kTail = "</body></html>\r\n";
const std::string kIndent =  // 22 times
    "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
    "&nbsp;&nbsp;&nbsp;";

// The line of item n of NumberedItems.
std::string NumberedLine(int n, const std::string& leadIn) {
  const std::string id = std::to_string(n);
  return "<br>" + leadIn + id + " <A HREF=\"http://HOST/nieuws/" + id + "\" Target=\"Brasko" + id + "\">T" + id +
         "</A>\r\n";
}

class FeedProcessorTest : public testing::Test {
 protected:
  std::string PageText() const { return ReadFile(page_); }

  TTempFolder folder_;
  std::string page_ = folder_.File("htmlAll.html");
  RecordingWindow window_;
};

// ---- The page, byte for byte ----

TEST_F(FeedProcessorTest, ElevenLinesAtMostAndTheEleventhCarriesTheAuthorLink) {
  const std::string authorLeadIn =
      "<A HREF=AUTHOR target=\"Dunmoor\">Dunmoor!!</a>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";
  for (int count : {10, 11, 12, 14}) {
    TFeedProcessor processor(page_, &window_);
    processor.ProcessFeed(Feed(NumberedItems(count)));
    std::string expected = kHead;
    for (int n = 1; n <= std::min(count, 11); ++n) expected += NumberedLine(n, n == 11 ? authorLeadIn : kIndent);
    EXPECT_EQ(PageText(), Configured(expected + kTail)) << count;
    EXPECT_EQ(processor.LastShownId(), count);  // items past the eleventh add no line, but their ids count
  }
}

TEST_F(FeedProcessorTest, FieldsAreFirstDirectChildrenAndMissingOnesAreEmpty) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(
      "<f><nieuwsposting kind=\"x\"><id>5</id><titel>First</titel><titel>Second</titel>"
      "<sub><tijd>nested</tijd></sub><tijd/></nieuwsposting><nieuwsposting><id>4</id></nieuwsposting></f>");
  EXPECT_EQ(PageText(), Configured(kHead + "<br>" + kIndent +
                                   " <A HREF=\"http://HOST/nieuws/5\" Target=\"Brasko5\">First</A>\r\n<br>" + kIndent +
                                   " <A HREF=\"http://HOST/nieuws/4\" Target=\"Brasko4\"></A>\r\n" + kTail));
}

TEST_F(FeedProcessorTest, AngleBracketsInTitleAndTimeAreNeutralisedButEntitiesStay) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(
      "<f><nieuwsposting><id>9</id><titel><![CDATA[<script>alert(1)</script> Tom &amp; Jerry & co <b>]]></titel>"
      "<tijd><![CDATA[<img src=x onerror=y>]]></tijd></nieuwsposting></f>");
  EXPECT_EQ(PageText(), Configured(kHead + "<br>" + kIndent +
                                   "&lt;img src=x onerror=y&gt; <A HREF=\"http://HOST/nieuws/9\" Target=\"Brasko9\">"
                                   "&lt;script&gt;alert(1)&lt;/script&gt; Tom &amp; Jerry & co &lt;b&gt;</A>\r\n" +
                                   kTail));
}

// ---- Ids ----

TEST_F(FeedProcessorTest, IdTextIsWrittenAsReadAndComparedAsANumber) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(Feed({{"00042", "Zeros", "t"}, {"$1F", "Hex", "u"}}));
  EXPECT_EQ(processor.LastShownId(), 42);
  EXPECT_NE(PageText().find(Configured("t <A HREF=\"http://HOST/nieuws/00042\" Target=\"Brasko00042\">Zeros</A>")),
            std::string::npos);
  // $FFFFFFFF is -1 and counts for nothing; the largest signed value is accepted.
  processor.ProcessFeed(Feed({{"$FFFFFFFF", "a", "b"}, {"2147483647", "Max", "c"}}));
  EXPECT_EQ(processor.LastShownId(), 2147483647);
  EXPECT_EQ(window_.events.size(), 4u);
}

TEST_F(FeedProcessorTest, NothingIsSavedOrShownUnlessAnIdExceedsTheLastShown) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed("<?xml version=\"1.0\"?><flashfeed></flashfeed>");
  processor.ProcessFeed(Feed({{"-5", "Negative", "x"}, {"0", "Zero", "y"}}));
  EXPECT_FALSE(FileExists(page_));
  EXPECT_TRUE(window_.events.empty());

  processor.ProcessFeed(Feed({{"20", "Twenty", "x"}}));
  const std::string saved = PageText();
  // Known ids with changed titles leave the saved page and the window alone.
  processor.ProcessFeed(Feed({{"20", "Twenty, updated", "x"}, {"19", "Older", "z"}}));
  EXPECT_EQ(PageText(), saved);
  EXPECT_EQ(window_.events.size(), 2u);
  EXPECT_EQ(processor.LastShownId(), 20);
}

TEST_F(FeedProcessorTest, AnIdThatDoesNotConvertFailsTheWholeCall) {
  // Which texts convert is the conversion's own rule; here, that one bad id anywhere fails the call.
  std::vector<TFeedItem> fourteen = NumberedItems(14);
  fourteen.back().id = "-$C";  // past the eleventh item
  const std::string feeds[] = {
      Feed({{"99", "New", "t"}, {"12a", "Bad", "t"}}),
      Feed(fourteen),
      "<f><nieuwsposting><titel>No id</titel></nieuwsposting></f>",
      "<f><nieuwsposting><id/><titel>Empty-element id</titel></nieuwsposting></f>",
  };
  for (const std::string& feed : feeds) {
    TFeedProcessor processor(page_, &window_);
    EXPECT_THROW(processor.ProcessFeed(feed), EConvertError);
    EXPECT_EQ(processor.LastShownId(), 0);
  }
  EXPECT_FALSE(FileExists(page_));
  EXPECT_TRUE(window_.events.empty());
}

// ---- Failures on the way out ----

TEST_F(FeedProcessorTest, PageThatCannotBeCreatedFailsAfterTheIdIsRaised) {
  const std::string missing = folder_.File("no-such-folder/htmlAll.html");
  TFeedProcessor processor(missing, &window_);
  EXPECT_THROW(processor.ProcessFeed(Feed({{"7", "Seven", "t"}})), EFCreateError);
  EXPECT_EQ(processor.LastShownId(), 7);
  processor.ProcessFeed(Feed({{"7", "Seven", "t"}}));  // not announced again
  EXPECT_TRUE(window_.events.empty());
}

TEST_F(FeedProcessorTest, FailedWriteReportsAStreamWriteError) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a device that refuses writes";
#else
  TFeedProcessor processor("/dev/full", &window_);
  EXPECT_EQ(MessageOf<EWriteError>([&] { processor.ProcessFeed(Feed({{"3", "Three", "t"}})); }), "Stream write error");
  EXPECT_EQ(processor.LastShownId(), 3);
  EXPECT_TRUE(window_.events.empty());
#endif
}

TEST_F(FeedProcessorTest, WindowFailureLeavesAfterTheSave) {
  window_.failShow = true;
  TFeedProcessor processor(page_, &window_);
  EXPECT_THROW(processor.ProcessFeed(Feed({{"8", "Eight", "t"}})), Exception);
  EXPECT_TRUE(FileExists(page_));
  EXPECT_EQ(processor.LastShownId(), 8);
  window_.failHide = true;  // a failing hide leaves before the show
  EXPECT_THROW(processor.ProcessFeed(Feed({{"9", "Nine", "t"}})), Exception);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide", "Show", "Hide"}));
}

}  // namespace
