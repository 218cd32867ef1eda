// The dialogs behind one interface, with a terminal backend for users and a scripted one
// for tests. Backends only show fields and report buttons; what the fields hold and what
// a button means is decided above them, the same for every backend.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/secret_text.h"
#include "ui/texts.h"

namespace tx::ui {

enum class ProgressField {
  Caption,
  Status,        // 2000
  ArchiveLabel,  // 2004
  Archive,       // 2001
  BaseLabel,     // 2005
  Base,          // 2002
  WorkingLabel,
  Working,       // 2003
  PauseButton,   // 5
  CancelButton,  // 2
};

enum class ProgressEvent { None, Cancel, Pause };

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Path fields are shortened by the view to fit what it can show.
  virtual void SetText(ProgressField field, std::string_view text) = 0;
  // The next button pressed since the last call, None when nothing waits.
  virtual ProgressEvent NextEvent() = 0;
  // Shows pending changes; called once per turn of the message pump.
  virtual void Refresh() = 0;
  // One turn of waiting while paused.
  virtual void Wait(unsigned milliseconds) = 0;
};

// Button identifiers are the answers; 0 means the dialog could not be shown.
inline constexpr int kNoDialog = 0;
inline constexpr int kOverwrite = 1, kSkip = 2, kCancelOverwrite = 3, kOverwriteAll = 5;
inline constexpr int kOk = 1, kCancel = 2;

struct OverwriteQuestion {
  Language language;
  std::string path;           // shown shortened to fit
  std::string existing_time;  // "YYYY-MM-DD hh:mm:ss", local time
  std::string incoming_time;
};

struct Notice {
  Language language;
  std::string path;
  std::string message;  // may be empty; "\n" separates lines
};

// One certificate as a picker shows it.
struct CertificateRow {
  std::string subject, issuer, serial, expiry, fingerprint;  // fingerprint: SHA-1, upper-case hex
};

struct CertificatePick {
  Language language;
  std::string prompt;  // "\n" separates lines
  bool several;        // any number may be chosen; else at most one
  std::vector<CertificateRow> rows;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Null when the window cannot be shown (no terminal, for instance).
  virtual std::unique_ptr<ProgressView> OpenProgress() = 0;
  // kOverwrite, kOverwriteAll, kSkip (also Escape and closing), kCancelOverwrite, or kNoDialog.
  virtual int AskOverwrite(const OverwriteQuestion& question) = 0;
  // kOk with the typed text in `typed`, kCancel (also Escape and closing), or kNoDialog.
  virtual int AskPassword(Language language, SecretText& typed) = 0;
  // kOk (go on), kCancel (stop; also Escape and closing), or kNoDialog.
  virtual int ShowNotice(const Notice& notice) = 0;
  // kOk with the indexes of the chosen rows in `chosen` (empty when none was chosen),
  // kCancel (also Escape and closing), or kNoDialog (the default: no picker).
  virtual int PickCertificates(const CertificatePick& /*pick*/, std::vector<size_t>& /*chosen*/) {
    return kNoDialog;
  }
};

// The backend in use: the terminal unless a test installed another.
Dialogs& CurrentDialogs();
// Installs a backend for the process (null: back to the terminal); returns the previous.
Dialogs* InstallDialogs(Dialogs* dialogs);

}  // namespace tx::ui
