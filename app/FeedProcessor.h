// Turns one fetched feed into the page file and decides whether the user is told about it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Classes.h"

// One item of the feed as the page shows it: its id, title and time texts as read.
struct TPageItem {
  std::string_view id;
  std::string_view title;
  std::string_view time;
};

// The page's lines: the head, the line of each of the first eleven items and the tail.
TStringList PageLines(const std::vector<TPageItem>& items);

// The notification window as the feed processor sees it.
class TNotificationTarget {
 public:
  virtual ~TNotificationTarget() = default;
  virtual void Hide() = 0;
  virtual void Show() = 0;
};

class TFeedProcessor {
 public:
  // pageFileName: the full path of the page file. notificationWindow is not owned and must outlive the processor;
  // nullptr means there is no window to hide and show.
  TFeedProcessor(std::string pageFileName, TNotificationTarget* notificationWindow);

  // Parses the feed, builds the page from its first eleven items and, when some item's id is above every id shown
  // so far, raises the last shown id, saves the page and hides and re-shows the window. Every failure leaves as an
  // exception: an id that does not convert ("'%s' is not a valid integer value", also for an item without an id),
  // "Cannot create file %s", "Stream write error", or whatever the window raises.
  void ProcessFeed(std::string text);

  int32_t LastShownId() const { return lastShownId_; }
  const std::string& PageFileName() const { return pageFileName_; }

 private:
  std::string pageFileName_;
  TNotificationTarget* notificationWindow_;
  int32_t lastShownId_ = 0;
};
