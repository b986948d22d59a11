#include "rtl/SyncObjs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Runs body on a thread of its own and says whether it finished within the limit. A thread that does not finish
// (a deadlock) is left behind detached, holding only shared state, so the test still ends.
template <class Body>
bool FinishesWithin(std::chrono::milliseconds limit, Body body) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([done, body]() mutable {
    body();
    done->set_value();
  }).detach();
  return finished.wait_for(limit) == std::future_status::ready;
}

TEST(MultiReadExclusiveWrite, AReaderBecomesAWriterOnTheSameThreadAndStaysAReader) {
  auto lock = std::make_shared<TMultiReadExclusiveWriteSynchronizer>();
  auto upgraded = std::make_shared<std::atomic<bool>>(false);
  auto writerInEarly = std::make_shared<std::atomic<bool>>(false);
  auto writerInAfterOneEnd = std::make_shared<std::atomic<bool>>(false);
  auto writerInAtLast = std::make_shared<std::atomic<bool>>(false);
  EXPECT_TRUE(FinishesWithin(10s, [=] {
    lock->BeginRead();
    lock->BeginRead();  // nested
    upgraded->store(lock->BeginWrite());
    lock->EndWrite();
    // Still reading: another thread's writer must wait until both reads end.
    auto writerIn = std::make_shared<std::atomic<bool>>(false);
    std::thread writer([lock, writerIn] {
      lock->BeginWrite();
      writerIn->store(true);
      lock->EndWrite();
    });
    std::this_thread::sleep_for(50ms);
    writerInEarly->store(writerIn->load());
    lock->EndRead();
    std::this_thread::sleep_for(20ms);
    writerInAfterOneEnd->store(writerIn->load());
    lock->EndRead();
    writer.join();
    writerInAtLast->store(writerIn->load());
  }));
  EXPECT_TRUE(upgraded->load());
  EXPECT_FALSE(writerInEarly->load());
  EXPECT_FALSE(writerInAfterOneEnd->load());
  EXPECT_TRUE(writerInAtLast->load());
}

TEST(MultiReadExclusiveWrite, TwoReadersUpgradingAtOnceBothGetThroughAndTheSecondIsToldSo) {
  auto lock = std::make_shared<TMultiReadExclusiveWriteSynchronizer>();
  auto bothReading = std::make_shared<std::atomic<int>>(0);
  auto undisturbed = std::make_shared<std::atomic<int>>(0);
  auto upgrade = [lock, bothReading, undisturbed] {
    lock->BeginRead();
    bothReading->fetch_add(1);
    for (int i = 0; i < 500 && bothReading->load() < 2; ++i) std::this_thread::sleep_for(1ms);
    if (lock->BeginWrite()) undisturbed->fetch_add(1);
    lock->EndWrite();
    lock->EndRead();
  };
  EXPECT_TRUE(FinishesWithin(5s, [upgrade] {
    std::thread first(upgrade);
    std::thread second(upgrade);
    first.join();
    second.join();
  }));
  EXPECT_EQ(undisturbed->load(), 1);
}

TEST(MultiReadExclusiveWrite, ManyThreadsNeverSeeAHalfWrittenValue) {
  auto lock = std::make_shared<TMultiReadExclusiveWriteSynchronizer>();
  auto pair = std::make_shared<std::pair<long, long>>(0, 0);
  auto torn = std::make_shared<std::atomic<int>>(0);
  EXPECT_TRUE(FinishesWithin(20s, [=] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([=] {
        for (int i = 0; i < 2000; ++i) {
          if (i % 4 == 0) {
            TWriteLock write(*lock);
            ++pair->first;
            std::this_thread::yield();
            ++pair->second;
          } else {
            TReadLock read(*lock);
            if (pair->first != pair->second) torn->fetch_add(1);
          }
        }
      });
    }
    for (auto& thread : threads) thread.join();
  }));
  EXPECT_EQ(torn->load(), 0);
  EXPECT_EQ(pair->first, 2000);
}

}  // namespace
