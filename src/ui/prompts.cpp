#include "ui/prompts.h"

#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/fs.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/secret_text.h"
#include "ui/texts.h"

namespace tx::ui {

namespace {

// The dialogs' shared text buffer: what the user types goes here and nowhere else.
SecretText g_shared_text;

std::string LocalTimeText(platform::FileTime time) {
  platform::LocalTime t;
  if (!platform::FileTimeToLocal(time, t)) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// The longest prefix of at most `limit` bytes that does not end inside a UTF-8 character.
size_t WholeCharacters(const char* text, size_t size, size_t limit) {
  if (size <= limit) return size;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

}  // namespace

int OverwritePrompt(const char16_t* path, platform::FileTime incoming) {
  platform::FileInfo existing;
  if (!platform::GetFileInfo(path, existing)) return 0;
  OverwriteQuestion q{CurrentLanguage(), DisplayPath(path), LocalTimeText(existing.last_write),
                      LocalTimeText(incoming)};
  // No file is replaced without an answer: a question that cannot be shown is a Cancel.
  int answer = CurrentDialogs().AskOverwrite(q);
  return answer == kNoDialog ? kCancelOverwrite : answer;
}

int PasswordPrompt(char* buffer) {
  int result = CurrentDialogs().AskPassword(CurrentLanguage(), g_shared_text);
  if (result == kOk) {
    size_t n = WholeCharacters(g_shared_text.data(), g_shared_text.size(), kPasswordBytes);
    std::memcpy(buffer, g_shared_text.data(), n);
    buffer[n] = 0;
    buffer[kPasswordBytes] = 0;
  }
  g_shared_text.Wipe();
  return result;
}

const char* NoticeMessage(uint32_t code) {
  const char* text = MessageText(NoticeMessageNumber(code), CurrentLanguage());
  return text ? text : "";
}

int ErrorNotice(const char16_t* path, uint32_t code) {
  return CurrentDialogs().ShowNotice(Notice{CurrentLanguage(), DisplayPath(path), NoticeMessage(code)});
}

}  // namespace tx::ui
