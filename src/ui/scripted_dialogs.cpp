#include "ui/scripted_dialogs.h"

#include <algorithm>
#include <cctype>

namespace tx::ui {

class ScriptedProgressView : public ProgressView {
 public:
  explicit ScriptedProgressView(ScriptedDialogs& owner) : owner_(owner) { ++owner_.record_.opened; }
  ~ScriptedProgressView() override { ++owner_.record_.closed; }

  void SetText(ProgressField field, std::string_view text) override {
    auto& r = owner_.record_;
    r.shown[field].assign(text);
    if (field == ProgressField::Caption) r.captions.emplace_back(text);
    if (field == ProgressField::Status) r.status_lines.emplace_back(text);
  }

  ProgressEvent NextEvent() override {
    auto it = owner_.presses_.find(owner_.record_.turns + 1);
    if (it == owner_.presses_.end()) return ProgressEvent::None;
    ProgressEvent e = it->second;
    owner_.presses_.erase(it);
    return e;
  }

  void Refresh() override { ++owner_.record_.turns; }
  void Wait(unsigned milliseconds) override { owner_.record_.waits.push_back(milliseconds); }

 private:
  ScriptedDialogs& owner_;
};

std::unique_ptr<ProgressView> ScriptedDialogs::OpenProgress() {
  if (fail_next_open_) {
    fail_next_open_ = false;
    return nullptr;
  }
  return std::make_unique<ScriptedProgressView>(*this);
}

namespace {
bool SameHex(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
  });
}

template <typename T>
bool Take(std::deque<T>& queue, T& out) {
  if (queue.empty()) return false;
  out = std::move(queue.front());
  queue.pop_front();
  return true;
}
}  // namespace

int ScriptedDialogs::AskOverwrite(const OverwriteQuestion& question) {
  int answer;
  if (!Take(overwrite_answers_, answer)) return kNoDialog;
  record_.overwrite_questions.push_back(question);
  return answer;
}

int ScriptedDialogs::AskPassword(Language, SecretText& typed) {
  std::pair<int, std::string> answer;
  if (!Take(password_answers_, answer)) return kNoDialog;
  ++record_.password_prompts;
  if (answer.first == kOk) typed.Append(answer.second);
  return answer.first;
}

int ScriptedDialogs::ShowNotice(const Notice& notice) {
  int answer;
  if (!Take(notice_answers_, answer)) return kNoDialog;
  record_.notices.push_back(notice);
  return answer;
}

int ScriptedDialogs::PickCertificates(const CertificatePick& pick, std::vector<size_t>& chosen) {
  chosen.clear();
  std::pair<int, std::vector<std::string>> answer;
  if (!Take(pick_answers_, answer)) return kNoDialog;
  record_.picks.push_back(pick);
  for (const std::string& wanted : answer.second)
    for (size_t i = 0; i < pick.rows.size(); ++i)
      if (SameHex(pick.rows[i].fingerprint, wanted)) {
        chosen.push_back(i);
        if (!pick.several) return answer.first;  // a single choice takes the first match
      }
  return answer.first;
}

}  // namespace tx::ui
