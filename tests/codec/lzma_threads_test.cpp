// LZMA with the match finder on a second thread: the same bytes as on one thread whatever
// the data, the settings and the sizes the source hands out; every callback on the
// caller's thread; failures and cancels end the call.
#include <gtest/gtest.h>

#include <thread>

#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Outcome;

// A source handing out pieces of varying odd sizes.
StringSource Chunky(const std::string& data, int fail_at = -1) {
  StringSource source(data, fail_at);
  source.chunky = true;
  return source;
}

std::string Encode(const std::string& data, codec::LzmaSettings settings, int threads) {
  settings.threads = threads;
  StringSource source = Chunky(data);
  StringSink sink;
  uint8_t properties[5];
  EXPECT_EQ(codec::LzmaEncode(settings, source, sink, nullptr, properties), Outcome::kOk);
  EXPECT_FALSE(source.foreign || sink.foreign);
  return sink.bytes;
}

TEST(LzmaThreads, TwoThreadsWriteTheBytesOfOne) {
  const std::string mixed = Mixed(3u << 20, 7), noise = RandomBytes(1u << 20, 8);
  const std::string zeros(2u << 20, '\0');
  std::string repeats;
  while (repeats.size() < (1u << 20)) repeats += RandomBytes(4000, 9) + std::string(300, 'x');
  // Around the size of one block of queued matches, and empty.
  const std::string edges[] = {"", "a", Mixed(16383, 1), Mixed(16384, 2), Mixed(16385, 3), Mixed(65537, 4)};

  codec::LzmaSettings small = codec::LzmaDataSettings(5, mixed.size());
  small.dictionary = 1u << 16;  // the window slides every few hundred KiB
  struct Case {
    const std::string* data;
    codec::LzmaSettings settings;
  };
  const Case cases[] = {{&mixed, codec::LzmaDataSettings(5, mixed.size())},
                        {&mixed, codec::LzmaDataSettings(7, mixed.size())},
                        {&mixed, small},
                        {&noise, codec::LzmaDataSettings(9, noise.size())},
                        {&zeros, small},
                        {&repeats, codec::LzmaHeaderSettings(repeats.size())},
                        {&repeats, small}};
  codec::Decoder decoder;
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    const std::string one = Encode(*c.data, c.settings, 1), two = Encode(*c.data, c.settings, 2);
    EXPECT_TRUE(one == two) << one.size() << " " << two.size();
    std::string properties, out;
    LzmaOf("", c.settings, properties);
    ASSERT_EQ(DecodeAll(decoder, codec::Method::kLzma, properties, c.data->size(), two, out), Outcome::kOk);
    EXPECT_TRUE(out == *c.data);
  }
  for (const std::string& data : edges) {
    const codec::LzmaSettings s = codec::LzmaDataSettings(5, data.size());
    EXPECT_TRUE(Encode(data, s, 1) == Encode(data, s, 2)) << data.size();
  }
}

struct Cancelling : codec::EncodeProgress {
  bool Advance(uint64_t consumed) override {
    if (std::this_thread::get_id() != owner) foreign = true;
    return (last = consumed) < 1000000;
  }
  uint64_t last = 0;
  std::thread::id owner = std::this_thread::get_id();
  bool foreign = false;
};

TEST(LzmaThreads, FailuresAndCancelsEndTheCall) {
  const std::string data = Mixed(12u << 20, 12);
  codec::LzmaSettings settings = codec::LzmaDataSettings(5, data.size());
  settings.threads = 2;
  uint8_t properties[5];
  for (int fail_at : {0, 1, 30}) {
    StringSource failing = Chunky(data, fail_at);
    StringSink sink;
    EXPECT_EQ(codec::LzmaEncode(settings, failing, sink, nullptr, properties), Outcome::kReadFailed)
        << fail_at;
    // No reads after the failure, and the encoder stopped long before the end.
    EXPECT_EQ(failing.reads, fail_at + 1);
    EXPECT_LT(sink.bytes.size(), 200000u);
  }
  StringSource source = Chunky(data), again = Chunky(data);
  StringSink full(100000), sink;
  EXPECT_EQ(codec::LzmaEncode(settings, source, full, nullptr, properties), Outcome::kWriteFailed);
  Cancelling progress;
  EXPECT_EQ(codec::LzmaEncode(settings, again, sink, &progress, properties), Outcome::kCancelled);
  EXPECT_GE(progress.last, 1000000u);
  EXPECT_LT(progress.last, 3000000u);
  EXPECT_FALSE(progress.foreign || again.foreign || sink.foreign);
}

}  // namespace
}  // namespace tx::test
