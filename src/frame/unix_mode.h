// The permission bits an entry's stored Unix mode asks for. 7z and ZIP archives made on
// Unix carry the file's st_mode (7z: the attribute word with bit 0x8000, ZIP: host 3, both
// in the high 16 bits); each format finds the mode, this decides what it means on disk.
#pragma once

#include <cstdint>

namespace tx::frame {

// No stored mode: the entry keeps the Windows attribute handling.
inline constexpr uint32_t kNoUnixMode = 0;

// The Unix mode held in the high 16 bits of an attribute word, or kNoUnixMode.
inline uint32_t UnixModeOfHighBits(uint32_t attribute_word) { return attribute_word >> 16; }

// False when `mode` is kNoUnixMode. Otherwise `permissions` gets rwx for user, group and
// other: never setuid, setgid or sticky, since an archive must not hand out privileges.
// A symbolic link is extracted as a file holding its text, so it gets plain 0666; the
// umask is applied when the bits are set.
bool PermissionsFor(uint32_t mode, uint32_t& permissions);

}  // namespace tx::frame
