// Feeds arbitrary bytes to the 7z readers as an archive file: the header reader through
// the listing, and extraction, must return a code, never crash, and never write outside
// their output folder.
#include <vector>

#include "fuzz_folder.h"
#include "tessarex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tx::fuzz::FuzzFolder folder("input.7z");
  folder.Write(data, size);
  std::vector<char> text(1 << 16);
  uint32_t list_options[1] = {0};
  svz_list(nullptr, folder.archive(), "password", text.data(), static_cast<uint32_t>(text.size()),
           list_options);
  uint32_t unpack_options[2] = {0, 0};
  svz_unpack3(nullptr, folder.archive(), folder.out(), nullptr, "password", unpack_options);
  folder.CheckAndClear();
  return 0;
}
