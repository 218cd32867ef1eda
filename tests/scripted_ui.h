// Scripted dialogs for one scope; the previous backend comes back afterwards.
#pragma once

#include "ui/scripted_dialogs.h"

namespace tx::test {

struct ScriptedUi {
  ui::ScriptedDialogs dialogs;
  ui::Dialogs* previous = ui::InstallDialogs(&dialogs);
  ~ScriptedUi() { ui::InstallDialogs(previous); }
};

}  // namespace tx::test
