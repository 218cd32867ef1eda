// The frame every export runs in: the parent window taken and given back, arguments
// converted, the progress window opened on request and always closed, nothing thrown
// across the boundary.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace tx::frame {

// Converts one path argument. Null: 0x00013201; empty: 0x00013202; invalid or too long
// for the 1024 units: 0x01203201. The output is emptied first in every case.
StatusCode ToWidePath(const char* text, platform::WidePath& out);
// Converts an optional path argument: null or empty leaves `out` empty; a text that does not
// convert gives `on_error`.
StatusCode OptionalPath(const char* text, platform::WidePath& out, StatusCode on_error);

// The parent window handle of the running call (opaque; there is nothing to disable on
// this platform, but prompts and windows of the call belong to it).
void* ParentWindow();

class CallFrame {
 public:
  CallFrame(void* parent, uint32_t flags);
  ~CallFrame();
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  uint32_t flags() const { return flags_; }
  bool progress() const { return flags_ & kFlagProgress; }

  static constexpr uint32_t kFlagProgress = 0x1;
  static constexpr uint32_t kFlagAskOverwrite = 0x2;
  static constexpr uint32_t kFlagAskPassword = 0x4;
  static constexpr uint32_t kFlagAskOnError = 0x8;

 private:
  void* parent_;
  uint32_t flags_;
};

// Runs an export's body inside the frame. The standard containers below report a failed
// or impossible allocation by throwing; it becomes NoMemory, and nothing leaves the library.
template <typename Body>
StatusCode RunExport(void* parent, uint32_t flags, Body&& body) noexcept {
  try {
    platform::ClearFailure();
    CallFrame frame(parent, flags);
    return body(frame);
  } catch (...) {
    return ConditionCode(Cls::NoMemory, place::kExportBody, 0);
  }
}

}  // namespace tx::frame
