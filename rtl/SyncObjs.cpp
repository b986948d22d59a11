#include "rtl/SyncObjs.h"

void TMultiReadExclusiveWriteSynchronizer::BeginRead() {
  std::unique_lock<std::mutex> guard(mutex_);
  const std::thread::id me = std::this_thread::get_id();
  changed_.wait(guard, [&] { return writeDepth_ == 0 || writer_ == me; });
  ++readers_[me];
}

void TMultiReadExclusiveWriteSynchronizer::EndRead() {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = readers_.find(std::this_thread::get_id());
  if (it == readers_.end()) return;  // unbalanced call: nothing of this thread's to release
  if (--it->second == 0) {
    readers_.erase(it);
    changed_.notify_all();
  }
}

bool TMultiReadExclusiveWriteSynchronizer::BeginWrite() {
  std::unique_lock<std::mutex> guard(mutex_);
  const std::thread::id me = std::this_thread::get_id();
  if (writeDepth_ > 0 && writer_ == me) {
    ++writeDepth_;
    return true;
  }
  const uint64_t seen = writeCount_;
  int ownReads = 0;
  if (auto it = readers_.find(me); it != readers_.end()) {
    ownReads = it->second;
    readers_.erase(it);
    changed_.notify_all();  // another thread waiting to upgrade may now be the only reader left
  }
  changed_.wait(guard, [&] { return writeDepth_ == 0 && readers_.empty(); });
  writer_ = me;
  writeDepth_ = 1;
  ++writeCount_;
  if (ownReads > 0) readers_[me] = ownReads;
  return writeCount_ == seen + 1;
}

void TMultiReadExclusiveWriteSynchronizer::EndWrite() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (writeDepth_ == 0 || writer_ != std::this_thread::get_id()) return;  // not this thread's write lock
  if (--writeDepth_ == 0) {
    writer_ = std::thread::id();
    changed_.notify_all();
  }
}
