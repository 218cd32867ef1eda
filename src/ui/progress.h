// The progress window: one per call, with Pause and Cancel, kept responsive by a message
// pump that runs whenever the work reports progress.
#pragma once

#include <cstdint>

namespace tx::ui {

// Results of ProgressOpen and ProgressUpdate.
inline constexpr int kProgressGoOn = 0;
inline constexpr int kProgressCancel = 1;
inline constexpr int kProgressNoWindow = 2;

// Opens the window if none is open, then updates the status line (text number 0 keeps
// it) and the three path fields (null keeps a field). Total 0 shows the count alone.
int ProgressOpen(uint32_t count, uint32_t total, uint32_t text_number, const char16_t* archive,
                 const char16_t* base, const char16_t* working);
// Shows a percent (0-100; other values only run the pump) in the caption.
int ProgressUpdate(uint32_t percent);
void ProgressClose();
bool ProgressIsOpen();

}  // namespace tx::ui
