// Helpers for the path tests: UTF-16 text, and child processes in which one system call
// fails, to reach failures a healthy system never shows.
#pragma once

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "test_support.h"

namespace tx::test {

inline std::u16string W(const std::string& utf8) {
  std::u16string out(utf8.size() + 1, u'\0');
  if (!platform::Utf8ToUtf16(utf8.c_str(), out.data(), out.size())) return u"<bad>";
  return out.c_str();
}

inline std::string U8(const char16_t* text) {
  std::string out;
  platform::Utf16ToUtf8(text, out);
  return out;
}

// "a|b|c" as {"a", "b", "c"}.
inline std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::istringstream in(list + "|");
  for (std::string item; std::getline(in, item, '|');) out.push_back(item);
  return out;
}

// In a child: every later call of system call `nr` fails with EPERM.
inline void RefuseSyscall(int nr) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(nr), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
    ::_exit(2);
}

}  // namespace tx::test
