#include "app/FeedProcessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BraskoConfig.h"
#include "rtl/SysUtils.h"

namespace {

namespace fs = std::filesystem;

// Records what the processor asks of the notification window; optionally fails a call as a busy window would.
class RecordingWindow : public TNotificationTarget {
 public:
  void Hide() override {
    events.push_back("Hide");
    if (failHide) throw Exception("Cannot change Visible in OnShow or OnHide");
  }
  void Show() override {
    events.push_back("Show");
    if (failShow) throw Exception("Cannot change Visible in OnShow or OnHide");
  }
  std::vector<std::string> events;
  bool failHide = false;
  bool failShow = false;
};

struct Item {
  std::string id;
  std::string title;
  std::string time;
};

// A feed shaped like the site's: a declaration, an enclosing element, CDATA titles and indented lines.
std::string Feed(const std::vector<Item>& items) {
  std::string feed = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<flashfeed>\r\n";
  for (const Item& item : items) {
    feed += "  <nieuwsposting>\r\n    <id>" + item.id + "</id>\r\n    <titel><![CDATA[" + item.title +
            "]]></titel>\r\n    <tijd>" + item.time + "</tijd>\r\n  </nieuwsposting>\r\n";
  }
  return feed + "</flashfeed>\r\n";
}

std::vector<Item> NumberedItems(int count) {
  std::vector<Item> items;
  for (int i = 1; i <= count; ++i)
    items.push_back({std::to_string(i), "Title " + std::to_string(i), "12:" + std::to_string(10 + i)});
  return items;
}

// Page texts are written out with HOST and AUTHOR standing for the configured addresses.
std::string Configured(std::string text) {
  for (auto [placeholder, value] :
       {std::pair<std::string, std::string_view>{"HOST", kSiteHost}, {"AUTHOR", kAuthorUrl}}) {
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size())) {
      text.replace(at, placeholder.size(), value);
    }
  }
  return text;
}

const std::string kHead =
    "<html>\r\n"
    "<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
    "<title>Brasko tracker</title>\r\n"
    "</head>\r\n"
    "<body background=\"background.jpg\" bgcolor=\"#FFFFFF\" text=\"#FFFFFF\" link=\"#44FFFF\" vlink=\"#0044aa\" "
    "alink=\"#0044aa\" bgproperties=\"fixed\">\r\n"
    "<Font size=2><br>\r\n";
const std::string kTail = "</body></html>\r\n";
const std::string kIndent =
    "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
    "&nbsp;&nbsp;&nbsp;";
const std::string kAuthorLeadIn =
    "<A HREF=AUTHOR target=\"Dunmoor\">Dunmoor!!</a>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";

// The line of one numbered item, from literal pieces of the page format.
std::string NumberedLine(int n, const std::string& leadIn) {
  const std::string id = std::to_string(n);
  return "<br>" + leadIn + "12:" + std::to_string(10 + n) + " <A HREF=\"http://HOST/nieuws/" + id +
         "\" Target=\"Brasko" + id + "\">Title " + id + "</A>\r\n";
}

class FeedProcessorTest : public testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("brasko-feed-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
    page_ = (dir_ / "htmlAll.html").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string PageText() const {
    std::ifstream in(page_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool PageExists() const { return fs::exists(page_); }

  fs::path dir_;
  std::string page_;
  RecordingWindow window_;
};

// ---- The page, byte for byte ----

TEST_F(FeedProcessorTest, SavesThePageAndReshowsTheWindowForANewId) {
  TFeedProcessor processor(page_, &window_);
  EXPECT_EQ(processor.LastShownId(), 0);
  processor.ProcessFeed(Feed({{"1041", "Eerste bericht", "09:15"}, {"1040", "Tweede", "08:50"}}));

  EXPECT_EQ(PageText(),
            Configured(kHead +
                       "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
                       "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;09:15 <A HREF=\"http://HOST/nieuws/1041\" "
                       "Target=\"Brasko1041\">Eerste bericht</A>\r\n"
                       "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
                       "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;08:50 <A HREF=\"http://HOST/nieuws/1040\" "
                       "Target=\"Brasko1040\">Tweede</A>\r\n" +
                       kTail));
  EXPECT_EQ(processor.LastShownId(), 1041);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide", "Show"}));
}

TEST_F(FeedProcessorTest, TenItemsAllGetTheIndentAndNoAuthorLink) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(Feed(NumberedItems(10)));
  std::string expected = kHead;
  for (int n = 1; n <= 10; ++n) expected += NumberedLine(n, kIndent);
  EXPECT_EQ(PageText(), Configured(expected + kTail));
  EXPECT_EQ(kIndent.size(), 132u);
}

TEST_F(FeedProcessorTest, EleventhItemCarriesTheAuthorLink) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(Feed(NumberedItems(11)));
  std::string expected = kHead;
  for (int n = 1; n <= 10; ++n) expected += NumberedLine(n, kIndent);
  expected +=
      "<br><A HREF=AUTHOR target=\"Dunmoor\">Dunmoor!!</a>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;12:21 "
      "<A HREF=\"http://HOST/nieuws/11\" Target=\"Brasko11\">Title 11</A>\r\n";
  EXPECT_EQ(PageText(), Configured(expected + kTail));
}

