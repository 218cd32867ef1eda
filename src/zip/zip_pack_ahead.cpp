#include "zip/zip_pack_ahead.h"

#include <new>
#include <system_error>

#include "platform/text.h"

namespace tx::zip {

PackAhead::~PackAhead() { Stop(); }

void PackAhead::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  quit_.store(true, std::memory_order_relaxed);
  changed_.notify_all();
  thread_.join();
}

bool PackAhead::Start(const char16_t* names, uint32_t count, Work work) {
  for (AheadSlot& slot : slots_) {
    slot.header.reset(new (std::nothrow) uint8_t[kSlotHeader]);
    slot.data.reset(new (std::nothrow) uint8_t[kSlotData]);
    if (!slot.header || !slot.data) return false;
  }
  next_name_ = names;
  count_ = count;
  work_ = std::move(work);
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PackAhead::Claim() {
  ++next_;
  next_name_ += platform::Utf16Length(next_name_) + 1;
}

AheadSlot* PackAhead::ClaimSlot() {
  if (stop_ || next_ > count_ || used_ == kSlots) return nullptr;
  AheadSlot* slot = &slots_[(head_ + used_) % kSlots];
  ++used_;
  slot->index = next_;
  slot->name = next_name_;
  slot->done = false;
  Claim();
  return slot;
}

void PackAhead::Fill(AheadSlot& slot, bool helper, std::unique_lock<std::mutex>& hold) {
  hold.unlock();
  slot.code = kOk;
  slot.packed = false;
  slot.header_length = slot.data_length = 0;
  try {
    work_(slot, helper);
  } catch (...) {
    slot.code = ConditionCode(Cls::NoMemory, 0, 0x04);
  }
  hold.lock();
  slot.done = true;
  changed_.notify_all();
}

void PackAhead::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return stop_ || next_ > count_ || used_ < kSlots; });
    AheadSlot* slot = ClaimSlot();
    if (slot == nullptr) return;
    Fill(*slot, true, hold);
  }
}

AheadSlot* PackAhead::Take(uint32_t index) {
  std::unique_lock<std::mutex> hold(lock_);
  if (used_ > 0 && slots_[head_].index == index) {
    AheadSlot* slot = &slots_[head_];
    while (!slot->done) {
      // Rather than wait, pack the next free member; the helper has the oldest in hand.
      if (AheadSlot* next = ClaimSlot()) {
        Fill(*next, false, hold);
        continue;
      }
      changed_.wait(hold, [slot] { return slot->done; });
    }
    return slot;
  }
  if (next_ == index) Claim();
  return nullptr;
}

void PackAhead::Release() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    head_ = (head_ + 1) % kSlots;
    --used_;
  }
  changed_.notify_all();
}

}  // namespace tx::zip
