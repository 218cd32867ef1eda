// Raw Deflate streams and zlib-wrapped PEA blocks: streams from zlib fed and taken in pieces
// of any size, empty and stored blocks, the end of the stream among the bytes that follow
// it, and truncated or damaged streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "codec_test.h"
#include "pea/pea_zlib.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

// `data` as raw Deflate (`bits` -15) or zlib-wrapped (15), optionally in several pieces each
// ended by `flush` (which adds empty stored blocks for a full or sync flush).
std::string DeflateOf(const std::string& data, int level, int bits = -15, size_t piece = 0,
                      int flush = Z_NO_FLUSH) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64 * (piece ? data.size() / piece + 1 : 1), '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  size_t at = 0;
  do {
    const size_t n = piece ? std::min(piece, data.size() - at) : data.size();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(n);
    at += n;
    const bool last = at == data.size();
    EXPECT_NE(deflate(&z, last ? Z_FINISH : flush), Z_STREAM_ERROR);
  } while (at < data.size());
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Outcome Inflate(codec::Decoder& decoder, const std::string& input, std::string& out, size_t feed = 65536,
                size_t room = 65536) {
  return DecodeAll(decoder, Method::kDeflate, "", 0, input, out, feed, room, true);
}

TEST(Inflate, StreamsFromZlibInPiecesOfAnySize) {
  codec::Decoder decoder;  // one decoder for every stream
  const std::string text = Mixed(400000, 5), noise = RandomBytes(100000, 6);
  struct Case {
    std::string data, stream;
  };
  const Case cases[] = {
      {text, DeflateOf(text, 9)},
      {noise, DeflateOf(noise, 6)},                         // stored blocks chosen by zlib
      {text, DeflateOf(text, 0)},                           // stored blocks only
      {text, DeflateOf(text, 1, -15, 7000, Z_FULL_FLUSH)},  // empty stored blocks between
      {text, DeflateOf(text, 6, -15, 30000, Z_SYNC_FLUSH)},
      {"", DeflateOf("", 6)},
      {"", DeflateOf("", 0)},
      {"x", DeflateOf("x", 9)},
  };
  std::string out;
  for (const Case& c : cases) {
    for (size_t feed : {size_t{1}, size_t{2}, size_t{13}, size_t{65536}, c.stream.size() + 1}) {
      for (size_t room : {size_t{1}, size_t{1000}, size_t{1} << 20}) {
        if (feed * room < 1000 && c.data.size() > 1000) continue;  // slow and nothing new
        ASSERT_EQ(Inflate(decoder, c.stream, out, feed, room), Outcome::kOk)
            << c.data.size() << " bytes, feed " << feed << ", room " << room;
        ASSERT_TRUE(out == c.data) << c.data.size() << " bytes, feed " << feed << ", room " << room;
      }
    }
  }
}

TEST(Inflate, BytesAfterTheEndStayUnused) {
  codec::Decoder decoder;
  const std::string data = Mixed(100000, 7);
  for (const std::string& stream : {DeflateOf(data, 6), DeflateOf("", 6), DeflateOf(data, 0)}) {
    for (size_t extra : {size_t{1}, size_t{5}, size_t{9}, size_t{300}}) {
      std::string input = stream;
      input.append(RandomBytes(extra, static_cast<unsigned>(extra)));
      for (size_t feed : {size_t{1}, size_t{2}, size_t{3}, size_t{100}, input.size()}) {
        ASSERT_EQ(decoder.Init(Method::kDeflate, nullptr, 0, 0), Outcome::kOk);
        std::string out;
        std::vector<uint8_t> buffer(65536);
        size_t at = 0;
        while (!decoder.ended() && at < input.size()) {
          const size_t n = std::min(feed, input.size() - at);
          decoder.Feed(Bytes(input) + at, n);
          at += n;
          const uint8_t* piece;
          size_t produced;
          do {
            ASSERT_EQ(decoder.Next(buffer.data(), buffer.size(), piece, produced, at == input.size()),
                      Outcome::kOk);
            out.append(reinterpret_cast<const char*>(piece), produced);
          } while (produced > 0);
        }
        ASSERT_TRUE(decoder.ended());
        EXPECT_EQ(decoder.unused() + (input.size() - at), extra) << "feed " << feed;
        EXPECT_TRUE(out == (stream.size() > 10 ? data : std::string()));
        EXPECT_EQ(decoder.End(), Outcome::kOk);
      }
      std::string out;
      EXPECT_EQ(Inflate(decoder, input, out), Outcome::kDamaged) << "an archive reader sees the extra bytes";
    }
  }
}

