#include "frame/call_frame.h"

#include "ui/progress.h"

namespace tx::frame {

namespace {
void* g_parent_window = nullptr;
}  // namespace

StatusCode ToWidePath(const char* text, platform::WidePath& out) {
  if (text == nullptr) {
    out.units[0] = 0;
    return ConditionCode(Cls::BadArgument, place::kArgument, 0x01);
  }
  out.units[0] = 0;
  if (*text == 0) return ConditionCode(Cls::BadArgument, place::kArgument, 0x02);
  if (!platform::Utf8ToUtf16(text, out.units, platform::kWidePathUnits))
    return SystemCode(platform::SysCall::MultiByteToWide, place::kArgument, 0x01);
  return kOk;
}

StatusCode OptionalPath(const char* text, platform::WidePath& out, StatusCode on_error) {
  out.units[0] = 0;
  if (text == nullptr || *text == 0) return kOk;
  return platform::Utf8ToUtf16(text, out.units, platform::kWidePathUnits) ? kOk : on_error;
}

void* ParentWindow() { return g_parent_window; }

CallFrame::CallFrame(void* parent, uint32_t flags) : parent_(parent), flags_(flags) {
  // A parent window would be disabled here on a windowing system; the handle is opaque.
  g_parent_window = parent_;
}

CallFrame::~CallFrame() {
  // The parent would be enabled again here. The progress window closes on every path.
  if (progress()) ui::ProgressClose();
}

}  // namespace tx::frame
