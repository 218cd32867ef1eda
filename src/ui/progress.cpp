#include "ui/progress.h"

#include <cstdio>
#include <memory>
#include <string>

#include "platform/text.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/texts.h"

namespace tx::ui {

namespace {

constexpr uint32_t kPercentMask = 0xFF;
constexpr uint32_t kCancelBit = 0x100;
constexpr uint32_t kPauseBit = 0x200;
constexpr unsigned kPauseTurnMs = 330;

struct ProgressWindow {
  std::unique_ptr<ProgressView> view;
  uint32_t state = 0;
  Language language = Language::English;
};

ProgressWindow g_window;

const char* Text(uint32_t number) {
  const char* t = MessageText(number, g_window.language);
  return t ? t : "";
}

void ShowCaption(uint32_t percent) {
  char tail[16];
  std::snprintf(tail, sizeof tail, "  %3u%%", percent);
  g_window.view->SetText(ProgressField::Caption, std::string(Text(3001)) + tail);
}

int Pump() {
  ProgressView& view = *g_window.view;
  for (;;) {
    for (ProgressEvent e; (e = view.NextEvent()) != ProgressEvent::None;) {
      if (e == ProgressEvent::Cancel) {
        g_window.state = kCancelBit;  // the pause and the percent go with it
      } else {
        g_window.state ^= kPauseBit;
        view.SetText(ProgressField::PauseButton, Text(g_window.state & kPauseBit ? 3007 : 3006));
      }
    }
    view.Refresh();
    if (g_window.state & kCancelBit) return kProgressCancel;
    if (!(g_window.state & kPauseBit)) return kProgressGoOn;
    view.Wait(kPauseTurnMs);
  }
}

void ShowStatusLine(uint32_t count, uint32_t total, uint32_t text_number) {
  ProgressView& view = *g_window.view;
  std::string line = Text(text_number);
  char tail[48];
  if (total == 0) {
    std::snprintf(tail, sizeof tail, "  %lu", static_cast<unsigned long>(count));
    line += tail;
  } else if (total != 1) {
    std::snprintf(tail, sizeof tail, "  %lu / %lu", static_cast<unsigned long>(count),
                  static_cast<unsigned long>(total));
    line += tail;
  } else if (text_number == 3004) {
    view.SetText(ProgressField::ArchiveLabel, "");
    view.SetText(ProgressField::BaseLabel, "");
  } else if (text_number == 3005) {
    view.SetText(ProgressField::BaseLabel, "");
  } else if (text_number == 3012) {
    view.SetText(ProgressField::ArchiveLabel, Text(3013));
    view.SetText(ProgressField::BaseLabel, Text(3014));
  }
  view.SetText(ProgressField::Status, line);
}

}  // namespace

int ProgressOpen(uint32_t count, uint32_t total, uint32_t text_number, const char16_t* archive,
                 const char16_t* base, const char16_t* working) {
  if (!g_window.view) {
    g_window.state = 0;
    g_window.language = CurrentLanguage();
    g_window.view = CurrentDialogs().OpenProgress();
    if (!g_window.view) return kProgressNoWindow;
    ProgressView& view = *g_window.view;
    ShowCaption(0);
    view.SetText(ProgressField::ArchiveLabel, LabelText(Label::ArchiveFile, g_window.language));
    view.SetText(ProgressField::BaseLabel, LabelText(Label::BaseDirectory, g_window.language));
    view.SetText(ProgressField::WorkingLabel, LabelText(Label::WorkingFile, g_window.language));
    view.SetText(ProgressField::PauseButton, Text(3006));
    view.SetText(ProgressField::CancelButton, LabelText(Label::Cancel, g_window.language));
  }
  if (text_number != 0) ShowStatusLine(count, total, text_number);
  ProgressView& view = *g_window.view;
  if (archive) view.SetText(ProgressField::Archive, DisplayText(archive));
  if (base) view.SetText(ProgressField::Base, DisplayText(base));
  if (working) view.SetText(ProgressField::Working, DisplayPath(working));
  return Pump();
}

int ProgressUpdate(uint32_t percent) {
  if (!g_window.view) return kProgressNoWindow;
  if (percent <= 100 && percent != (g_window.state & kPercentMask)) {
    g_window.state = (g_window.state & ~kPercentMask) | percent;
    ShowCaption(percent);
  }
  return Pump();
}

void ProgressClose() { g_window.view.reset(); }

bool ProgressIsOpen() { return g_window.view != nullptr; }

}  // namespace tx::ui
