// Feeds arbitrary bytes to the decoders: as an LZMA block (the first five bytes its
// properties, the next two its size), as Deflate and BZip2 blocks, and to the x86
// converter. Every call must return, never crash or overrun; what the LZMA encoder and
// the x86 encoder make of the bytes must come back unchanged.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/bcj_x86.h"
#include "codec/block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tx::codec::Method;
  using tx::codec::Outcome;
  std::unique_ptr<uint8_t[]> out;
  if (size >= 7) {
    const size_t expected = data[5] | size_t{data[6]} << 8;
    tx::codec::DecompressBlock(Method::kLzma, data, 5, data + 7, size - 7, expected, out);
    tx::codec::DecompressBlock(Method::kDeflate, nullptr, 0, data + 7, size - 7, expected, out);
    tx::codec::DecompressBlock(Method::kBzip2, nullptr, 0, data + 7, size - 7, expected, out);
  }

  tx::codec::BlockSettings settings;
  settings.lzma = tx::codec::LzmaHeaderSettings(size);
  std::vector<uint8_t> packed(size + size / 2 + 64);
  size_t packed_size = 0;
  uint8_t properties[5];
  if (tx::codec::CompressBlock(Method::kLzma, settings, data, size, packed.data(), packed_size, packed.size(),
                               properties) != Outcome::kOk ||
      tx::codec::DecompressBlock(Method::kLzma, properties, 5, packed.data(), packed_size, size, out) !=
          Outcome::kOk ||
      (size != 0 && std::memcmp(out.get(), data, size) != 0))
    std::abort();

  std::vector<uint8_t> code(data, data + size);
  tx::codec::X86Converter encoder(true), decoder(false);
  const size_t done = encoder.Convert(code.data(), code.size());
  if (decoder.Convert(code.data(), code.size()) != done ||
      (size != 0 && std::memcmp(code.data(), data, size) != 0))
    std::abort();
  return 0;
}
