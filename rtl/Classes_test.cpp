#include "rtl/Classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/TestSupport.h"

namespace {

TEST(StringList, SavesEveryLineWithCrLfAndTruncatesOrNamesTheFileItCannotCreate) {
  TTempFolder temp;
  std::string name = temp.File("lines.txt");
  {
    TStringList lines;
    lines.Add("a much longer first line than the second save will write");
    lines.SaveToFile(name);
  }
  TStringList lines;
  lines.Add("<html>");
  lines.Add("");
  lines.Add("\xe9\xff");
  lines.SaveToFile(name);
  EXPECT_EQ(ReadFile(name), "<html>\r\n\r\n\xe9\xff\r\n");
  const std::string missing = temp.File("no-such-dir/sub/file.html");
  EXPECT_EQ(MessageOf<EFCreateError>([&] { lines.SaveToFile(missing); }), "Cannot create file " + missing);
}

TEST(MemoryStream, ReadsWritesSeeksAndSizes) {
  TMemoryStream stream;
  stream.WriteBuffer("hello", 5);
  EXPECT_EQ(stream.Size(), 5);
  EXPECT_EQ(stream.Position(), 5);
  stream.SetPosition(1);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "ello");
  stream.SetSize(2);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.DataString(), "he");
  stream.SetSize(4);
  EXPECT_EQ(stream.DataString(), std::string("he\0\0", 4));
  stream.SetPosition(9);  // past the end: nothing to read
  EXPECT_EQ(stream.Read(buffer, 8), 0);
  EXPECT_EQ(stream.Seek(-1, TSeekOrigin::soBeginning), 0);  // before the start: at the start
  stream.SetPosition(0);
  EXPECT_THROW(stream.ReadBuffer(buffer, 5), EReadError);
}

TEST(MemoryStream, RoomWrittenInPlaceKeepsTheBytesItsWriterLeftAlone) {
  const std::string before(10000, 'x');
  for (int64_t room : {9000, 12000}) {  // ending inside the stream's bytes and past them
    TMemoryStream stream;
    stream.WriteBuffer(before.data(), static_cast<int64_t>(before.size()));
    stream.SetPosition(0);
    std::memcpy(stream.WriteRoom(room), "ab", 2);
    stream.CommitRoom(2);
    EXPECT_EQ(stream.Position(), 2);
    EXPECT_TRUE(stream.DataString() == "ab" + before.substr(2)) << room;
  }
}

// A component that records the notifications it receives.
class TRecorder : public TComponent {
 public:
  TRecorder(TComponent* owner, std::vector<std::string>* log, std::string tag)
      : TComponent(owner), log_(log), tag_(std::move(tag)) {}
  ~TRecorder() override { log_->push_back("~" + tag_); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) log_->push_back(tag_ + " saw removal of " + component->Name());
  }
  void Loaded() override {
    TComponent::Loaded();
    log_->push_back(tag_ + " loaded");
  }
  using TComponent::BeginLoading;
  using TComponent::EndLoading;

 private:
  std::vector<std::string>* log_;
  std::string tag_;
};

TEST(Component, OwnerDestroysOwnedComponentsLastCreatedFirst) {
  std::vector<std::string> log;
  auto* owner = new TRecorder(nullptr, &log, "owner");
  new TRecorder(owner, &log, "a");
  new TRecorder(owner, &log, "b");
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete owner;
  EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~b", "~a"}));
}

TEST(Component, RemovalReachesSiblingsAndFreeNotificationPartners) {
  std::vector<std::string> log;
  TRecorder owner(nullptr, &log, "owner");
  auto* menu = new TRecorder(&owner, &log, "menu");
  menu->SetName("PopupMenu1");
  auto* tray = new TRecorder(&owner, &log, "tray");
  TRecorder stranger(nullptr, &log, "stranger");
  menu->FreeNotification(&stranger);
  delete menu;
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), tray);
  EXPECT_EQ(log, (std::vector<std::string>{"~menu", "stranger saw removal of PopupMenu1",
                                           "tray saw removal of PopupMenu1", "owner saw removal of PopupMenu1"}));
}

TEST(Component, DestroyingMarksOwnedComponentsAndLoadingEndsWithLoadedCalls) {
  std::vector<std::string> log;
  TRecorder form(nullptr, &log, "form");
  form.BeginLoading();
  auto* a = new TRecorder(&form, &log, "a");
  auto* b = new TRecorder(&form, &log, "b");
  EXPECT_TRUE(a->IsLoading());
  form.EndLoading();
  EXPECT_FALSE(a->IsLoading());
  EXPECT_FALSE(form.IsLoading());
  EXPECT_EQ(log, (std::vector<std::string>{"a loaded", "b loaded", "form loaded"}));
  form.Destroying();
  EXPECT_TRUE(b->IsDestroying());
}

}  // namespace