TEST_F(FeedProcessorTest, ItemsPastTheEleventhAddNoLineButTheirIdsCount) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(Feed(NumberedItems(11)));
  window_.events.clear();

  // Same eleven items, then three more; only the last of them is new.
  std::vector<Item> items = NumberedItems(11);
  items.push_back({"3", "Old", "00:00"});
  items.push_back({"12", "Brand new", "13:00"});
  items.push_back({"7", "Old too", "00:00"});
  processor.ProcessFeed(Feed(items));

  std::string expected = kHead;
  for (int n = 1; n <= 10; ++n) expected += NumberedLine(n, kIndent);
  expected += NumberedLine(11, kAuthorLeadIn);
  EXPECT_EQ(PageText(), Configured(expected + kTail));
  EXPECT_EQ(processor.LastShownId(), 12);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide", "Show"}));
}

TEST_F(FeedProcessorTest, NestedItemsAreItemsInPreOrder) {
  TFeedProcessor processor(page_, &window_);
  // The top element is an item too, and an item inside an item comes right after it.
  processor.ProcessFeed(
      "<nieuwsposting><id>1</id><tijd>t1</tijd><titel>A</titel>"
      "<nieuwsposting><id>2</id><titel>B</titel><tijd>t2</tijd></nieuwsposting>"
      "<x><nieuwsposting><id>3</id><titel>C</titel><tijd>t3</tijd></nieuwsposting></x></nieuwsposting>");
  EXPECT_EQ(PageText(),
            Configured(kHead + "<br>" + kIndent +
                       "t1 <A HREF=\"http://HOST/nieuws/1\" Target=\"Brasko1\">A</A>\r\n"
                       "<br>" +
                       kIndent +
                       "t2 <A HREF=\"http://HOST/nieuws/2\" Target=\"Brasko2\">B</A>\r\n"
                       "<br>" +
                       kIndent + "t3 <A HREF=\"http://HOST/nieuws/3\" Target=\"Brasko3\">C</A>\r\n" + kTail));
}

TEST_F(FeedProcessorTest, FieldsAreTheFirstDirectChildrenAndMissingTextsAreEmpty) {
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(
      "<f><nieuwsposting kind=\"x\"><id>5</id><titel>First</titel><titel>Second</titel>"
      "<sub><tijd>nested</tijd></sub><tijd/></nieuwsposting>"
      "<nieuwsposting><id>4</id></nieuwsposting></f>");
  EXPECT_EQ(PageText(), Configured(kHead + "<br>" + kIndent +
                                   " <A HREF=\"http://HOST/nieuws/5\" Target=\"Brasko5\">First</A>\r\n"
                                   "<br>" +
                                   kIndent + " <A HREF=\"http://HOST/nieuws/4\" Target=\"Brasko4\"></A>\r\n" + kTail));
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
  const std::string page = PageText();
  EXPECT_NE(page.find(Configured("t <A HREF=\"http://HOST/nieuws/00042\" Target=\"Brasko00042\">Zeros</A>\r\n")),
            std::string::npos);
  EXPECT_NE(page.find(Configured("u <A HREF=\"http://HOST/nieuws/$1F\" Target=\"Brasko$1F\">Hex</A>\r\n")),
            std::string::npos);

  // $FFFFFFFF is -1 and counts for nothing; the largest signed value is accepted.
  window_.events.clear();
  processor.ProcessFeed(Feed({{"$FFFFFFFF", "a", "b"}, {"2147483647", "Max", "c"}}));
  EXPECT_EQ(processor.LastShownId(), 2147483647);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide", "Show"}));
}

