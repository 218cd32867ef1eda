// Turning path arguments into directories and names. "/" and "\" both separate path
// components on input; every directory built here uses "/" and ends in "/".
#pragma once

#include "frame/status.h"
#include "platform/text.h"

namespace tx::frame {

// Places of these routines in status codes.
inline constexpr uint8_t kPlaceSourceSplit = 0x33;
inline constexpr uint8_t kPlaceOutputDirectory = 0x34;
inline constexpr uint8_t kPlaceVolumeName = 0x35;
inline constexpr uint8_t kPlaceTempFile = 0x36;

// Platform form of a directory: "\" turned into "/" and a final "/" added when missing.
// False, with the buffer emptied, when that "/" does not fit.
bool FinishDirectory(platform::WidePath& dir);

// Splits a packing source into its base directory and the name to pack. Without a
// separator the base is the current directory (0x01093301 when it cannot be had). A
// source ending in a separator names a folder: `name` gets the folder and a "/"; a source
// shorter than three units or with an empty folder name 0x00103302, a folder without a
// directory before it 0x00103301. A source of 1024 units or more: 0x00113301.
StatusCode SplitSourcePath(const char16_t* source, platform::WidePath& base, platform::WidePath& name);

// The directory output goes to: `directory` when not empty (it must exist and be a
// directory, else 0x00123401), else the folder of `archive`, else the current directory
// (0x01093401 when it cannot be had). 0x00113401 when the result with its "/" would not
// fit 1023 units.
StatusCode ResolveOutputDirectory(const char16_t* directory, const char16_t* archive,
                                  platform::WidePath& out);

// As ResolveOutputDirectory for the directory (0x00123501, 0x01093501, 0x00113501), then
// the file name of `path` (0x00103501 when it ends in a separator). With `strip_number`,
// a trailing "." and three digits are removed from a name that keeps something before them.
StatusCode ResolveVolumeName(const char16_t* directory, const char16_t* path,
                             platform::WidePath& out_directory, platform::WidePath& out_name,
                             bool strip_number);

// Creates a new empty file named `prefix` and a unique part in `directory`, or in the
// system's temporary directory when `directory` is empty, and returns its path. A
// directory argument that is not a directory 0x00123601; no temporary directory
// 0x010C3601; the file cannot be made 0x010D3601.
StatusCode MakeTempFile(const char16_t* directory, const char16_t* prefix, platform::WidePath& out);

// The work folder an update is given (null or empty: none) must be an existing folder
// (0x00123601); `conversion` when it cannot be converted. Updates still write their new
// archive beside the old one, since only a rename within one folder replaces it in one step.
StatusCode CheckWorkFolder(const char* folder, StatusCode conversion);

}  // namespace tx::frame
