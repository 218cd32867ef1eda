// The progress window drawn on a real pseudo-terminal, driven by keys typed into it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "pty.h"
#include "ui/dialogs.h"
#include "ui/progress.h"
#include "ui/terminal_dialogs.h"

namespace {

using Clock = std::chrono::steady_clock;

class TerminalProgress : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "C", 1);
    dialogs_ = std::make_unique<tx::ui::TerminalDialogs>(pty_.name());
    previous_ = tx::ui::InstallDialogs(dialogs_.get());
  }
  void TearDown() override {
    tx::ui::ProgressClose();
    tx::ui::InstallDialogs(previous_);
    ::unsetenv("LC_ALL");
  }
  std::string Drawn() { return pty_.Drawn(); }
  void Type(const char* keys) { pty_.Type(keys); }
  bool Echo() { return !pty_.Raw(); }

  tx::test::Pty pty_{60};
  std::unique_ptr<tx::ui::TerminalDialogs> dialogs_;
  tx::ui::Dialogs* previous_ = nullptr;
};

TEST_F(TerminalProgress, DrawsTheBlockAndRestoresTheTerminal) {
  ASSERT_TRUE(Echo());
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, u"", u"", u"/data/a/rather/long/path/to/some/deeply/nested/file.bin"), 0);
  EXPECT_FALSE(Echo()) << "keys are not echoed while the window is open";
  std::string first = Drawn();
  EXPECT_NE(first.find("Progress    0%"), std::string::npos);
  EXPECT_NE(first.find("Reading..."), std::string::npos);
  EXPECT_NE(first.find("/data/a/rather/long/path/to/som.../file.bin"), std::string::npos) << first;
  EXPECT_NE(first.find("[p] Pause   [c] Cancel"), std::string::npos);
  ASSERT_EQ(tx::ui::ProgressUpdate(42), 0);
  std::string second = Drawn();
  EXPECT_NE(second.find("\x1b[4A"), std::string::npos) << "redrawn in place over its own lines";
  EXPECT_NE(second.find("Progress   42%"), std::string::npos);
  ASSERT_EQ(tx::ui::ProgressUpdate(42), 0);
  EXPECT_EQ(Drawn().find("Progress"), std::string::npos) << "nothing redrawn when nothing changed";
  tx::ui::ProgressClose();
  EXPECT_TRUE(Echo());
}

TEST_F(TerminalProgress, PauseResumeAndCancelKeys) {
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, u"f"), 0);
  Type("p");
  std::thread resume([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Type("P");
  });
  auto start = Clock::now();
  EXPECT_EQ(tx::ui::ProgressUpdate(10), 0);
  auto held = Clock::now() - start;
  resume.join();
  EXPECT_GE(held, std::chrono::milliseconds(500));
  EXPECT_LT(held, std::chrono::milliseconds(1500));
  std::string drawn = Drawn();
  EXPECT_NE(drawn.find("[p] Resume"), std::string::npos);
  EXPECT_NE(drawn.rfind("[p] Pause"), std::string::npos);

  Type("\x1b[A");  // an arrow key is not Escape
  EXPECT_EQ(tx::ui::ProgressUpdate(11), 0);
  Type("c");
  EXPECT_EQ(tx::ui::ProgressUpdate(12), 1);
  tx::ui::ProgressClose();

  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, u"f"), 0);
  Type("\x1b");
  EXPECT_EQ(tx::ui::ProgressUpdate(1), 1) << "Escape cancels";
  tx::ui::ProgressClose();

  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, u"f"), 0);
  Type("p");
  std::thread cancel([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Type("c");
  });
  EXPECT_EQ(tx::ui::ProgressUpdate(1), 1) << "cancel while paused";
  cancel.join();
}

TEST(TerminalProgressWithoutTerminal, FailsToOpen) {
  tx::ui::TerminalDialogs no_terminal("/dev/null");
  tx::ui::Dialogs* previous = tx::ui::InstallDialogs(&no_terminal);
  EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), tx::ui::kProgressNoWindow);
  tx::ui::InstallDialogs(previous);
}

}  // namespace
