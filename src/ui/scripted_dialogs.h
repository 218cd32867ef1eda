// Dialogs that play a script instead of asking a person: the tests' way in. Buttons are
// pressed at chosen turns of the progress pump, and everything shown is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ui/dialogs.h"

namespace tx::ui {

class ScriptedDialogs : public Dialogs {
 public:
  // Presses a progress button during the given turn of the message pump (counted from 1
  // over the whole life of the backend: the pump of ProgressOpen is turn 1 of a call that
  // opens the window first).
  void PressAt(unsigned turn, ProgressEvent button) { presses_.emplace(turn, button); }
  // The next window fails to open.
  void FailNextOpen() { fail_next_open_ = true; }

  struct Record {
    unsigned opened = 0, closed = 0, turns = 0;
    std::vector<unsigned> waits;  // one entry per pause turn, its milliseconds
    std::map<ProgressField, std::string> shown;  // current text of each field
    std::vector<std::string> captions;           // every caption set, in order
    std::vector<std::string> status_lines;       // every status line set, in order
  };
  const Record& record() const { return record_; }

  std::unique_ptr<ProgressView> OpenProgress() override;

 private:
  friend class ScriptedProgressView;
  std::multimap<unsigned, ProgressEvent> presses_;
  bool fail_next_open_ = false;
  Record record_;
};

}  // namespace tx::ui
