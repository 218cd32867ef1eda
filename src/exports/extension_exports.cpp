// Exports of this library beyond the archive and digest functions: texts for hosts.
#include <cstring>
#include <string>

#include "frame/status.h"
#include "frame/status_text.h"
#include "platform/code_page.h"
#include "platform/failure.h"
#include "platform/temporaries.h"
#include "tessarex.h"
#include "ui/texts.h"

namespace {

// Copies as much of `text` as fits, always terminated; 0x00280000 when it was cut.
TessarexStatus Give(const std::string& text, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return tx::ConditionCode(tx::Cls::BadArgument, 0, 0x01);
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
  return n == text.size() ? 0 : tx::ConditionCode(tx::Cls::OutputTooSmall, 0, 0x00);
}

}  // namespace

extern "C" {

TessarexStatus TESSAREX_STDCALL tessarex_status_text(uint32_t code, uint32_t language, char* buffer, uint32_t size) {
  tx::ui::Language chosen;
  switch (language) {
    case TESSAREX_LANGUAGE_LOCALE: chosen = tx::ui::CurrentLanguage(); break;
    case TESSAREX_LANGUAGE_ENGLISH: chosen = tx::ui::Language::English; break;
    case TESSAREX_LANGUAGE_JAPANESE: chosen = tx::ui::Language::Japanese; break;
    default: return tx::ConditionCode(tx::Cls::BadOption, 0, 0x01);
  }
  try {
    return Give(tx::frame::DescribeStatus(code, chosen), buffer, size);
  } catch (...) {
    return tx::ConditionCode(tx::Cls::NoMemory, 0, 0x00);
  }
}

TessarexStatus TESSAREX_STDCALL tessarex_remove_temporaries(void) {
  tx::platform::RemoveTemporaries();
  return 0;
}

TessarexStatus TESSAREX_STDCALL tessarex_set_code_page(uint32_t code_page) {
  try {
    if (!tx::platform::SetNameCodePage(code_page)) return tx::ConditionCode(tx::Cls::BadArgument, 0, 0x02);
  } catch (...) {
    return tx::ConditionCode(tx::Cls::NoMemory, 0, 0x00);
  }
  return 0;
}

TessarexStatus TESSAREX_STDCALL tessarex_failure_text(char* buffer, uint32_t size) {
  try {
    return Give(tx::platform::FailureText(), buffer, size);
  } catch (...) {
    return tx::ConditionCode(tx::Cls::NoMemory, 0, 0x00);
  }
}

}  // extern "C"
