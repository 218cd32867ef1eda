// Drawing blocks of lines in place on a terminal and reading its keys.
#pragma once

#include <string>
#include <vector>

#include "platform/tty.h"

namespace tx::ui {

enum class Key { None, Char, Enter, Escape, Tab, Backspace, ClearLine, Hangup };

struct KeyPress {
  Key key = Key::None;
  char text[5] = {};  // the character for Key::Char (one UTF-8 character), may be secret
  size_t size = 0;
  ~KeyPress();
};

class TerminalScreen {
 public:
  explicit TerminalScreen(platform::Terminal& terminal) : terminal_(terminal) {}
  ~TerminalScreen();
  TerminalScreen(const TerminalScreen&) = delete;
  TerminalScreen& operator=(const TerminalScreen&) = delete;

  // Replaces the block drawn last by these lines, each cut to the terminal's width.
  void Draw(const std::vector<std::string>& lines);
  void Erase();
  size_t Columns() const;

  // The next key; waits when `wait` is set, else returns Key::None when nothing waits.
  void NextKey(bool wait, KeyPress& press);

 private:
  void Take(size_t n);

  platform::Terminal& terminal_;
  // Typed bytes not yet taken; they may belong to a password, so the array is wiped.
  char pending_[64] = {};
  size_t pending_size_ = 0;
  int drawn_lines_ = 0;
};

}  // namespace tx::ui
