// What the codec tests share: whole streams coded and decoded through the coders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/lzma_encoder.h"
#include "test_support.h"

namespace tx::test {

inline const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Text that compresses, with a stretch of noise in every block of lines.
inline std::string Mixed(size_t size, unsigned seed) {
  std::string s;
  for (int i = 0; s.size() < size; ++i) {
    s.append("entry ").append(std::to_string(i * 7919 % 1000)).append(" of the mixed sample\n");
    if (i % 50 == 0) s.append(RandomBytes(200, seed + i));
  }
  s.resize(size);
  return s;
}

// Decodes `input` fed in pieces of `feed` bytes into output pieces of at most `room`
// bytes; `out` gets everything produced.
inline codec::Outcome DecodeAll(codec::Decoder& decoder, codec::Method method, const std::string& properties,
                                uint64_t size, const std::string& input, std::string& out,
                                size_t feed = 65536, size_t room = 65536) {
  out.clear();
  if (codec::Outcome o = decoder.Init(method, Bytes(properties), properties.size(), size);
      o != codec::Outcome::kOk)
    return o;
  std::vector<uint8_t> buffer(room);
  size_t at = 0;
  do {
    size_t n = std::min(feed, input.size() - at);
    decoder.Feed(Bytes(input) + at, n);
    at += n;
    const bool finishing = at == input.size();
    for (;;) {
      const uint8_t* piece;
      size_t produced;
      if (codec::Outcome o = decoder.Next(buffer.data(), room, piece, produced, finishing);
          o != codec::Outcome::kOk)
        return o;
      if (produced == 0) break;
      out.append(reinterpret_cast<const char*>(piece), produced);
    }
  } while (at < input.size() && !decoder.ended());
  return decoder.ended() ? codec::Outcome::kOk : codec::Outcome::kDamaged;
}

// A source over a string that may fail at its `fail_at`-th read.
class StringSource : public codec::ByteSource {
 public:
  explicit StringSource(const std::string& data, int fail_at = -1) : data_(data), fail_at_(fail_at) {}
  bool Read(uint8_t* buffer, size_t& size) override {
    if (reads_++ == fail_at_) return false;
    size = std::min(size, data_.size() - at_);
    std::copy_n(data_.data() + at_, size, buffer);
    at_ += size;
    return true;
  }
  int reads() const { return reads_; }

 private:
  const std::string& data_;
  size_t at_ = 0;
  int fail_at_, reads_ = 0;
};

class StringSink : public codec::ByteSink {
 public:
  explicit StringSink(size_t limit = SIZE_MAX) : limit_(limit) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (size > limit_ - bytes.size()) return false;
    bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;

 private:
  size_t limit_;
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
