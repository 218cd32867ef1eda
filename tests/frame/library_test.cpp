// Load and unload of the library, and the frame around every export.
#include <gtest/gtest.h>

#include "frame/call_frame.h"
#include "frame/library.h"
#include "ui/dialogs.h"
#include "ui/progress.h"
#include "ui/scripted_dialogs.h"

namespace {

TEST(Library, UnloadClosesAWindowLeftOpenAndLoadStartsAfresh) {
  tx::ui::ScriptedDialogs dialogs;
  tx::ui::Dialogs* previous = tx::ui::InstallDialogs(&dialogs);
  EXPECT_NE(tx::frame::ModuleHandle(), nullptr) << "remembered when the library was loaded";
  ASSERT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0);
  tx::frame::OnLibraryUnload();
  EXPECT_FALSE(tx::ui::ProgressIsOpen());
  EXPECT_EQ(dialogs.record().closed, 1u);
  EXPECT_EQ(tx::frame::ModuleHandle(), nullptr);
  tx::frame::OnLibraryLoad();
  EXPECT_NE(tx::frame::ModuleHandle(), nullptr);
  tx::ui::InstallDialogs(previous);
}

TEST(CallFrame, ClosesTheWindowOnEveryPathAndKeepsTheParent) {
  tx::ui::ScriptedDialogs dialogs;
  tx::ui::Dialogs* previous = tx::ui::InstallDialogs(&dialogs);
  int parent_window;
  auto code = tx::frame::RunExport(&parent_window, 1, [&](tx::frame::CallFrame&) -> tx::StatusCode {
    EXPECT_EQ(tx::frame::ParentWindow(), &parent_window);
    EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0);
    return 0x01034101;
  });
  EXPECT_EQ(code, 0x01034101u) << "an inner code comes back unchanged";
  EXPECT_FALSE(tx::ui::ProgressIsOpen());

  code = tx::frame::RunExport(nullptr, 1, [&](tx::frame::CallFrame&) -> tx::StatusCode {
    EXPECT_EQ(tx::ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, nullptr), 0);
    throw std::bad_alloc();
  });
  EXPECT_EQ(code, 0x00200000u) << "a failed allocation becomes NoMemory";
  EXPECT_FALSE(tx::ui::ProgressIsOpen());
  EXPECT_EQ(tx::frame::ParentWindow(), nullptr);
  EXPECT_EQ(dialogs.record().closed, 2u);
  tx::ui::InstallDialogs(previous);
}

TEST(ToWidePath, CodesAndLimits) {
  tx::platform::WidePath out;
  out.units[0] = u'x';
  EXPECT_EQ(tx::frame::ToWidePath(nullptr, out), 0x00013201u);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(tx::frame::ToWidePath("", out), 0x00013202u);
  EXPECT_EQ(tx::frame::ToWidePath(std::string(1023, 'a').c_str(), out), 0u);
  EXPECT_EQ(out.length(), 1023u);
  EXPECT_EQ(tx::frame::ToWidePath(std::string(1024, 'a').c_str(), out), 0x01203201u);
  EXPECT_TRUE(out.empty());
  // 511 two-unit characters fit (1022 units); one more does not.
  std::string pairs;
  for (int i = 0; i < 511; ++i) pairs += "\xF0\x9F\x98\x80";
  EXPECT_EQ(tx::frame::ToWidePath(pairs.c_str(), out), 0u);
  EXPECT_EQ(tx::frame::ToWidePath((pairs + "\xF0\x9F\x98\x80").c_str(), out), 0x01203201u);
  EXPECT_EQ(tx::frame::ToWidePath("\xC0\xAF", out), 0x01203201u) << "an overlong form is refused";
}

}  // namespace
