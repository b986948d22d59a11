#include "gui/Menus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "gui/ExtCtrls.h"
#include "gui/Forms.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

// The item texts of an open popup menu window of this process, as the system gives them (a separator has none).
std::vector<std::string> OpenMenuItems(HWND menuWindow) {
  std::vector<std::string> items;
  auto menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, 0x01E1 /* MN_GETHMENU */, 0, 0));
  for (int i = 0; menu != nullptr && i < GetMenuItemCount(menu); ++i) {
    char text[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
    items.push_back(text);
  }
  return items;
}

struct TMenuForm {
  TMenuForm() : form(Application) {
    menu = new TPopupMenu(&form);
    for (const char* caption : {"First", "-", "Failing", "Last"}) {
      auto* item = new TMenuItem(&form);
      item->SetCaption(caption);
      menu->Items()->Add(item);
    }
  }
  TForm form;
  TPopupMenu* menu;
};

}  // namespace

TEST(PopupMenu, ShowsItsEntriesAndRunsTheChosenItemAfterTheMenuHasClosed) {
  TMenuForm f;
  bool menuOpenAtClick = true;
  TObject* clickSender = nullptr;
  f.menu->Items()->Items(3)->OnClick = [&](TObject* sender) {
    clickSender = sender;
    menuOpenAtClick = FindOpenMenu() != nullptr;
  };
  std::vector<std::string> items;
  TMenuUser user({VK_UP, VK_RETURN}, 0, [&] {  // Up from nothing wraps to the last entry
    items = OpenMenuItems(FindOpenMenu());
    return true;
  });
  f.menu->Popup(100, 100);
  user.Join();
  EXPECT_EQ(items, (std::vector<std::string>{"First", "", "Failing", "Last"}));
  EXPECT_EQ(clickSender, f.menu->Items()->Items(3));
  EXPECT_FALSE(menuOpenAtClick);
}

TEST(PopupMenu, EscapeChoosesNothingAndAFailingCommandIsReportedByTheDefaultHandler) {
  TMenuForm f;
  int clicks = 0;
  f.menu->Items()->Items(0)->OnClick = [&](TObject*) { ++clicks; };
  f.menu->Items()->Items(2)->OnClick = [](TObject*) { throw Exception("command failed"); };
  {
    TMenuUser user({VK_ESCAPE});
    f.menu->Popup(50, 50);
  }
  EXPECT_EQ(clicks, 0);
  TMessageBoxCloser closer;
  {
    TMenuUser user({VK_DOWN, VK_DOWN, VK_RETURN});  // the separator is skipped
    f.menu->Popup(50, 50);
  }
  EXPECT_EQ(closer.Seen().size(), 1u);
}

TEST(PopupMenu, AMenuDestroyedWhileItIsOpenRunsNothingAndReturnsSafely) {
  auto* form = new TForm(Application);
  auto* menu = new TPopupMenu(form);
  auto* item = new TMenuItem(form);
  item->SetCaption("Never");
  bool clicked = false;
  item->OnClick = [&](TObject*) { clicked = true; };
  menu->Items()->Add(item);
  // A timer tick inside the menu's loop destroys the menu's owner (and so the menu); only then does the user pick.
  std::atomic<bool> formGone{false};
  TTimer killer(nullptr);
  killer.SetInterval(50);
  killer.SetOnTimer([&](TObject*) {
    killer.SetEnabled(false);
    delete form;
    formGone = true;
  });
  // Escape last: whatever the menu did with the first keys, it closes.
  TMenuUser user({VK_DOWN, VK_RETURN, VK_ESCAPE}, 0, [&] { return formGone.load(); });
  menu->Popup(10, 10);
  user.Join();
  EXPECT_TRUE(formGone);
  EXPECT_FALSE(clicked);
}
