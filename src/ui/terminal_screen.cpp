#include "ui/terminal_screen.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"

#include "ui/display_text.h"

namespace tx::ui {

size_t TerminalScreen::Columns() const { return std::max(terminal_.Columns(), 20u) - 1; }

void TerminalScreen::Draw(const std::vector<std::string>& lines) {
  size_t total = 64;
  for (const std::string& line : lines) total += line.size() + 2;
  std::string out;
  out.reserve(total);  // one buffer: what it held is wiped below, so it must not move
  out = "\x1b[?25l";  // no cursor flicker while drawing
  if (drawn_lines_ > 0) out += "\x1b[" + std::to_string(drawn_lines_) + "A";
  out += "\r\x1b[J";
  for (const std::string& line : lines) {
    std::string fitted = ShortenPath(line, Columns());
    out += fitted;
    out += "\r\n";
    platform::WipeMemory(fitted.data(), fitted.size());
  }
  out += "\x1b[?25h";
  terminal_.Write(out);
  platform::WipeMemory(out.data(), out.size());
  drawn_lines_ = static_cast<int>(lines.size());
}

void TerminalScreen::Erase() {
  if (drawn_lines_ > 0) terminal_.Write("\x1b[" + std::to_string(drawn_lines_) + "A\r\x1b[J");
  drawn_lines_ = 0;
}

KeyPress::~KeyPress() { platform::WipeMemory(text, sizeof text); }

TerminalScreen::~TerminalScreen() { platform::WipeMemory(pending_, sizeof pending_); }

void TerminalScreen::NextKey(bool wait, KeyPress& press) {
  press.key = Key::None;
  press.size = 0;
  for (;;) {
    if (pending_size_ == 0) {
      pending_size_ = terminal_.Read(pending_, sizeof pending_, wait ? -1 : 0);
      if (pending_size_ == 0) {
        if (wait) press.key = Key::Hangup;
        return;
      }
    }
    auto c = static_cast<unsigned char>(pending_[0]);
    size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (c == 0x1b && pending_size_ > 1 && (pending_[1] == '[' || pending_[1] == 'O')) {
      // A cursor or function key: the whole sequence is dropped.
      length = 2;
      while (length < pending_size_ && !(pending_[length] >= 0x40 && pending_[length] <= 0x7E)) ++length;
      Take(std::min(length + 1, pending_size_));
      continue;
    }
    length = std::min(length, pending_size_);
    switch (c) {
      case '\r':
      case '\n': press.key = Key::Enter; break;
      case 0x1b: press.key = Key::Escape; break;
      case '\t': press.key = Key::Tab; break;
      case 0x7f:
      case 0x08: press.key = Key::Backspace; break;
      case 0x15: press.key = Key::ClearLine; break;
      default: press.key = c < 0x20 ? Key::None : Key::Char; break;
    }
    if (press.key == Key::Char) {
      std::memcpy(press.text, pending_, length);
      press.size = length;
    }
    Take(length);
    return;
  }
}

void TerminalScreen::Take(size_t n) {
  std::memmove(pending_, pending_ + n, pending_size_ - n);
  pending_size_ -= n;
  platform::WipeMemory(pending_ + pending_size_, sizeof pending_ - pending_size_);
}

}  // namespace tx::ui
