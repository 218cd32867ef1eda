// Writing small extracted files on a second thread. The calling thread decodes a member
// into a slot and submits it; the worker creates the file under its temporary name,
// writes it, sets its time and closes it; the calling thread then gives each file its name
// in member order. A failure is reported when its member's turn comes, and files after it
// are never named, so what is on disk at the end is what one thread would have left.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "frame/status.h"
#include "platform/directory.h"
#include "platform/failure.h"
#include "platform/replacement.h"
#include "platform/text.h"
#include "platform/types.h"

namespace tx::frame {

class FileWriters {
 public:
  static constexpr size_t kSlots = 16;
  static constexpr size_t kSlotBytes = size_t{256} << 10;

  struct Slot {
    // Set by the caller before Submit.
    std::shared_ptr<const platform::Directory> folder;
    platform::WidePath name;  // the final component
    uint8_t* data = nullptr;  // kSlotBytes
    size_t size = 0;
    platform::FileTime last_write = 0;
    uint32_t attributes = 0, unix_mode = 0;
    // The member's codes for a file not created, not written, a time not set, and a file
    // not closed or not named.
    StatusCode create_failure = kOk, write_failure = kOk, time_failure = kOk, close_failure = kOk;

   private:
    friend class FileWriters;
    StatusCode code = kOk;
    platform::FailureNote failure;
    platform::PendingName pending;
    bool done = false, held = false;  // held: a file under its temporary name awaits naming
  };

  FileWriters() = default;
  ~FileWriters();  // stops the worker; files not yet named are removed
  FileWriters(const FileWriters&) = delete;
  FileWriters& operator=(const FileWriters&) = delete;

  // Takes the buffers and starts the worker. False (nothing running) when either cannot be
  // had; the caller then writes its files itself.
  bool Start();
  bool running() const { return worker_.joinable(); }

  // A free slot for the next file, naming finished files first to make room. A failure of
  // an earlier file comes back instead (noted for this thread), and the call is over.
  StatusCode Free(Slot*& slot);
  // Hands the slot Free gave over to the worker.
  void Submit();
  // Waits for every submitted file and names them in order: kOk, or the first failure.
  StatusCode Finish();

 private:
  void Work();
  void Write(Slot& slot);
  // Waits for the oldest slot and names its file; the lock is held.
  StatusCode CollectOldest(std::unique_lock<std::mutex>& hold);

  std::unique_ptr<uint8_t[]> memory_;
  Slot slots_[kSlots];
  std::mutex mutex_;
  std::condition_variable posted_, finished_;
  // Counts of slots handed over, taken by the worker and named (or failed), in that order.
  uint64_t submitted_ = 0, taken_ = 0, collected_ = 0;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace tx::frame
