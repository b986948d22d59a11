#include "tray/kxTray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

struct TShellCall {
  DWORD message;
  NOTIFYICONDATAA data;
};
std::vector<TShellCall> shellCalls;

// Watches every call on its way to the real shell.
BOOL WINAPI RecordingNotifyIcon(DWORD message, PNOTIFYICONDATAA data) {
  shellCalls.push_back({message, *data});
  return Shell_NotifyIconA(message, data);
}

constexpr char kTip[] = "Tray tip";

// A form built the way a form description builds one: components created while loading, then the after-loading
// calls. Its menu has two entries.
class TTrayForm : public TForm {
 public:
  explicit TTrayForm(TComponent* owner) : TForm(owner) {
    BeginLoading();
    kxTray1 = new TkxTray(this);
    kxTray1->SetName("kxTray1");
    PopupMenu1 = new TPopupMenu(this);
    for (const char* caption : {"First", "Second"}) {
      auto* item = new TMenuItem(this);
      item->SetCaption(caption);
      item->OnClick = [this, caption](TObject*) { clicked.push_back(caption); };
      PopupMenu1->Items()->Add(item);
    }
    kxTray1->SetPopupMenu(PopupMenu1);
    kxTray1->SetTip(kTip);
    EndLoading();
  }
  TkxTray* kxTray1;
  TPopupMenu* PopupMenu1;
  std::vector<std::string> clicked;
};

class Tray : public ::testing::Test {
 protected:
  void SetUp() override {
    shellCalls.clear();
    kxShellNotifyIcon = &RecordingNotifyIcon;
  }
  void TearDown() override { kxShellNotifyIcon = &Shell_NotifyIconA; }
};

}  // namespace

TEST_F(Tray, AddedOnceLoadedWithTheFirstFormOfTheIconDataAndRemovedOnDestruction) {
  int before = TrayIconCount();
  {
    TTrayForm form(Application);
    ASSERT_EQ(shellCalls.size(), 1u) << "writes during loading send nothing; the after-loading call adds";
    const TShellCall& add = shellCalls[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.data.cbSize, NOTIFYICONDATAA_V1_SIZE);
    EXPECT_EQ(add.data.hWnd, form.Handle());
    EXPECT_EQ(add.data.uID, 1u);
    EXPECT_EQ(add.data.uCallbackMessage, 10124u);
    EXPECT_EQ(add.data.uFlags, 7u);
    EXPECT_STREQ(add.data.szTip, kTip);
    EXPECT_EQ(add.data.hIcon, LoadIconA(MainInstance(), "MAINICON"));
    EXPECT_NE(add.data.hIcon, nullptr);
    EXPECT_TRUE(form.kxTray1->Active());
    EXPECT_EQ(form.kxTray1->Handle(), form.Handle());
    EXPECT_TRUE(PumpUntil([&] { return TrayIconCount() == before + 1; }, 3000)) << "the real icon appears";
    shellCalls.clear();
  }
  ASSERT_FALSE(shellCalls.empty());
  EXPECT_EQ(shellCalls[0].message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_EQ(shellCalls[0].data.uFlags, 0u);
  EXPECT_TRUE(PumpUntil([&] { return TrayIconCount() == before; }, 3000)) << "the real icon is gone";
}

TEST_F(Tray, TipIsCutTo63CharactersAndSentAtOnce) {
  TTrayForm form(Application);
  shellCalls.clear();
  const std::string seventy = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopqr";
  form.kxTray1->SetTip(seventy);
  EXPECT_EQ(form.kxTray1->Tip(), seventy.substr(0, 63));
  ASSERT_EQ(shellCalls.size(), 1u);
  EXPECT_EQ(shellCalls[0].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(std::string(shellCalls[0].data.szTip), seventy.substr(0, 63));
  EXPECT_EQ(shellCalls[0].data.uFlags, 7u);
}

TEST_F(Tray, AnIconImageWinsOverTheResourceAndIsSentAtOnce) {
  TTrayForm form(Application);
  TkxTray* tray = form.kxTray1;
  HICON resource = LoadIconA(MainInstance(), "MAINICON");
  TIcon image;
  image.SetHandle(CopyIcon(LoadIconA(nullptr, IDI_APPLICATION)));
  shellCalls.clear();
  tray->SetIcon(&image);
  ASSERT_FALSE(shellCalls.empty());
  EXPECT_EQ(shellCalls.back().message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_EQ(shellCalls.back().data.hIcon, tray->Icon()->Handle());
  EXPECT_NE(tray->Icon()->Handle(), resource);
}

TEST_F(Tray, ATaskBarThatComesUpAgainGetsTheIconAddedAgainOnce) {
  TTrayForm form(Application);
  shellCalls.clear();
  // As after a restart of the shell, which has lost the icon and tells every window that the task bar is back.
  PostMessageA(HWND_BROADCAST, TaskbarCreatedMessage(), 0, 0);
  PumpFor(200);
  ASSERT_EQ(shellCalls.size(), 1u);
  EXPECT_EQ(shellCalls[0].message, static_cast<DWORD>(NIM_ADD));
  EXPECT_STREQ(shellCalls[0].data.szTip, kTip);
  EXPECT_EQ(shellCalls[0].data.hIcon, LoadIconA(MainInstance(), "MAINICON"));
}

TEST_F(Tray, RightPressOpensTheRealMenuAndRunsTheChosenItem) {
  TTrayForm form(Application);
  int showMenuCalls = 0;
  form.kxTray1->ShowMenu = [&](TObject* sender) {
    EXPECT_EQ(sender, form.kxTray1);
    ++showMenuCalls;
  };
  TMenuUser user({VK_DOWN, VK_DOWN, VK_RETURN});  // the second entry
  LRESULT result = SendMessageA(form.Handle(), kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  EXPECT_TRUE(user.Join());
  EXPECT_EQ(showMenuCalls, 1);
  EXPECT_EQ(form.clicked, (std::vector<std::string>{"Second"}));
  EXPECT_EQ(form.PopupMenu1->PopupComponent(), form.kxTray1);
  EXPECT_EQ(result, 0) << "the system gets the form's own answer";
}

TEST_F(Tray, LeftPressAndDoubleClickFireTheirEventsAndOtherMouseMessagesNothing) {
  TTrayForm form(Application);
  std::vector<std::string> events;
  form.kxTray1->SimpelFunction = [&](TObject*) { events.push_back("simpel"); };
  form.kxTray1->DefaultFunction = [&](TObject*) { events.push_back("default"); };
  form.kxTray1->ShowMenu = [&](TObject*) { events.push_back("menu"); };
  // As the shell posts them; a double click arrives as press, release, double click, release.
  for (UINT mouse :
       {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONUP, WM_MBUTTONDOWN}) {
    PostMessageA(form.Handle(), kTrayCallbackMessage, kTrayIconId, mouse);
  }
  PumpFor(200);
  EXPECT_EQ(events, (std::vector<std::string>{"simpel", "default"}));
}

// The removal notification clears the tray's menu when the menu goes first; a right press then only fires ShowMenu.
TEST_F(Tray, ADestroyedMenuIsForgottenAndARightPressThenOpensNothing) {
  TTrayForm form(Application);
  int showMenuCalls = 0;
  form.kxTray1->ShowMenu = [&](TObject*) { ++showMenuCalls; };
  delete form.PopupMenu1;
  ASSERT_EQ(form.kxTray1->PopupMenu(), nullptr);
  SendMessageA(form.Handle(), kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  EXPECT_EQ(showMenuCalls, 1);
}
