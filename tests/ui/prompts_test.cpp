// The overwrite, password and error prompts: their logic on the scripted backend, and the
// terminal backend driven through a pseudo-terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "pty.h"
#include "ui/dialogs.h"
#include "ui/prompts.h"
#include "ui/scripted_dialogs.h"
#include "ui/terminal_dialogs.h"

namespace {

using tx::ui::Language;

class Prompts : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "C", 1);
    ::setenv("TZ", "UTC", 1);
    previous_ = tx::ui::InstallDialogs(&scripted_);
    dir_ = std::filesystem::temp_directory_path() / ("tx-prompts-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "exists") << "x";
  }
  void TearDown() override {
    tx::ui::InstallDialogs(previous_);
    std::filesystem::remove_all(dir_);
    ::unsetenv("LC_ALL");
  }
  std::u16string Wide(const std::string& name) {
    std::string s = (dir_ / name).string();
    return std::u16string(s.begin(), s.end());
  }

  tx::ui::ScriptedDialogs scripted_;
  tx::ui::Dialogs* previous_ = nullptr;
  std::filesystem::path dir_;
};

TEST_F(Prompts, OverwriteAsksOnlyForWhatExists) {
  scripted_.AnswerOverwrite(tx::ui::kOverwriteAll);
  EXPECT_EQ(tx::ui::OverwritePrompt(Wide("missing").c_str(), 0), 0);
  EXPECT_TRUE(scripted_.record().overwrite_questions.empty());
  // 2024-07-01 12:34:56 UTC
  EXPECT_EQ(tx::ui::OverwritePrompt(Wide("exists").c_str(), 133643108960000000ull), tx::ui::kOverwriteAll);
  ASSERT_EQ(scripted_.record().overwrite_questions.size(), 1u);
  const auto& q = scripted_.record().overwrite_questions[0];
  EXPECT_EQ(q.incoming_time, "2024-07-01 12:34:56");
  EXPECT_EQ(q.existing_time.size(), 19u);
  EXPECT_EQ(q.path, (dir_ / "exists").string());
  EXPECT_EQ(tx::ui::OverwritePrompt(Wide("exists").c_str(), 0), tx::ui::kCancelOverwrite)
      << "a question that cannot be shown is a Cancel";
}

TEST_F(Prompts, PasswordIsCutToWholeCharactersAndTheSharedTextWiped) {
  char buffer[251];
  std::memset(buffer, '#', sizeof buffer);
  scripted_.CancelPassword();
  EXPECT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kCancel);
  EXPECT_EQ(buffer[0], '#') << "a cancel leaves the buffer alone";

  scripted_.AnswerPassword(std::string(300, 'p'));
  EXPECT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kOk);
  EXPECT_EQ(std::string(buffer), std::string(250, 'p'));

  // 83 three-byte characters are 249 bytes; the 84th would straddle byte 250.
  std::string kana;
  for (int i = 0; i < 90; ++i) kana += "\xE3\x81\x82";
  scripted_.AnswerPassword(kana);
  EXPECT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kOk);
  EXPECT_EQ(std::string(buffer), kana.substr(0, 249));

  EXPECT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kNoDialog);
}

TEST_F(Prompts, NoticeShowsTheMessageForTheClass) {
  scripted_.AnswerNotice(tx::ui::kOk);
  scripted_.AnswerNotice(tx::ui::kCancel);
  EXPECT_EQ(tx::ui::ErrorNotice(u"a\\b.txt", 0x00420123), tx::ui::kOk);
  EXPECT_EQ(tx::ui::ErrorNotice(u"c", 0x00610000), tx::ui::kCancel);
  ASSERT_EQ(scripted_.record().notices.size(), 2u);
  EXPECT_EQ(scripted_.record().notices[0].path, "a/b.txt");
  EXPECT_EQ(scripted_.record().notices[0].message,
            "Message authentication code is wrong.\nThis archive may be corrupted, or entered password might be wrong.");
  EXPECT_EQ(scripted_.record().notices[1].message,
            "Checksum is wrong.\nThis archive may be corrupted, or entered password might be wrong.");
  EXPECT_STREQ(tx::ui::NoticeMessage(0x01020000), "");
}

