#include "app/FeedProcessor.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "BraskoConfig.h"
#include "rtl/Classes.h"
#include "rtl/SysUtils.h"
#include "xml/kelXMLTree.h"

namespace {

constexpr std::string_view kItemElement = "nieuwsposting";
constexpr std::string_view kIdElement = "id";
constexpr std::string_view kTitleElement = "titel";
constexpr std::string_view kTimeElement = "tijd";

// Only the first eleven items get a line on the page.
constexpr size_t kPageItemCount = 11;

// Item 10, the last with a line, carries the author link instead of the indent.
constexpr size_t kAuthorLinkItem = 10;
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
std::string_view FieldText(const TkelXMLNode& item, std::string_view name) {
  const TkelXMLNode* field = item.ChildByName(name);
  return field != nullptr ? field->Value() : std::string_view();
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

// The line of item `index` (from 0).
std::string ItemLine(size_t index, const TPageItem& item) {
  std::string line = "<br>";
  if (index == kAuthorLinkItem) {
    line.append("<A HREF=").append(kAuthorUrl).append(" target=\"Dunmoor\">Dunmoor!!</a>");
    line.append(Repeated(kNbsp, kAuthorIndentCount));
  } else {
    line.append(Repeated(kNbsp, kIndentCount));
  }
  line.append(WithoutMarkup(item.time));
  // The id goes in as it was written, leading zeros and all; it has converted by then, so it holds no markup.
  line.append(" <A HREF=\"").append(kSiteScheme).append("://").append(kSiteHost).append("/nieuws/").append(item.id);
  line.append("\" Target=\"Brasko").append(item.id).append("\">");
  line.append(WithoutMarkup(item.title));
  line.append("</A>");
  return line;
}

}  // namespace

TStringList PageLines(const std::vector<TPageItem>& items) {
  TStringList page;
  for (std::string_view line : kPageHead) page.Add(std::string(line));
  for (size_t i = 0; i < std::min(items.size(), kPageItemCount); ++i) page.Add(ItemLine(i, items[i]));
  page.Add(std::string(kPageTail));
  return page;
}

TFeedProcessor::TFeedProcessor(std::string pageFileName, TNotificationTarget* notificationWindow)
    : pageFileName_(std::move(pageFileName)), notificationWindow_(notificationWindow) {}

void TFeedProcessor::ProcessFeed(std::string text) {
  int32_t highestId = 0;
  TStringList page;
  {
    // The working objects live in this frame, so a failure anywhere releases them on its way out.
    auto tree = std::make_unique<TkelXMLTree>("test", "test", nullptr);
    tree->LoadFromText(text);
    TList<TkelXMLNode> found;
    tree->FindNodes(kItemElement, found);
    // The items' texts are views of the tree: the page is built while it is here.
    std::vector<TPageItem> items;
    items.reserve(static_cast<size_t>(found.Count()));
    for (const TkelXMLNode* node : found) {
      const TPageItem item{FieldText(*node, kIdElement), FieldText(*node, kTitleElement),
                           FieldText(*node, kTimeElement)};
      // Every item's id counts, also past the last one shown, and one that does not convert fails the whole call.
      const int32_t id = StrToInt(std::string(item.id));
      if (id > highestId) highestId = id;
      items.push_back(item);
    }
    page = PageLines(items);
  }

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
