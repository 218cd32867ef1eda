#include "ui/dialogs.h"

#include "ui/terminal_dialogs.h"

namespace tx::ui {

namespace {
Dialogs* g_installed = nullptr;
}  // namespace

Dialogs& CurrentDialogs() {
  static TerminalDialogs terminal;
  return g_installed ? *g_installed : terminal;
}

Dialogs* InstallDialogs(Dialogs* dialogs) {
  Dialogs* previous = g_installed;
  g_installed = dialogs;
  return previous;
}

}  // namespace tx::ui
