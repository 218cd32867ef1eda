// Packing members ahead of the archive's writer on a second thread. Members are taken in
// their order, by whichever thread comes first: the writer packs its own straight into the
// archive, the helper packs into one of a few bounded buffers that the writer copies when
// it gets there. While the writer waits for the helper's oldest member it packs the next
// free member into a buffer too, so both cores work even when the helper stays ahead. A
// member too large for a buffer is only looked up there and left to the writer, so memory
// stays bounded and the archive is the one a single thread makes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "frame/secrets.h"
#include "frame/status.h"
#include "platform/text.h"
#include "zip/zip_records.h"

namespace tx::zip {

// One member taken by the helper.
struct AheadSlot {
  uint32_t index = 0;
  const char16_t* name = nullptr;  // as stored in the call's name list
  StatusCode code = kOk;
  bool packed = false;  // header and data are in the buffers; else the writer packs it itself
  bool done = false;
  uint32_t kind = 0;  // what the preparation made of it
  frame::Wiped<ZipEntryInfo> entry;
  platform::WidePath full;
  std::unique_ptr<uint8_t[]> header, data;
  size_t header_length = 0, data_length = 0;
};

class PackAhead {
 public:
  static constexpr size_t kSlots = 8;
  static constexpr size_t kSlotData = size_t{2} << 20;
  static constexpr size_t kSlotHeader = 65536;

  // `work` fills a claimed slot (index, name set): on the helper thread, or on the writer's
  // while it waits (`helper` false).
  using Work = std::function<void(AheadSlot&, bool helper)>;

  PackAhead() = default;
  ~PackAhead();  // stops the helper and waits for it
  PackAhead(const PackAhead&) = delete;
  PackAhead& operator=(const PackAhead&) = delete;

  // Starts the helper over members 1..count named by the list at `names`. False (and
  // nothing running) when the buffers or the thread cannot be had.
  bool Start(const char16_t* names, uint32_t count, Work work);
  bool running() const { return thread_.joinable(); }
  // Set when the helper is to give up its member.
  const std::atomic<bool>* quitting() const { return &quit_; }
  // For the writer, member by member in order: null when the writer takes the member
  // itself, else the helper's slot once it is done.
  AheadSlot* Take(uint32_t index);
  // The slot Take returned is written; its buffers go back to the helper.
  void Release();

 private:
  void Run();
  void Claim();  // moves the list past the next member; the lock is held
  // Claims a free slot for the next member, or null when there is none; the lock is held.
  AheadSlot* ClaimSlot();
  // Fills a claimed slot without the lock and marks it done under `hold`, which it relocks.
  void Fill(AheadSlot& slot, bool helper, std::unique_lock<std::mutex>& hold);
  void Stop();

  std::mutex lock_;
  std::condition_variable changed_;
  AheadSlot slots_[kSlots];
  size_t head_ = 0, used_ = 0;
  uint32_t next_ = 1, count_ = 0;
  const char16_t* next_name_ = nullptr;
  bool stop_ = false;
  std::atomic<bool> quit_{false};
  Work work_;
  std::thread thread_;
};

}  // namespace tx::zip
