// A many-readers/one-writer lock whose holder of a read lock may also take the write lock on the same thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

class TMultiReadExclusiveWriteSynchronizer {
 public:
  TMultiReadExclusiveWriteSynchronizer() = default;
  TMultiReadExclusiveWriteSynchronizer(const TMultiReadExclusiveWriteSynchronizer&) = delete;
  TMultiReadExclusiveWriteSynchronizer& operator=(const TMultiReadExclusiveWriteSynchronizer&) = delete;

  // Waits while another thread writes. Nests; a writer may also read.
  void BeginRead();
  void EndRead();
  // Waits until no other thread reads or writes. Nests. A thread that holds read locks may call it: its reads
  // are set aside while it waits (two such threads would otherwise wait for each other forever) and are back
  // when it returns. Returns false when another thread wrote in that wait, so what the caller read before may
  // have changed; true otherwise.
  bool BeginWrite();
  void EndWrite();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::thread::id, int> readers_;  // read depth per thread
  std::thread::id writer_;                  // default id: no writer
  int writeDepth_ = 0;
  uint64_t writeCount_ = 0;  // writes granted so far
};

// Scoped holders.
class TReadLock {
 public:
  explicit TReadLock(TMultiReadExclusiveWriteSynchronizer& lock) : lock_(lock) { lock_.BeginRead(); }
  ~TReadLock() { lock_.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  TMultiReadExclusiveWriteSynchronizer& lock_;
};

class TWriteLock {
 public:
  explicit TWriteLock(TMultiReadExclusiveWriteSynchronizer& lock) : lock_(lock) { undisturbed_ = lock_.BeginWrite(); }
  ~TWriteLock() { lock_.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;
  // False when another thread wrote while this one waited for the lock.
  bool Undisturbed() const { return undisturbed_; }

 private:
  TMultiReadExclusiveWriteSynchronizer& lock_;
  bool undisturbed_ = true;
};
