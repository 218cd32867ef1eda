// Status codes in words, for people reading them.
#pragma once

#include <string>

#include "frame/status.h"
#include "ui/texts.h"

namespace tx::frame {

// One line: the code in hex, what failed (the call or the condition), the routine and
// the site, and the error notice's message (in `language`) where the class has one. "0" is "success".
std::string DescribeStatus(StatusCode code, ui::Language language);

}  // namespace tx::frame
