// Every text the dialogs show, in English and Japanese (UTF-8).
#pragma once

#include <cstdint>

namespace tx::ui {

enum class Language { English, Japanese };

// Japanese when the message locale names Japanese, else English.
Language CurrentLanguage();

// Texts by the numbers the exports pass (3001 "Progress", 3004 "Reading...", the notice
// messages 3049 and on). Null for a number without a text.
const char* MessageText(uint32_t number, Language language);

// The message number the error notice shows for a status code: the code's system flag and
// class plus 3000 for codes above 65535 (the certificate, signature, checksum and digest
// classes get their own messages), the code itself from 1 to 65535, 0 for 0.
uint32_t NoticeMessageNumber(uint32_t code);

enum class Label {
  ArchiveFile,    // 2004
  BaseDirectory,  // 2005
  WorkingFile,
  Cancel,
  OverwriteTitle,
  OverwriteQuestion,
  ExistingDate,
  IncomingDate,
  Overwrite,
  OverwriteAll,
  Skip,
  PasswordTitle,
  EnterPassword,
  ShowPassword,
  Ok,
  NoticeTitle,
  ErrorDetected,
  Issuer,  // certificate picker
  Serial,
  Expires,
  Fingerprint,
  NoCertificates,
  ChooseSeveral,
  ChooseOne,
  NoSuchNumber,
};
const char* LabelText(Label label, Language language);

}  // namespace tx::ui
