// Deflate in pieces: one valid stream, the same bytes on one and two threads, and hardly
// larger than a single zlib stream.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "codec/deflate_pieces.h"
#include "codec_test.h"

namespace tx::test {
namespace {

using codec::PieceDeflater;

// The whole input through a deflater on `threads`, the stream returned.
std::string CodeInPieces(const std::string& data, unsigned threads, int level) {
  PieceDeflater deflater;
  EXPECT_TRUE(deflater.Allocate(threads));
  deflater.Begin(level, 9);
  std::string stream;
  size_t at = 0;
  do {
    size_t sizes[2] = {};
    for (int i = 0; i < 2; ++i) {
      sizes[i] = std::min(PieceDeflater::kPiece, data.size() - at);
      std::memcpy(deflater.Input(i), data.data() + at, sizes[i]);
      at += sizes[i];
    }
    size_t packed[2] = {};
    if (!deflater.CodePair(sizes[0], sizes[1], at == data.size(), packed[0], packed[1])) return "failed";
    for (int i = 0; i < 2; ++i) stream.append(reinterpret_cast<char*>(deflater.Packed(i)), packed[i]);
  } while (at < data.size());
  return stream;
}

size_t OneStreamSize(const std::string& data, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(Bytes(data));
  z.avail_in = static_cast<unsigned>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<unsigned>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  deflateEnd(&z);
  return z.total_out;
}

TEST(DeflatePieces, OneStreamWhateverTheThreads) {
  // A random 20 KB pattern repeated: every piece leans on the history before it.
  const std::string pattern = RandomBytes(20000, 5);
  std::string repeated;
  while (repeated.size() < 3 * PieceDeflater::kPiece + 77777) repeated += pattern;
  const size_t kPiece = PieceDeflater::kPiece;
  for (size_t size : {size_t{0}, size_t{1000}, kPiece - 1, kPiece, kPiece + 1, 2 * kPiece, 3 * kPiece + 17}) {
    for (int kind = 0; kind < 2; ++kind) {
      const std::string data = kind == 0 ? Mixed(size, 3) : repeated.substr(0, size);
      const std::string one = CodeInPieces(data, 1, 6);
      EXPECT_EQ(one, CodeInPieces(data, 2, 6)) << size;
      codec::Decoder decoder;
      std::string back;
      ASSERT_EQ(DecodeAll(decoder, codec::Method::kDeflate, "", 0, one, back, 65536, 65536, true),
                codec::Outcome::kOk)
          << size;
      EXPECT_TRUE(back == data) << size;
      const size_t pieces = size / kPiece + 1;
      EXPECT_LE(one.size(), OneStreamSize(data, 6) + 64 * pieces) << size << " kind " << kind;
    }
  }
  // The level is the stream's: each level comes close to zlib's own size at that level.
  const std::string data = Mixed(2 * kPiece + 5, 8);
  for (int level : {1, 9}) {
    const size_t size = CodeInPieces(data, 2, level).size(), one = OneStreamSize(data, level);
    EXPECT_LE(size, one + 64 * 3) << level;
    EXPECT_GE(size + 64 * 3, one) << level;
  }
  EXPECT_NE(OneStreamSize(data, 1), OneStreamSize(data, 9));
}

}  // namespace
}  // namespace tx::test
