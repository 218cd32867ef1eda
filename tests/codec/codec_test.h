// What the codec tests share: sample data, whole streams decoded piece by piece, LZMA
// encoding from and into strings.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "codec/decoder.h"
#include "codec/lzma_encoder.h"
#include "test_support.h"

namespace tx::test {

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Text that compresses, with a stretch of noise every fifty lines.
inline std::string Mixed(size_t size, unsigned seed) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) {
    s.append("entry ").append(std::to_string(i * 7919LL % 1000)).append(" of the mixed sample\n");
    if (i % 50 == 0) s.append(RandomBytes(200, seed + i));
  }
  s.resize(size);
  return s;
}

// Decodes `input` fed in pieces of `feed` bytes into output pieces of at most `room`
// bytes; `out` gets everything produced. kDamaged when the stream does not end. `strict`
// decodes as an archive reader does: all of the input is fed, bytes left after the end are
// damage, and the stream's End is the outcome.
inline codec::Outcome DecodeAll(codec::Decoder& decoder, codec::Method method, const std::string& properties,
                                uint64_t size, const std::string& input, std::string& out,
                                size_t feed = 65536, size_t room = 65536, bool strict = false) {
  using codec::Outcome;
  out.clear();
  if (Outcome o = decoder.Init(method, Bytes(properties), properties.size(), size); o != Outcome::kOk)
    return o;
  std::vector<uint8_t> buffer(room);
  size_t at = 0;
  do {
    size_t n = std::min(feed, input.size() - at);
    decoder.Feed(Bytes(input) + at, n);
    at += n;
    const uint8_t* piece;
    size_t produced;
    do {
      if (Outcome o = decoder.Next(buffer.data(), room, piece, produced, at == input.size());
          o != Outcome::kOk)
        return o;
      out.append(reinterpret_cast<const char*>(piece), produced);
    } while (produced > 0);
    if (strict && decoder.ended() && decoder.unused() > 0) return Outcome::kDamaged;
  } while (at < input.size() && (strict || !decoder.ended()));
  if (!decoder.ended()) return Outcome::kDamaged;
  return strict ? decoder.End() : Outcome::kOk;
}

// A source over a string that fails at its `fail_at`-th read; it notes the first byte of
// `watch` at its first read. `chunky` hands out pieces of varying odd sizes. `foreign`
// tells whether a read ran on another thread than the one that made the source.
struct StringSource : codec::ByteSource {
  StringSource(const std::string& data, int fail_at = -1, const uint8_t* watch = nullptr)
      : data(data), fail_at(fail_at), watch(watch) {}
  bool Read(uint8_t* buffer, size_t& size) override {
    if (std::this_thread::get_id() != owner) foreign = true;
    if (reads == 0 && watch != nullptr) watched = *watch;
    if (reads++ == fail_at) return false;
    size = std::min(size, data.size() - at);
    if (chunky) size = std::min(size, size_t{1} + (static_cast<size_t>(reads) * 7919) % 300007);
    std::copy_n(data.data() + at, size, buffer);
    at += size;
    return true;
  }
  const std::string& data;
  size_t at = 0;
  int fail_at, reads = 0;
  const uint8_t* watch;
  uint8_t watched = 0;
  bool chunky = false;
  std::thread::id owner = std::this_thread::get_id();
  bool foreign = false;
};

// A sink into a string that fails beyond `limit` bytes; `foreign` as for StringSource.
struct StringSink : codec::ByteSink {
  explicit StringSink(size_t limit = SIZE_MAX) : limit(limit) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (std::this_thread::get_id() != owner) foreign = true;
    if (size > limit - bytes.size()) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  size_t limit;
  std::string bytes;
  std::thread::id owner = std::this_thread::get_id();
  bool foreign = false;
};

// The raw LZMA stream of `data`, its properties in `properties`.
inline std::string LzmaOf(const std::string& data, const codec::LzmaSettings& settings,
                          std::string& properties) {
  StringSource source(data);
  StringSink sink;
  uint8_t props[5];
  EXPECT_EQ(codec::LzmaEncode(settings, source, sink, nullptr, props), codec::Outcome::kOk);
  properties.assign(reinterpret_cast<const char*>(props), 5);
  return sink.bytes;
}

}  // namespace tx::test
