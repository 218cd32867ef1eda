// The folder a fuzz target works in: the input written as an archive file, an output
// folder for extraction, and the check that nothing was written anywhere else.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tx::fuzz {

class FuzzFolder {
 public:
  explicit FuzzFolder(const char* archive_name) {
    static std::filesystem::path folder = [] {
      std::string pattern = (std::filesystem::temp_directory_path() / "tessarex-fuzz-XXXXXX").string();
      if (::mkdtemp(pattern.data()) == nullptr) ::abort();
      return std::filesystem::path(pattern);
    }();
    folder_ = folder;
    archive_ = folder_ / archive_name;
    out_ = folder_ / "out";
  }

  void Write(const uint8_t* data, size_t size) {
    std::ofstream(archive_, std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                    static_cast<std::streamsize>(size));
    std::filesystem::create_directory(out_);
  }

  // Everything written must be inside the output folder, which is emptied for the next input.
  void CheckAndClear() {
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      if (entry.path() != archive_ && entry.path() != out_) ::abort();
    std::filesystem::remove_all(out_);
  }

  const char* archive() const { return archive_.c_str(); }
  const char* out() const { return out_.c_str(); }

 private:
  std::filesystem::path folder_, archive_, out_;
};

}  // namespace tx::fuzz
