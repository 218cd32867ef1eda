#include "ui/scripted_dialogs.h"

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

}  // namespace tx::ui