class TerminalPrompts : public Prompts {
 protected:
  void SetUp() override {
    Prompts::SetUp();
    terminal_ = std::make_unique<tx::ui::TerminalDialogs>(pty_.name());
    tx::ui::InstallDialogs(terminal_.get());
  }
  tx::test::Pty pty_;
  std::unique_ptr<tx::ui::TerminalDialogs> terminal_;
};

TEST_F(TerminalPrompts, EachOverwriteButtonHasAKey) {
  const std::pair<const char*, int> keys[] = {{"o", tx::ui::kOverwrite}, {"a", tx::ui::kOverwriteAll},
                                              {"s", tx::ui::kSkip},      {"\x1b", tx::ui::kSkip},
                                              {"xC", tx::ui::kCancelOverwrite}};
  for (const auto& [key, button] : keys) {
    pty_.TypeWhenRaw(key);
    EXPECT_EQ(tx::ui::OverwritePrompt(Wide("exists").c_str(), 133643108960000000ull), button) << key;
    pty_.Join();
  }
  std::string drawn = pty_.Drawn();
  EXPECT_NE(drawn.find("Confirm overwrite"), std::string::npos);
  EXPECT_NE(drawn.find("Will you overwrite it to unpack this ?"), std::string::npos);
  EXPECT_NE(drawn.find("Date of the unpacking file  2024-07-01 12:34:56"), std::string::npos);
  EXPECT_NE(drawn.find("[o] Overwrite  [a] Overwrite all  [s] Skip  [c] Cancel"), std::string::npos);
  EXPECT_FALSE(pty_.Raw()) << "the terminal is given back";
}

TEST_F(TerminalPrompts, PasswordIsMaskedEditableAndCanBeShown) {
  char buffer[251];
  pty_.TypeWhenRaw("sex\x7f" "cr\xC3\xA9t\t\r");
  ASSERT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kOk);
  EXPECT_STREQ(buffer, "secr\xC3\xA9t");
  pty_.Join();
  std::string drawn = pty_.Drawn();
  EXPECT_NE(drawn.find("Enter password"), std::string::npos);
  EXPECT_NE(drawn.find("> ******"), std::string::npos) << "one star per character";
  EXPECT_EQ(drawn.find("> *******"), std::string::npos);
  EXPECT_NE(drawn.find("[x] Show password"), std::string::npos);
  EXPECT_NE(drawn.find("> secr\xC3\xA9t"), std::string::npos) << "shown after the toggle";
  EXPECT_EQ(drawn.find("> sec\r"), std::string::npos);

  std::memset(buffer, '#', sizeof buffer);
  pty_.TypeWhenRaw("abc\x1b");
  EXPECT_EQ(tx::ui::PasswordPrompt(buffer), tx::ui::kCancel);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(TerminalPrompts, NoticeOkAndCancel) {
  pty_.TypeWhenRaw("\r");
  EXPECT_EQ(tx::ui::ErrorNotice(u"dir/file.bin", 0x00310000), tx::ui::kOk);
  pty_.Join();
  pty_.TypeWhenRaw("\x1b");
  EXPECT_EQ(tx::ui::ErrorNotice(u"dir/file.bin", 0x00310000), tx::ui::kCancel);
  pty_.Join();
  std::string drawn = pty_.Drawn();
  std::erase(drawn, '\r');
  EXPECT_NE(drawn.find("Error check\nAn error was detected.\n  dir/file.bin\n"
                       "  Compression or decompression is failed.\n"
                       "  This archive may be corrupted, or entered password might be wrong.\n"
                       "  [Enter] OK  [Esc] Cancel\n"),
            std::string::npos);
}

TEST_F(TerminalPrompts, InterruptDuringAPromptRestoresTheTerminal) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The pseudo-terminal becomes this process's controlling terminal, so Ctrl-C reaches it.
    ::setsid();
    ::ioctl(pty_.slave(), TIOCSCTTY, 0);
    char buffer[251];
    tx::ui::PasswordPrompt(buffer);
    ::_exit(0);
  }
  for (int i = 0; i < 2000 && !pty_.Raw(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(pty_.Raw());
  pty_.Type("se\x03");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_FALSE(pty_.Raw()) << "echo and line editing are back";
}

}  // namespace
