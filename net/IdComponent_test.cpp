#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/IdComponent.h"
#include "net/IdStack.h"

namespace {

// Records every work event of a component as a line of text.
struct WorkLog {
  std::vector<std::string> lines;
  void Attach(TIdComponent& c) {
    c.OnWorkBegin = [this](TObject*, TWorkMode m, int64_t max) { Add("begin", m, max); };
    c.OnWork = [this](TObject*, TWorkMode m, int64_t n) { Add("work", m, n); };
    c.OnWorkEnd = [this](TObject*, TWorkMode m) { Add("end", m, -1); };
  }
  void Add(const char* what, TWorkMode m, int64_t n) {
    lines.push_back(std::string(what) + (m == wkRead ? " r " : " w ") + std::to_string(n));
  }
};

TEST(TIdComponentWork, NestedStartsAnnounceOnlyTheOuterPair) {
  TIdComponent c(nullptr);
  WorkLog log;
  log.Attach(c);
  c.StartWork(wkRead, 100);
  c.AddWork(wkRead, 10);
  c.StartWork(wkRead, 5);  // inner: keeps the outer maximum and count
  c.AddWork(wkRead, 5);
  c.FinishWork(wkRead);
  c.AddWork(wkRead, 1);
  c.FinishWork(wkRead);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"begin r 100", "work r 10", "work r 15", "work r 16", "end r -1"}));
  EXPECT_EQ(c.WorkCountMax(wkRead), 100);
  EXPECT_EQ(c.WorkLevel(wkRead), 0);
}

TEST(TIdComponentWork, StrayCallsChangeNothingAndReadAndWriteCountersAreIndependent) {
  TIdComponent c(nullptr);
  WorkLog log;
  log.Attach(c);
  c.AddWork(wkWrite, 7);
  // A stray finish does not push the level below zero, so the next start is still announced.
  c.FinishWork(wkWrite);
  c.StartWork(wkRead, 10);
  c.AddWork(wkRead, 4);
  c.StartWork(wkWrite, 20);
  c.AddWork(wkWrite, 9);
  c.FinishWork(wkWrite);
  c.AddWork(wkWrite, 100);  // write work is over; read work goes on
  c.AddWork(wkRead, 1);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"begin r 10", "work r 4", "begin w 20", "work w 9", "end w -1",
                                                 "work r 5"}));
  EXPECT_EQ(c.WorkCount(wkWrite), 9);
  EXPECT_EQ(c.WorkLevel(wkRead), 1);
  // The counting runs even with nobody listening.
  TIdComponent quiet(nullptr);
  quiet.StartWork(wkRead, 1);
  quiet.AddWork(wkRead, 1);
  EXPECT_EQ(quiet.WorkCount(wkRead), 1);
}

TEST(TIdComponentStatus, FormatsTheFixedTextsWithTheArgument) {
  TIdComponent c(nullptr);
  std::vector<std::string> texts;
  std::vector<TIdStatus> statuses;
  c.OnStatus = [&](TObject* sender, TIdStatus status, const std::string& text) {
    EXPECT_EQ(sender, &c);
    statuses.push_back(status);
    texts.push_back(text);
  };
  c.ReportStatus(stConnecting, "10.0.0.1");
  c.ReportStatus(stResolving, "www.example.invalid");
  c.ReportStatus(stConnected);
  c.ReportStatus(stDisconnecting);
  c.ReportStatus(stDisconnected, "ignored");
  c.ReportStatus(stText, "Chunk Started");
  c.ReportStatus(static_cast<TIdStatus>(8), "100% done");
  EXPECT_EQ(texts,
            (std::vector<std::string>{"Connecting to 10.0.0.1.", "Resolving hostname www.example.invalid.",
                                      "Connected.", "Disconnecting.", "Disconnected.", "Chunk Started", "100% done"}));
  EXPECT_EQ(statuses.front(), stConnecting);
}

TEST(StackLifetime, TheStackLivesExactlyAsLongAsSomeComponent) {
  ASSERT_EQ(IdStackInstanceCount(), 0);
  EXPECT_EQ(GStack(), nullptr);
  {
    TIdComponent owner(nullptr);
    TIdStack* first = GStack();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(IdStackInstanceCount(), 1);
    auto* owned = new TIdComponent(&owner);  // freed by its owner
    (void)owned;
    EXPECT_EQ(IdStackInstanceCount(), 2);
    EXPECT_EQ(GStack(), first);  // the second component shares the one stack
  }
  EXPECT_EQ(IdStackInstanceCount(), 0);
  EXPECT_EQ(GStack(), nullptr);
  TIdComponent again(nullptr);
  EXPECT_NE(GStack(), nullptr);  // and a later component starts a new one
}

}  // namespace