TEST_F(FeedProcessorTest, NothingIsSavedOrShownUnlessAnIdExceedsTheLastShown) {
  TFeedProcessor processor(page_, &window_);
  // No items at all, then only ids at or below zero: the highest stays 0.
  processor.ProcessFeed("<?xml version=\"1.0\"?><flashfeed></flashfeed>");
  processor.ProcessFeed(Feed({{"-5", "Negative", "x"}, {"0", "Zero", "y"}}));
  EXPECT_FALSE(PageExists());
  EXPECT_TRUE(window_.events.empty());
  EXPECT_EQ(processor.LastShownId(), 0);

  processor.ProcessFeed(Feed({{"20", "Twenty", "x"}}));
  ASSERT_TRUE(PageExists());
  const std::string saved = PageText();
  window_.events.clear();

  // Known ids with changed titles leave the saved page and the window alone.
  processor.ProcessFeed(Feed({{"20", "Twenty, updated", "x"}, {"19", "Older", "z"}}));
  EXPECT_EQ(PageText(), saved);
  EXPECT_TRUE(window_.events.empty());
  EXPECT_EQ(processor.LastShownId(), 20);
}

TEST_F(FeedProcessorTest, AnIdThatDoesNotConvertFailsTheWholeCall) {
  struct Case {
    std::string feed;
    std::string message;
  };
  std::vector<Item> twelve = NumberedItems(12);
  twelve.back().id = "-$C";  // no sign before a hexadecimal prefix, also past the eleventh item
  const Case cases[] = {
      {Feed({{"99", "New", "t"}, {"12a", "Bad", "t"}}), "'12a' is not a valid integer value"},
      {Feed({{"99", "New", "t"}, {"", "Empty", "t"}}), "'' is not a valid integer value"},
      {Feed(twelve), "'-$C' is not a valid integer value"},
      {Feed({{"2147483648", "Too big", "t"}}), "'2147483648' is not a valid integer value"},
      {"<f><nieuwsposting><titel>No id</titel></nieuwsposting></f>", "'' is not a valid integer value"},
      {"<f><nieuwsposting><id/><titel>Id written empty-element</titel></nieuwsposting></f>",
       "'' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    TFeedProcessor processor(page_, &window_);
    try {
      processor.ProcessFeed(c.feed);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(processor.LastShownId(), 0);
  }
  EXPECT_FALSE(PageExists());
  EXPECT_TRUE(window_.events.empty());
}

// ---- Failures on the way out ----

TEST_F(FeedProcessorTest, PageThatCannotBeCreatedFailsAfterTheIdIsRaised) {
  const std::string missing = (dir_ / "no-such-folder" / "htmlAll.html").string();
  TFeedProcessor processor(missing, &window_);
  try {
    processor.ProcessFeed(Feed({{"7", "Seven", "t"}}));
    ADD_FAILURE() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + missing);
  }
  EXPECT_EQ(processor.LastShownId(), 7);
  EXPECT_TRUE(window_.events.empty());

  // The same items are not announced again on the next poll.
  processor.ProcessFeed(Feed({{"7", "Seven", "t"}}));
  EXPECT_TRUE(window_.events.empty());
}

TEST_F(FeedProcessorTest, FailedWriteReportsAStreamWriteError) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a device that refuses writes";
#else
  TFeedProcessor processor("/dev/full", &window_);
  try {
    processor.ProcessFeed(Feed({{"3", "Three", "t"}}));
    ADD_FAILURE() << "no error";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  EXPECT_EQ(processor.LastShownId(), 3);
  EXPECT_TRUE(window_.events.empty());
#endif
}

TEST_F(FeedProcessorTest, SaveReplacesALongerOldPageWhole) {
  {
    std::ofstream old(page_, std::ios::binary);
    old << std::string(100000, 'x');
  }
  TFeedProcessor processor(page_, &window_);
  processor.ProcessFeed(Feed(NumberedItems(1)));
  EXPECT_EQ(PageText(), Configured(kHead + NumberedLine(1, kIndent) + kTail));
}

TEST_F(FeedProcessorTest, WindowFailureLeavesAfterTheSave) {
  window_.failShow = true;
  TFeedProcessor processor(page_, &window_);
  EXPECT_THROW(processor.ProcessFeed(Feed({{"8", "Eight", "t"}})), Exception);
  EXPECT_TRUE(PageExists());
  EXPECT_EQ(processor.LastShownId(), 8);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide", "Show"}));

  // A failing hide leaves before the show.
  window_ = RecordingWindow();
  window_.failHide = true;
  EXPECT_THROW(processor.ProcessFeed(Feed({{"9", "Nine", "t"}})), Exception);
  EXPECT_EQ(window_.events, (std::vector<std::string>{"Hide"}));
}

TEST_F(FeedProcessorTest, WithoutAWindowThePageIsStillSaved) {
  TFeedProcessor processor(page_, nullptr);
  processor.ProcessFeed(Feed({{"2", "Two", "t"}}));
  EXPECT_TRUE(PageExists());
  EXPECT_EQ(processor.LastShownId(), 2);
}

}  // namespace
