// Feeds arbitrary bytes to the ZIP readers as an archive file: listing and extraction must
// return a code, never crash, and never write outside their output folder.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tessarex.h"

namespace {

std::filesystem::path WorkFolder() {
  static std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessarex-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::filesystem::path folder = WorkFolder();
  std::filesystem::path archive = folder / "input.zip";
  std::filesystem::path out = folder / "out";
  std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::filesystem::create_directory(out);

  std::vector<char> text(1 << 16);
  uint32_t list_options[1] = {0};
  zip_list(nullptr, archive.c_str(), "password", text.data(), static_cast<uint32_t>(text.size()), list_options);
  uint32_t unpack_options[2] = {0, 0};
  zip_unpack2(nullptr, archive.c_str(), out.c_str(), nullptr, "password", unpack_options);

  // Everything written must be inside the output folder.
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path() != archive && entry.path() != out) ::abort();
  std::filesystem::remove_all(out);
  return 0;
}