TEST(Inflate, TruncatedAndDamagedStreamsAreDamage) {
  codec::Decoder decoder;
  const std::string data = Mixed(50000, 8);
  const std::string stream = DeflateOf(data, 6), stored = DeflateOf("hello", 0);
  std::string out;
  for (size_t cut = 0; cut < stream.size(); cut += cut < 64 ? 1 : 997) {
    ASSERT_EQ(Inflate(decoder, stream.substr(0, cut), out), Outcome::kDamaged) << cut;
    ASSERT_EQ(Inflate(decoder, stream.substr(0, cut), out, 1, 1), Outcome::kDamaged) << cut;
  }
  for (size_t cut = 0; cut < stored.size(); ++cut)
    EXPECT_EQ(Inflate(decoder, stored.substr(0, cut), out), Outcome::kDamaged) << cut;
  // Block type 3 does not exist.
  EXPECT_EQ(Inflate(decoder, std::string("\x07\x00", 2), out), Outcome::kDamaged);
  // A stored block whose length and complement disagree.
  std::string bad_length = stored;
  bad_length[3] ^= 1;
  EXPECT_EQ(Inflate(decoder, bad_length, out), Outcome::kDamaged);
  // A fixed-code block whose first match reaches before the start: literal 'a', then
  // length 3 at distance 2.
  EXPECT_EQ(Inflate(decoder, std::string("\x4b\x04\x42\x00", 4), out), Outcome::kDamaged);
  ASSERT_EQ(Inflate(decoder, std::string("\x4b\x04\x02\x00", 4), out), Outcome::kOk) << "distance 1";
  EXPECT_EQ(out, "aaaa");
  // Distance codes 30 and 31 do not exist.
  EXPECT_EQ(Inflate(decoder, std::string("\x4b\x04\x3e\x00", 4), out), Outcome::kDamaged);
  EXPECT_EQ(Inflate(decoder, std::string("\x4b\x04\x7e\x00", 4), out), Outcome::kDamaged);
  // The decoder is still good for the next stream.
  ASSERT_EQ(Inflate(decoder, stream, out, 4096, 4096), Outcome::kOk);
  EXPECT_TRUE(out == data);
}

TEST(Inflate, ZlibWrappedBlocks) {
  pea::BlockInflater unready;
  const std::string data = Mixed(200000, 9);
  const std::string block = DeflateOf(data, 6, 15);
  std::vector<uint8_t> out(data.size() + 1);
  EXPECT_EQ(unready.Inflate(Bytes(block), block.size(), out.data(), out.size()), -1);

  pea::BlockInflater inflater;
  ASSERT_TRUE(inflater.Init());
  auto inflate = [&](const std::string& in, size_t room) {
    return inflater.Inflate(Bytes(in), in.size(), out.data(), room);
  };
  for (int round = 0; round < 2; ++round) {  // the coder is reused from block to block
    ASSERT_EQ(inflate(block, out.size()), static_cast<long>(data.size()));
    EXPECT_EQ(std::memcmp(out.data(), data.data(), data.size()), 0);
  }
  EXPECT_EQ(inflate(DeflateOf("", 6, 15), out.size()), 0);
  EXPECT_EQ(inflate(DeflateOf(data, 0, 15), out.size()), static_cast<long>(data.size()));
  EXPECT_EQ(inflate(block, data.size() - 1), -1) << "no room for all of it";
  EXPECT_EQ(inflate(block.substr(0, block.size() - 1), out.size()), -1) << "Adler-32 cut short";
  EXPECT_EQ(inflate(block.substr(0, block.size() - 4), out.size()), -1) << "no Adler-32";
  std::string damaged = block;
  damaged[damaged.size() - 1] ^= 1;
  EXPECT_EQ(inflate(damaged, out.size()), -1) << "wrong Adler-32";
  damaged = block;
  damaged[1] ^= 1;
  EXPECT_EQ(inflate(damaged, out.size()), -1) << "header check";
  damaged = block;
  damaged[0] = 0x79;  // method 9
  damaged[1] = static_cast<char>(31 - (0x7900 % 31));
  EXPECT_EQ(inflate(damaged, out.size()), -1) << "not Deflate";
  damaged[0] = static_cast<char>(0x88);  // a 64 KiB window
  damaged[1] = static_cast<char>(31 - (0x8800 % 31));
  EXPECT_EQ(inflate(damaged, out.size()), -1) << "window beyond 32 KiB";
  damaged[0] = 0x48;  // a 1 KiB window: distances are not held to it
  damaged[1] = static_cast<char>((block[1] & 0xC0) + 31 - ((0x4800 + (block[1] & 0xC0)) % 31));
  EXPECT_EQ(inflate(damaged, out.size()), static_cast<long>(data.size())) << "small window";
  // A header asking for a preset dictionary.
  damaged = block;
  damaged[1] = static_cast<char>(0x20 + 31 - ((0x7800 + 0x20) % 31));
  EXPECT_EQ(inflate(damaged, out.size()), -1) << "preset dictionary";
  EXPECT_EQ(inflate(block, out.size()), static_cast<long>(data.size())) << "still good after failures";
}

}  // namespace
}  // namespace tx::test
