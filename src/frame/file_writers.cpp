#include "frame/file_writers.h"

#include <new>
#include <system_error>

#include "frame/output_file.h"

namespace tx::frame {

FileWriters::~FileWriters() {
  if (worker_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stop_ = true;
    }
    posted_.notify_one();
    worker_.join();
  }
  for (uint64_t k = collected_; k < submitted_; ++k) {
    Slot& slot = slots_[k % kSlots];
    if (slot.done && slot.held) platform::RemovePending(*slot.folder, slot.pending);
  }
}

bool FileWriters::Start() {
  memory_.reset(new (std::nothrow) uint8_t[kSlots * kSlotBytes]);
  if (!memory_) return false;
  for (size_t i = 0; i < kSlots; ++i) slots_[i].data = memory_.get() + i * kSlotBytes;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    memory_.reset();
    return false;
  }
  return true;
}

void FileWriters::Work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    posted_.wait(hold, [this] { return stop_ || taken_ < submitted_; });
    if (stop_) return;
    Slot& slot = slots_[taken_ % kSlots];
    ++taken_;
    hold.unlock();
    Write(slot);
    hold.lock();
    slot.done = true;
    finished_.notify_all();
  }
}

void FileWriters::Write(Slot& slot) {
  OutputFile out;
  StatusCode code = kOk;
  if (!out.Create(slot.folder, slot.name.c_str()))
    code = slot.create_failure;
  else if (slot.size != 0 && !out.file().Write(slot.data, slot.size))
    code = slot.write_failure;
  else if (!out.file().SetWriteTime(slot.last_write))
    code = slot.time_failure;
  else if (!out.Detach(slot.attributes, slot.pending, slot.unix_mode))
    code = slot.close_failure;
  slot.code = code;
  slot.held = code == kOk;
  if (code != kOk) slot.failure = platform::TakeFailure();
}

StatusCode FileWriters::CollectOldest(std::unique_lock<std::mutex>& hold) {
  Slot& slot = slots_[collected_ % kSlots];
  finished_.wait(hold, [&slot] { return slot.done; });
  // Named without the lock, so the worker goes on meanwhile; the slot stays taken.
  hold.unlock();
  StatusCode code = slot.code;
  if (code != kOk) {
    platform::NoteFailure(slot.failure);
  } else if (!platform::Publish(*slot.folder, slot.pending)) {
    platform::RemovePending(*slot.folder, slot.pending);
    code = slot.close_failure;
  }
  slot.held = false;
  slot.folder.reset();
  hold.lock();
  ++collected_;
  return code;
}

StatusCode FileWriters::Free(Slot*& slot) {
  std::unique_lock<std::mutex> hold(mutex_);
  while (submitted_ - collected_ == kSlots)
    if (StatusCode code = CollectOldest(hold)) return code;
  slot = &slots_[submitted_ % kSlots];
  slot->done = slot->held = false;
  slot->code = kOk;
  slot->size = 0;
  return kOk;
}

void FileWriters::Submit() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++submitted_;
  }
  posted_.notify_one();
}

StatusCode FileWriters::Finish() {
  std::unique_lock<std::mutex> hold(mutex_);
  while (collected_ < submitted_)
    if (StatusCode code = CollectOldest(hold)) return code;
  return kOk;
}

}  // namespace tx::frame
