// Checking every signature of a ZIP archive and saying who signed and whether the user
// or the system vouches for that certificate.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::zip {

// Writes a report (one line per signature) into `report` and returns 0 when every
// signature verifies, the first failure's code otherwise, 0x00135701 for an archive that
// holds no signature, a code of class 0x0028 when the report was cut. Flags: bit 2 ask for a missing
// password of an encrypted directory or member.
StatusCode VerifyArchive(void* parent, const char* archive, const char* password, char* report,
                         uint32_t report_size, uint32_t flags);

}  // namespace tx::zip
