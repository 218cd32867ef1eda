// The progress window's fields and pump, on the scripted backend.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/progress.h"
#include "ui/scripted_dialogs.h"
#include "ui/texts.h"

namespace {

using tx::ui::ProgressEvent;
using tx::ui::ProgressField;

class Progress : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("LC_ALL", "C", 1);
    previous_ = tx::ui::InstallDialogs(&dialogs_);
  }
  void TearDown() override {
    tx::ui::ProgressClose();
    tx::ui::InstallDialogs(previous_);
    ::unsetenv("LC_ALL");
  }
  const std::string& Shown(ProgressField f) { return dialogs_.record().shown.at(f); }

  tx::ui::ScriptedDialogs dialogs_;
  tx::ui::Dialogs* previous_ = nullptr;
};

TEST_F(Progress, StatusLineForEachTotalAndText) {
  EXPECT_EQ(tx::ui::ProgressOpen(7, 0, 3003, u"arc.pea", u"/base/", u"dir\\file"), 0);
  EXPECT_EQ(Shown(ProgressField::Status), "Unpacking...  7");
  EXPECT_EQ(Shown(ProgressField::Archive), "arc.pea");
  EXPECT_EQ(Shown(ProgressField::Working), "dir/file");
  EXPECT_EQ(Shown(ProgressField::Caption), "Progress    0%");
  EXPECT_EQ(Shown(ProgressField::PauseButton), "Pause");

  EXPECT_EQ(tx::ui::ProgressOpen(2, 5, 3005, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Shown(ProgressField::Status), "Writing...  2 / 5");
  EXPECT_EQ(Shown(ProgressField::Archive), "arc.pea") << "a null text keeps its field";
  EXPECT_EQ(Shown(ProgressField::ArchiveLabel), "Archive file");
  EXPECT_EQ(Shown(ProgressField::BaseLabel), "Base directory");

  EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3005, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Shown(ProgressField::Status), "Writing...");
  EXPECT_EQ(Shown(ProgressField::ArchiveLabel), "Archive file");
  EXPECT_EQ(Shown(ProgressField::BaseLabel), "");

  EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3012, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Shown(ProgressField::ArchiveLabel), "Archive file of destination");
  EXPECT_EQ(Shown(ProgressField::BaseLabel), "Archive file of source");

  EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Shown(ProgressField::Status), "Adding...") << "text number 0 keeps the line";
  EXPECT_EQ(dialogs_.record().opened, 1u) << "one window for the whole call";
}

TEST_F(Progress, CaptionChangesOnlyWithThePercent) {
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0);
  for (uint32_t p : {0u, 42u, 42u, 101u, 100u, 100u}) EXPECT_EQ(tx::ui::ProgressUpdate(p), 0);
  EXPECT_EQ(dialogs_.record().captions,
            (std::vector<std::string>{"Progress    0%", "Progress   42%", "Progress  100%"}));
  EXPECT_EQ(dialogs_.record().turns, 7u) << "the pump runs on every call, shown or not";
}

TEST_F(Progress, CancelAndWindowlessResults) {
  EXPECT_EQ(tx::ui::ProgressUpdate(5), tx::ui::kProgressNoWindow);
  dialogs_.FailNextOpen();
  EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), tx::ui::kProgressNoWindow);
  EXPECT_FALSE(tx::ui::ProgressIsOpen());

  dialogs_.PressAt(2, ProgressEvent::Pause);
  dialogs_.PressAt(2, ProgressEvent::Cancel);
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(tx::ui::ProgressUpdate(10), tx::ui::kProgressCancel);
  EXPECT_TRUE(dialogs_.record().waits.empty()) << "cancel wins over a pause in the same turn";
  EXPECT_EQ(tx::ui::ProgressUpdate(10), tx::ui::kProgressCancel) << "the request stays until closed";
  tx::ui::ProgressClose();
  EXPECT_EQ(dialogs_.record().closed, 1u);
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0) << "a new window starts clean";
}

TEST_F(Progress, JapaneseTexts) {
  ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
  ASSERT_EQ(tx::ui::ProgressOpen(3, 4, 3002, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Shown(ProgressField::Caption), "進行状況    0%");
  EXPECT_EQ(Shown(ProgressField::Status), "格納中・・・  3 / 4");
  EXPECT_EQ(Shown(ProgressField::WorkingLabel), "処理中のファイル");
  dialogs_.PressAt(dialogs_.record().turns + 1, ProgressEvent::Pause);
  dialogs_.PressAt(dialogs_.record().turns + 2, ProgressEvent::Cancel);
  EXPECT_EQ(tx::ui::ProgressUpdate(1), tx::ui::kProgressCancel);
  EXPECT_EQ(Shown(ProgressField::PauseButton), "続行");
}

TEST(DisplayText, HostileAndLongPaths) {
  // Controls (C0, DEL, C1) are escaped alike in dialogs and listings; text around them,
  // backslashes and other non-ASCII characters stay.
  EXPECT_EQ(tx::ui::DisplayText(u"a\x1b[2Jb\r\n\x7f\x85\x9f\xa0\\z"),
            "a\\x1B[2Jb\\x0D\\x0A\\x7F\\x85\\x9F\xC2\xA0\\z");
  EXPECT_EQ(tx::ui::DisplayPath(u"d\\\x1b]0;t\x07"), "d/\\x1B]0;t\\x07");
  EXPECT_EQ(tx::ui::EscapeControls("a\x1b[2J\r\n\x7f\xC2\x85\xC2\x9F\xC2\xA0\xC4\x81\xE2\x80\x8Bz"),
            "a\\x1B[2J\\x0D\\x0A\\x7F\\x85\\x9F\xC2\xA0\xC4\x81\xE2\x80\x8Bz");
  EXPECT_EQ(tx::ui::DisplayText(u"x\xD800y"), "x\xEF\xBF\xBDy");
  EXPECT_EQ(tx::ui::DisplayPath(u"a\\b\\c"), "a/b/c");
  EXPECT_EQ(tx::ui::ShortenPath("/home/user/file.txt", 40), "/home/user/file.txt");
  EXPECT_EQ(tx::ui::ShortenPath("/very/long/directory/name/file.txt", 20), "/very/lo.../file.txt");
  EXPECT_EQ(tx::ui::ShortenPath("/a/averyveryverylongname.txt", 12), "...gname.txt");
  std::string wide = tx::ui::ShortenPath("/書庫/ディレクトリ/ファイル", 16);
  EXPECT_LE(tx::ui::DisplayWidth(wide), 16u);
  EXPECT_NE(wide.find("..."), std::string::npos);
}

TEST(NoticeMessages, NumbersFollowTheCodeAndFillTheGaps) {
  using tx::ui::Language;
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0), 0u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(3051), 3051u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00314401), 3049u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00440000), 3068u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00610203), 3081u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00620000), 3082u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00590000), 3079u);
  EXPECT_EQ(tx::ui::NoticeMessageNumber(0x00510000), 3073u);
  EXPECT_STREQ(tx::ui::MessageText(3068, Language::English), "There is unknown encryption algorithm.");
  EXPECT_STREQ(tx::ui::MessageText(3068, Language::Japanese), "未対応の暗号アルゴリズムです。");
  EXPECT_EQ(tx::ui::MessageText(0x01020000 / 65536 + 3000, Language::English), nullptr);
}

}  // namespace
