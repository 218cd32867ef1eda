#include "ui/terminal_dialogs.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/system.h"
#include "platform/tty.h"
#include "ui/display_text.h"

namespace tx::ui {

namespace {

constexpr char kEscape = '\x1b';

class TerminalProgressView : public ProgressView {
 public:
  bool Open(const std::string& device) { return terminal_.Open(device.c_str()); }

  ~TerminalProgressView() override {
    Erase();
    terminal_.Write("\x1b[?25h");  // cursor back on
  }

  void SetText(ProgressField field, std::string_view text) override {
    std::string& slot = texts_[static_cast<size_t>(field)];
    if (slot != text) {
      slot.assign(text);
      dirty_ = true;
    }
  }

  ProgressEvent NextEvent() override {
    while (pending_.empty()) {
      char buffer[64];
      size_t n = terminal_.Read(buffer, sizeof buffer, 0);
      if (n == 0) return ProgressEvent::None;
      pending_.append(buffer, n);
    }
    for (;;) {
      if (pending_.empty()) return ProgressEvent::None;
      char c = pending_.front();
      if (c == kEscape && pending_.size() > 1 && (pending_[1] == '[' || pending_[1] == 'O')) {
        // A cursor or function key: drop the whole sequence.
        size_t end = 2;
        while (end < pending_.size() && !(pending_[end] >= 0x40 && pending_[end] <= 0x7E)) ++end;
        pending_.erase(0, std::min(end + 1, pending_.size()));
        continue;
      }
      pending_.erase(0, 1);
      if (c == 'p' || c == 'P') return ProgressEvent::Pause;
      if (c == 'c' || c == 'C' || c == kEscape) return ProgressEvent::Cancel;
    }
  }

  void Refresh() override {
    if (dirty_) Draw();
    dirty_ = false;
  }

  void Wait(unsigned milliseconds) override { platform::SleepMilliseconds(milliseconds); }

 private:
  const std::string& Text(ProgressField f) const { return texts_[static_cast<size_t>(f)]; }

  void Erase() {
    if (drawn_lines_ > 0) terminal_.Write("\x1b[" + std::to_string(drawn_lines_) + "A\r\x1b[J");
    drawn_lines_ = 0;
  }

  void Draw() {
    size_t columns = std::max(terminal_.Columns(), 20u) - 1;  // never touch the last column
    const ProgressField rows[3][2] = {{ProgressField::ArchiveLabel, ProgressField::Archive},
                                      {ProgressField::BaseLabel, ProgressField::Base},
                                      {ProgressField::WorkingLabel, ProgressField::Working}};
    size_t label_width = 0;
    for (const auto& row : rows) label_width = std::max(label_width, DisplayWidth(Text(row[0])));
    std::string out = "\x1b[?25l";  // no cursor flicker while drawing
    if (drawn_lines_ > 0) out += "\x1b[" + std::to_string(drawn_lines_) + "A";
    out += "\r\x1b[J";
    int lines = 0;
    auto line = [&](const std::string& text) {
      out += ShortenPath(text, columns);
      out += "\r\n";
      ++lines;
    };
    line(Text(ProgressField::Caption));
    line(Text(ProgressField::Status));
    for (const auto& row : rows) {
      const std::string& label = Text(row[0]);
      const std::string& value = Text(row[1]);
      if (label.empty() && value.empty()) continue;
      std::string head = "  " + label + std::string(label_width - DisplayWidth(label), ' ') + "  ";
      size_t room = columns > DisplayWidth(head) ? columns - DisplayWidth(head) : 0;
      line(head + ShortenPath(value, room));
    }
    line("  [p] " + Text(ProgressField::PauseButton) + "   [c] " + Text(ProgressField::CancelButton));
    terminal_.Write(out);
    drawn_lines_ = lines;
  }

  platform::Terminal terminal_;
  std::array<std::string, 10> texts_;
  std::string pending_;
  bool dirty_ = true;
  int drawn_lines_ = 0;
};

}  // namespace

std::unique_ptr<ProgressView> TerminalDialogs::OpenProgress() {
  auto view = std::make_unique<TerminalProgressView>();
  if (!view->Open(device_)) return nullptr;
  return view;
}

}  // namespace tx::ui
