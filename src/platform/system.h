// Small facts about the running process.
#pragma once

#include <cstddef>
#include <string>

namespace tx::platform {

void SleepMilliseconds(unsigned milliseconds);

// Overwrites memory with zeros in a way the compiler may not drop.
void WipeMemory(void* data, size_t size);

// The locale name that governs messages: LC_ALL, else LC_MESSAGES, else LANG; "" if none.
std::string MessageLocale();

// An address inside this library's loaded image: the module's identity for the process.
const void* ModuleAddress();

}  // namespace tx::platform
