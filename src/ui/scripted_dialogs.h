// Dialogs that play a script instead of asking a person: the tests' way in. Buttons are
// pressed at chosen turns of the progress pump, and everything shown is recorded.
#pragma once

#include <deque>
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

  // Answers for the prompts, taken in order; a prompt without a queued answer is not shown
  // (it returns 0, as a dialog that fails to open).
  void AnswerOverwrite(int button) { overwrite_answers_.push_back(button); }
  void AnswerPassword(std::string text) { password_answers_.push_back({kOk, std::move(text)}); }
  void CancelPassword() { password_answers_.push_back({kCancel, {}}); }
  void AnswerNotice(int button) { notice_answers_.push_back(button); }
  // Chooses the rows of these SHA-1 fingerprints (hex, any case; those not offered are
  // ignored); an empty list chooses none. CancelPick presses Cancel.
  void AnswerPick(std::vector<std::string> fingerprints) {
    pick_answers_.push_back({kOk, std::move(fingerprints)});
  }
  void CancelPick() { pick_answers_.push_back({kCancel, {}}); }

  struct Record {
    unsigned opened = 0, closed = 0, turns = 0;
    std::vector<unsigned> waits;  // one entry per pause turn, its milliseconds
    std::map<ProgressField, std::string> shown;  // current text of each field
    std::vector<std::string> captions;           // every caption set, in order
    std::vector<std::string> status_lines;       // every status line set, in order
    std::vector<OverwriteQuestion> overwrite_questions;
    std::vector<Notice> notices;
    unsigned password_prompts = 0;
    std::vector<CertificatePick> picks;  // every picker shown, with the rows it offered
  };
  const Record& record() const { return record_; }

  std::unique_ptr<ProgressView> OpenProgress() override;
  int AskOverwrite(const OverwriteQuestion& question) override;
  int AskPassword(Language language, SecretText& typed) override;
  int ShowNotice(const Notice& notice) override;
  int PickCertificates(const CertificatePick& pick, std::vector<size_t>& chosen) override;

 private:
  friend class ScriptedProgressView;
  std::multimap<unsigned, ProgressEvent> presses_;
  bool fail_next_open_ = false;
  std::deque<int> overwrite_answers_, notice_answers_;
  std::deque<std::pair<int, std::string>> password_answers_;
  std::deque<std::pair<int, std::vector<std::string>>> pick_answers_;
  Record record_;
};

}  // namespace tx::ui
