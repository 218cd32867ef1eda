// The dialogs drawn on a terminal. The progress block is redrawn in place; keys stand for
// the buttons (progress: p Pause/Resume, c or Esc Cancel; prompts: the key shown in
// brackets before each button). A prompt shown during progress takes the block's place
// until it is answered.
#pragma once

#include <string>

#include "platform/tty.h"
#include "ui/dialogs.h"
#include "ui/terminal_screen.h"

namespace tx::ui {

class TerminalDialogs : public Dialogs {
 public:
  // The device to draw on: the controlling terminal unless a test names a pseudo-terminal.
  explicit TerminalDialogs(std::string device = "/dev/tty") : device_(std::move(device)) {}

  std::unique_ptr<ProgressView> OpenProgress() override;
  int AskOverwrite(const OverwriteQuestion& question) override;
  int AskPassword(Language language, SecretText& typed) override;
  int ShowNotice(const Notice& notice) override;
  // Lists the certificates with numbers and reads the chosen numbers (Enter alone: none).
  int PickCertificates(const CertificatePick& pick, std::vector<size_t>& chosen) override;

 private:
  friend class TerminalProgressView;
  // The terminal is opened by its first user and restored when the last one leaves.
  bool Acquire();
  void Release();
  // Runs a prompt: `draw` makes its lines, `answer` maps a key to a result (0: go on).
  template <typename Draw, typename Answer>
  int Prompt(Draw draw, Answer answer, int on_hangup);

  std::string device_;
  platform::Terminal terminal_;
  TerminalScreen screen_{terminal_};
  int users_ = 0;
  bool progress_hidden_ = false;
};

}  // namespace tx::ui
