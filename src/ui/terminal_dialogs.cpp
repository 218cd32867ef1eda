#include "ui/terminal_dialogs.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/system.h"
#include "ui/display_text.h"

namespace tx::ui {

class TerminalProgressView : public ProgressView {
 public:
  explicit TerminalProgressView(TerminalDialogs& owner) : owner_(owner) {}
  ~TerminalProgressView() override {
    owner_.screen_.Erase();
    owner_.Release();
  }

  void SetText(ProgressField field, std::string_view text) override {
    std::string& slot = texts_[static_cast<size_t>(field)];
    if (slot != text) {
      slot.assign(text);
      dirty_ = true;
    }
  }

  ProgressEvent NextEvent() override {
    for (;;) {
      KeyPress press;
      owner_.screen_.NextKey(false, press);
      if (press.key == Key::None) return ProgressEvent::None;
      if (press.key == Key::Escape) return ProgressEvent::Cancel;
      if (press.key != Key::Char || press.size != 1) continue;
      if (press.text[0] == 'p' || press.text[0] == 'P') return ProgressEvent::Pause;
      if (press.text[0] == 'c' || press.text[0] == 'C') return ProgressEvent::Cancel;
    }
  }

  void Refresh() override {
    if (owner_.progress_hidden_) {  // a prompt drew over the block
      owner_.progress_hidden_ = false;
      dirty_ = true;
    }
    if (dirty_) Draw();
    dirty_ = false;
  }

  void Wait(unsigned milliseconds) override { platform::SleepMilliseconds(milliseconds); }

 private:
  const std::string& Text(ProgressField f) const { return texts_[static_cast<size_t>(f)]; }

  void Draw() {
    const ProgressField rows[3][2] = {{ProgressField::ArchiveLabel, ProgressField::Archive},
                                      {ProgressField::BaseLabel, ProgressField::Base},
                                      {ProgressField::WorkingLabel, ProgressField::Working}};
    size_t label_width = 0;
    for (const auto& row : rows) label_width = std::max(label_width, DisplayWidth(Text(row[0])));
    std::vector<std::string> lines = {Text(ProgressField::Caption), Text(ProgressField::Status)};
    for (const auto& row : rows) {
      const std::string& label = Text(row[0]);
      const std::string& value = Text(row[1]);
      if (label.empty() && value.empty()) continue;
      std::string head = "  " + label + std::string(label_width - DisplayWidth(label), ' ') + "  ";
      size_t columns = owner_.screen_.Columns();
      size_t room = columns > DisplayWidth(head) ? columns - DisplayWidth(head) : 0;
      lines.push_back(head + ShortenPath(value, room));
    }
    lines.push_back("  [p] " + Text(ProgressField::PauseButton) + "   [c] " + Text(ProgressField::CancelButton));
    owner_.screen_.Draw(lines);
  }

  TerminalDialogs& owner_;
  std::array<std::string, 10> texts_;
  bool dirty_ = true;
};

bool TerminalDialogs::Acquire() {
  if (users_ == 0 && !terminal_.Open(device_.c_str())) return false;
  ++users_;
  return true;
}

void TerminalDialogs::Release() {
  if (--users_ == 0) terminal_.Close();
}

std::unique_ptr<ProgressView> TerminalDialogs::OpenProgress() {
  if (!Acquire()) return nullptr;
  return std::make_unique<TerminalProgressView>(*this);
}

template <typename Draw, typename Answer>
int TerminalDialogs::Prompt(Draw draw, Answer answer, int on_hangup) {
  if (!Acquire()) return kNoDialog;
  screen_.Erase();  // the progress block, if one is shown, comes back at its next refresh
  progress_hidden_ = true;
  int result = 0;
  while (result == 0) {
    std::vector<std::string> lines = draw();
    screen_.Draw(lines);
    for (std::string& line : lines) platform::WipeMemory(line.data(), line.size());
    KeyPress press;
    screen_.NextKey(true, press);
    result = press.key == Key::Hangup ? on_hangup : answer(press);
  }
  screen_.Erase();
  Release();
  return result;
}

namespace {

std::string Button(char key, Label label, Language language) {
  return std::string("[") + key + "] " + LabelText(label, language);
}

bool IsKey(const KeyPress& press, char key) {
  return press.key == Key::Char && press.size == 1 && (press.text[0] | 0x20) == key;
}

std::vector<std::string> MessageLines(const std::string& message) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = message.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back("  " + message.substr(start, nl - start));
  lines.push_back("  " + message.substr(start));
  return lines;
}

}  // namespace

