// The dialogs drawn on a terminal: the progress block is redrawn in place, keys stand for
// the buttons (p Pause/Resume, c or Esc Cancel).
#pragma once

#include <string>

#include "ui/dialogs.h"

namespace tx::ui {

class TerminalDialogs : public Dialogs {
 public:
  // The device to draw on: the controlling terminal unless a test names a pseudo-terminal.
  explicit TerminalDialogs(std::string device = "/dev/tty") : device_(std::move(device)) {}
  std::unique_ptr<ProgressView> OpenProgress() override;

 private:
  std::string device_;
};

}  // namespace tx::ui
