#include "app/FeedProcessor.h"

#include <memory>
#include <string_view>

#include "BraskoConfig.h"
#include "rtl/Classes.h"
#include "rtl/SysUtils.h"
#include "xml/kelXMLTree.h"

namespace {

constexpr std::string_view kItemElement = "nieuwsposting";
constexpr std::string_view kIdElement = "id";
constexpr std::string_view kTitleElement = "titel";
constexpr std::string_view kTimeElement = "tijd";

// Item 10, the last with a line, carries the author link instead of the indent.
constexpr int kAuthorLinkItem = 10;
constexpr int kIndentCount = 22;
constexpr int kAuthorIndentCount = 7;
constexpr std::string_view kNbsp = "&nbsp;";

constexpr std::string_view kPageHead[] = {
    "<html>",
    "<head>",
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
    "<title>Brasko tracker</title>",
    "</head>",
    // One line of the page, split only to fit here.
    "<body background=\"background.jpg\" bgcolor=\"#FFFFFF\" text=\"#FFFFFF\" link=\"#44FFFF\" vlink=\"#0044aa\" "
    "alink=\"#0044aa\" bgproperties=\"fixed\">",  // NOLINT(bugprone-suspicious-missing-comma)
    "<Font size=2><br>",
};
constexpr std::string_view kPageTail = "</body></html>";

std::string Repeated(std::string_view piece, int count) {
  std::string result;
  result.reserve(piece.size() * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) result.append(piece);
  return result;
}

// The value of an item's first direct child of that name; an item without one reads as the empty text.
std::string FieldText(const TkelXMLNode& item, std::string_view name) {
  const TkelXMLNode* field = item.ChildByName(name);
  return field != nullptr ? std::string(field->Value()) : std::string();
}

// Titles and times come from the network and land in a page that the browser opens from the local disk, with the
// rights that gives; a "<" there could open a script. Only the angle brackets are neutralised: "&" stays, so the
// feed's own entity references keep rendering as the site meant them.
std::string WithoutMarkup(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      result.append("&lt;");
    } else if (c == '>') {
      result.append("&gt;");
    } else {
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace

void TFeedProcessor::AddPageHead(TStringList& page) {
  for (std::string_view line : kPageHead) page.Add(std::string(line));
}

void TFeedProcessor::AddPageTail(TStringList& page) { page.Add(std::string(kPageTail)); }

std::string TFeedProcessor::ItemLine(int index, std::string_view idText, std::string_view titleText,
                                     std::string_view timeText) {
  std::string line = "<br>";
  if (index == kAuthorLinkItem) {
    line.append("<A HREF=").append(kAuthorUrl).append(" target=\"Dunmoor\">Dunmoor!!</a>");
    line.append(Repeated(kNbsp, kAuthorIndentCount));
  } else {
    line.append(Repeated(kNbsp, kIndentCount));
  }
  line.append(WithoutMarkup(timeText));
  // The id goes in as it was written, leading zeros and all; it has converted by then, so it holds no markup.
  line.append(" <A HREF=\"").append(kSiteScheme).append("://").append(kSiteHost).append("/nieuws/").append(idText);
  line.append("\" Target=\"Brasko").append(idText).append("\">");
  line.append(WithoutMarkup(titleText));
  line.append("</A>");
  return line;
}

TFeedProcessor::TFeedProcessor(std::string pageFileName, TNotificationTarget* notificationWindow)
    : pageFileName_(std::move(pageFileName)), notificationWindow_(notificationWindow) {}

void TFeedProcessor::ProcessFeed(std::string text) {
  int32_t highestId = 0;

  // The working objects live in this frame, so a failure anywhere releases them on its way out.
  TList<TkelXMLNode> items;
  TStringList page;
  TMemoryStream stream;
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  stream.SetPosition(0);

  AddPageHead(page);

  {
    auto tree = std::make_unique<TkelXMLTree>("test", "test", nullptr);
    tree->LoadFromStream(stream);
    tree->FindNodes(kItemElement, items);

    for (int i = 0; i < items.Count(); ++i) {
      const TkelXMLNode& item = *items[i];
      // Every item's id counts, also past the last one shown, and one that does not convert fails the whole call.
      const std::string idText = FieldText(item, kIdElement);
      const int32_t id = StrToInt(idText);
      if (id > highestId) highestId = id;
      const std::string titleText = FieldText(item, kTitleElement);
      const std::string timeText = FieldText(item, kTimeElement);
      if (i < kPageItemCount) page.Add(ItemLine(i, idText, titleText, timeText));
    }
    // The list refers into the tree: empty it before the tree goes.
    items.Clear();
  }

  AddPageTail(page);

  if (lastShownId_ < highestId) {
    // Raised before the save: should the save fail, these items are not announced again on the next poll.
    lastShownId_ = highestId;
    page.SaveToFile(pageFileName_);
    if (notificationWindow_ != nullptr) {
      notificationWindow_->Hide();
      // Hiding a visible window runs its slide-out, which dispatches messages; nothing cached here depends on them.
      notificationWindow_->Show();
    }
  }
}