int TerminalDialogs::AskOverwrite(const OverwriteQuestion& q) {
  Language l = q.language;
  std::string existing = LabelText(Label::ExistingDate, l);
  std::string incoming = LabelText(Label::IncomingDate, l);
  size_t width = std::max(DisplayWidth(existing), DisplayWidth(incoming));
  auto draw = [&] {
    return std::vector<std::string>{
        LabelText(Label::OverwriteTitle, l),
        LabelText(Label::OverwriteQuestion, l),
        "  " + ShortenPath(q.path, screen_.Columns() - 2),
        "  " + existing + std::string(width - DisplayWidth(existing), ' ') + "  " + q.existing_time,
        "  " + incoming + std::string(width - DisplayWidth(incoming), ' ') + "  " + q.incoming_time,
        "  " + Button('o', Label::Overwrite, l) + "  " + Button('a', Label::OverwriteAll, l) + "  " +
            Button('s', Label::Skip, l) + "  " + Button('c', Label::Cancel, l)};
  };
  auto answer = [](const KeyPress& press) {
    if (IsKey(press, 'o')) return kOverwrite;
    if (IsKey(press, 'a')) return kOverwriteAll;
    if (IsKey(press, 's') || press.key == Key::Escape) return kSkip;
    if (IsKey(press, 'c')) return kCancelOverwrite;
    return 0;
  };
  return Prompt(draw, answer, kSkip);
}

int TerminalDialogs::AskPassword(Language l, SecretText& typed) {
  typed.Wipe();
  bool show = false;
  auto draw = [&] {
    std::vector<std::string> lines = {LabelText(Label::PasswordTitle, l), LabelText(Label::EnterPassword, l)};
    // The shown field is built in place and wiped once it is on the terminal.
    std::string field = "  > ";
    if (show) {
      field.append(typed.data(), typed.size());
    } else {
      field.append(typed.characters(), '*');
    }
    lines.push_back(std::move(field));
    lines.push_back(std::string("  [Tab] ") + (show ? "[x] " : "[ ] ") + LabelText(Label::ShowPassword, l));
    lines.push_back("  [Enter] " + std::string(LabelText(Label::Ok, l)) + "  [Esc] " + LabelText(Label::Cancel, l));
    return lines;
  };
  auto answer = [&](const KeyPress& press) {
    switch (press.key) {
      case Key::Enter: return kOk;
      case Key::Escape: return kCancel;
      case Key::Tab: show = !show; break;
      case Key::Backspace: typed.RemoveLast(); break;
      case Key::ClearLine: typed.Wipe(); break;
      case Key::Char: typed.Append(std::string_view(press.text, press.size)); break;
      default: break;
    }
    return 0;
  };
  int result = Prompt(draw, answer, kCancel);
  if (result != kOk) typed.Wipe();
  return result;
}

int TerminalDialogs::ShowNotice(const Notice& n) {
  Language l = n.language;
  auto draw = [&] {
    std::vector<std::string> lines = {LabelText(Label::NoticeTitle, l), LabelText(Label::ErrorDetected, l),
                                      "  " + ShortenPath(n.path, screen_.Columns() - 2)};
    if (!n.message.empty())
      for (std::string& line : MessageLines(n.message)) lines.push_back(std::move(line));
    lines.push_back("  [Enter] " + std::string(LabelText(Label::Ok, l)) + "  [Esc] " + LabelText(Label::Cancel, l));
    return lines;
  };
  auto answer = [](const KeyPress& press) {
    if (press.key == Key::Enter || IsKey(press, 'o')) return kOk;
    if (press.key == Key::Escape || IsKey(press, 'c')) return kCancel;
    return 0;
  };
  return Prompt(draw, answer, kCancel);
}

namespace {

// The numbers typed into the picker as row indexes; false when one names no row, or when
// several are given where one is asked for.
bool ParseChoice(const std::string& typed, size_t rows, bool several, std::vector<size_t>& chosen) {
  chosen.clear();
  size_t value = 0;
  bool in_number = false;
  for (size_t i = 0; i <= typed.size(); ++i) {
    char c = i < typed.size() ? typed[i] : ' ';
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<size_t>(c - '0');
      if (value > rows) return false;
      in_number = true;
      continue;
    }
    if (!in_number) continue;
    if (value == 0) return false;
    if (std::find(chosen.begin(), chosen.end(), value - 1) == chosen.end()) chosen.push_back(value - 1);
    value = 0;
    in_number = false;
  }
  return several || chosen.size() <= 1;
}

}  // namespace

int TerminalDialogs::PickCertificates(const CertificatePick& pick, std::vector<size_t>& chosen) {
  chosen.clear();
  Language l = pick.language;
  std::string typed;
  bool wrong = false;
  auto draw = [&] {
    std::vector<std::string> lines = MessageLines(pick.prompt);
    if (pick.rows.empty()) lines.push_back(std::string("  ") + LabelText(Label::NoCertificates, l));
    for (size_t i = 0; i < pick.rows.size(); ++i) {
      const CertificateRow& row = pick.rows[i];
      std::string number = std::to_string(i + 1);
      std::string line = "  ";
      line.append(number.size() < 3 ? 3 - number.size() : 0, ' ')
          .append(number)
          .append("  ")
          .append(row.subject);
      lines.push_back(std::move(line));
      line = "       ";
      line.append(LabelText(Label::Issuer, l)).append(": ").append(row.issuer);
      lines.push_back(std::move(line));
      line = "       ";
      line.append(LabelText(Label::Serial, l)).append(": ").append(row.serial).append("  ");
      line.append(LabelText(Label::Expires, l)).append(": ").append(row.expiry).append("  ");
      line.append(LabelText(Label::Fingerprint, l)).append(": ").append(row.fingerprint);
      lines.push_back(std::move(line));
    }
    if (wrong) lines.push_back(std::string("  ") + LabelText(Label::NoSuchNumber, l));
    std::string field = "  ";
    field.append(LabelText(pick.several ? Label::ChooseSeveral : Label::ChooseOne, l))
        .append(": ")
        .append(typed);
    lines.push_back(std::move(field));
    lines.push_back("  [Enter] " + std::string(LabelText(Label::Ok, l)) + "  [Esc] " +
                    LabelText(Label::Cancel, l));
    return lines;
  };
  auto answer = [&](const KeyPress& press) {
    switch (press.key) {
      case Key::Enter:
        if (ParseChoice(typed, pick.rows.size(), pick.several, chosen)) return kOk;
        wrong = true;
        break;
      case Key::Escape: return kCancel;
      case Key::Backspace:
        if (!typed.empty()) typed.pop_back();
        break;
      case Key::ClearLine: typed.clear(); break;
      case Key::Char:
        if (press.size == 1 && ((press.text[0] >= '0' && press.text[0] <= '9') || press.text[0] == ' ' ||
                                press.text[0] == ',')) {
          typed.push_back(press.text[0]);
          wrong = false;
        }
        break;
      default: break;
    }
    return 0;
  };
  int result = Prompt(draw, answer, kCancel);
  if (result != kOk) chosen.clear();
  return result;
}

}  // namespace tx::ui
