// The readers: every code of the tail, central-record and local-header readers, the extra
// fields, and names.
#include <gtest/gtest.h>

#include <tuple>

#include "frame/times.h"
#include "platform/code_page.h"
#include "records_test_util.h"
#include "test_support.h"

namespace tx::zip {
namespace {

using namespace testutil;

// A central record by the writer with `extra` as its extra fields; read back.
Bytes Record(std::u16string_view name, const Bytes& extra = {}) {
  auto state = NewState();
  Bytes out(kMaxCentralHeader);
  out.resize(WriteCentralHeader(out.data(), 0, Named(name), *state));
  Put(out.data() + 30, extra.size(), 2);
  out.insert(out.end(), extra.begin(), extra.end());
  return out;
}

StatusCode ReadRecord(const Bytes& record, ZipEntryInfo& entry, bool validate = false,
                      uint64_t* offset = nullptr) {
  auto state = NewState();
  uint64_t local_offset = 0;
  size_t length = 0;
  StatusCode code =
      ReadCentralRecord(record.data(), record.size(), local_offset, validate, length, entry, *state);
  if (offset != nullptr) *offset = local_offset;
  return code;
}

// End records for `count` entries (Zip64 from 0x10000 on; version 2 with `transformed`)
// after `prefix` bytes.
Bytes Tail(uint32_t count, size_t prefix = 0, bool transformed = false) {
  auto state = NewState();
  state->entry_count = count;
  state->cd_size = 50;
  state->cd_offset = 1000;
  state->cd_flags = transformed ? 1 : 0;
  state->hash_algorithm = kHashCrc32;
  Bytes out(prefix + kMaxEndRecords, 0xEE);
  out.resize(prefix + WriteEndRecords(out.data() + prefix, Named(u""), *state));
  return out;
}

// The end record of Tail alone, as other writers leave it, after `prefix` bytes.
Bytes EndOnly(uint32_t count, size_t prefix) {
  Bytes tail = Tail(count), out(prefix, 0xEE);
  out.insert(out.end(), tail.end() - 22, tail.end());
  return out;
}

// The code and the entry count.
std::pair<StatusCode, uint32_t> ReadTailOf(const Bytes& tail, ZipEntryInfo* cipher = nullptr) {
  ZipEntryInfo own;
  auto state = NewState();
  StatusCode code = ReadTail(tail.data(), tail.size(), cipher != nullptr ? *cipher : own, *state);
  return {code, state->entry_count};
}

TEST(TailReader, EndRecordCommentAndZip64) {
  Bytes no_record(40, 0);
  Put(no_record.data() + 19, 0x06054b50, 4);        // 21 bytes before the end: too short for a record
  Bytes commented = Tail(7, 10), inner = Tail(99);  // a comment holding a record of its own
  inner.insert(inner.end(), {'x', 'y', 'z'});
  Put(commented.data() + commented.size() - 2, inner.size(), 2);
  commented.insert(commented.end(), inner.begin(), inner.end());
  Bytes cut = commented;  // no comment length fits: the last signature is taken
  cut.pop_back();
  const Bytes zip64 = Tail(0x10000);  // Zip64 record, locator, end record
  Bytes moved = zip64;                // further back than expected: found by the byte walk
  moved.insert(moved.begin() + 56, 9, 0);
  Bytes none = moved;  // no Zip64 record at all: the 32-bit values stand
  none[0] = 'X';
  const std::tuple<Bytes, StatusCode, uint32_t> cases[] = {
      {Bytes(21, 0), 0x801001, 0},
      {no_record, 0x801002, 0},
      {commented, kOk, 7},
      {cut, kOk, 99},
      {EndOnly(0xFFFF, 20), kOk, 65535},
      {EndOnly(0xFFFF, 19), 0x701001, 65535},
      {Tail(0xFFFF), kOk, 65535},
      {zip64, kOk, 0x10000},
      {Bytes(zip64.begin() + 1, zip64.end()), 0x701002, 65535},
      {moved, kOk, 0x10000},
      {none, kOk, 65535}};
  for (const auto& [tail, code, count] : cases) EXPECT_EQ(ReadTailOf(tail), std::pair(code, count));
}

TEST(TailReader, Version2Codes) {
  const std::tuple<size_t, uint16_t, StatusCode> patches[] = {
      {56, 9, 0x331001},      {74, 0x6601, 0x441002}, {74, 0x6603, 0x441003}, {80, 2, 0x451001},
      {80, 0x8003, 0x451002}, {82, 5, 0x451002},      {14, 61, kOk}};  // below 62: version 1
  for (const auto& [at, value, code] : patches) {
    Bytes tail = Tail(1, 0, true);
    Put(tail.data() + at, value, 2);
    EXPECT_EQ(ReadTailOf(tail).first, code) << at << " " << value;
  }
  for (auto [at, size] : {std::pair{56, 24}, {84, 4}}) {  // fields or hash running into the locator
    Bytes tail = Tail(1, 0, true);
    tail.erase(tail.begin() + at, tail.begin() + at + size);
    EXPECT_EQ(ReadTailOf(tail).first, 0x701003u) << at;
  }
  Bytes tail = Tail(1, 0, true);
  Put(tail.data() + 74, 0x00C0660F, 4);  // AES-192, 192 bits
  Put(tail.data() + 78, 0xFFFF, 2);
  ZipEntryInfo cipher;
  ASSERT_EQ(ReadTailOf(tail, &cipher).first, kOk);
  EXPECT_EQ(std::tuple(cipher.encryption, cipher.key_length, cipher.strong_flags),
            std::tuple(kStrongAes, 24u, 0x4103u));
}

TEST(CentralReader, Codes) {
  const Bytes plain = Record(u"name.txt");
  ZipEntryInfo e;
  EXPECT_EQ(ReadRecord(Bytes(plain.begin(), plain.begin() + 45), e), 0x711101u);
  EXPECT_EQ(ReadRecord(Bytes(plain.begin(), plain.end() - 1), e), 0x711102u);
  for (auto [at, value, code] :
       {std::tuple{3, 7, 0x811101u}, {28, 3072, 0x111101u}, {28, 3071, 0x711102u}, {32, 1, 0x711102u}}) {
    Bytes bad = plain;
    Put(bad.data() + at, value, at == 3 ? 1 : 2);
    EXPECT_EQ(ReadRecord(bad, e), code);
  }
  const Bytes aes16 = Field(0x9901, {1, 0, 'A', 'E', 1, 0, 0}),
              aes40 = Field(0x9901, {2, 0, 'A', 'E', 4, 0, 0});
  // Flags, method, compressed size, extra field: code.
  const std::tuple<uint16_t, uint16_t, uint32_t, Bytes, StatusCode> cases[] = {
      {1, 0, 0, {}, 0x711109},       {0, 8, 0, {}, 0x71110a},       {0, 0, 0, aes16, 0x71110b},
      {0, 99, 100, aes16, 0x711103}, {1, 99, 100, aes40, 0x711104}, {1, 99, 19, aes16, 0x711105},
      {1, 99, 20, aes16, kOk},       {1, 8, 11, {}, 0x711106},      {1, 8, 12, {}, kOk},
      {0x41, 8, 165, {}, 0x711107},  {0x41, 8, 166, {}, kOk},       {1, 99, 100, {}, 0x711108}};
  for (const auto& [flags, method, compressed, extra, code] : cases) {
    Bytes record = Record(u"n", extra);
    Put(record.data() + 8, flags, 2);
    Put(record.data() + 10, method, 2);
    Put(record.data() + 20, compressed, 4);
    EXPECT_EQ(ReadRecord(record, e, true), code) << flags << " " << method << " " << compressed;
    EXPECT_EQ(ReadRecord(record, e), kOk);
  }
  // The name check, with the backslash refused in names of this format.
  for (auto [name, code] : {std::pair{u"../x", 0x103102u}, {u"a\\b", 0x103101u}, {u"..a/b..", 0u}}) {
    EXPECT_EQ(ReadRecord(Record(name), e, true), code);
  }
  uint8_t local[kMaxLocalHeader];
  ZipEntryInfo aes = Named(u"abc");
  aes.encryption = kAe1, aes.key_length = 16;
  WriteLocalHeader(local, 0, aes);
  size_t skip = 0;
  EXPECT_EQ(ParseLocalHeader(local, skip), kOk);
  EXPECT_EQ(skip, 3u + 11);
  Put(local + 26, 3072, 2);
  EXPECT_EQ(ParseLocalHeader(local, skip), 0x111201u);
  local[0] = 'X';
  EXPECT_EQ(ParseLocalHeader(local, skip), 0x821201u);
}

TEST(CentralReader, ExtraFields) {
  Bytes record = Record(u"n");
  Put(record.data() + 8, 0x0841, 2);   // encrypted, strong, UTF-8
  Put(record.data() + 10, 0x010C, 2);  // only the low byte counts
  Put(record.data() + 38, 0x81A40021, 4);
  ZipEntryInfo e;
  ReadRecord(record, e);
  EXPECT_EQ(std::tuple(e.encryption, e.method, e.utf8_name, e.attributes),
            std::tuple(kStrongUnknown, 12u, 1u, 0x81A40021u));
  record[5] = 3;  // made on Unix: not Windows attribute bits
  ReadRecord(record, e);
  EXPECT_EQ(e.attributes, 0u);

  Bytes ntfs(32, 0), unix_time = {1, 0, 0, 0, 0};
  Put(ntfs.data() + 6, 16, 2);  // attribute size: modification and access only
  for (int i = 0; i < 3; ++i) Put(ntfs.data() + 8 + 8 * i, 111 * (i + 1), 8);
  Put(unix_time.data() + 1, 1700000000, 4);
  Bytes cut = Field(0x9901, {2, 0, 'A', 'E', 3, 12, 0});
  cut[2] = 8;  // reaches past the area: not read
  Bytes area;
  for (const Bytes& f : {Field(0x5455, unix_time), Field(0x000A, ntfs), Field(0x0015, {1, 0, 'S'}), cut}) {
    area.insert(area.end(), f.begin(), f.end());
  }
  ASSERT_EQ(ReadRecord(Record(u"n", area), e, true), kOk);
  EXPECT_EQ(std::tuple(e.ntfs_times, e.modification, e.access, e.creation, e.encryption, e.signature_length),
            std::tuple(1u, 111u, 222u, 0u, kNoEncryption, 1u));
  ReadRecord(Record(u"n", Field(0x5455, unix_time)), e);  // the next record keeps nothing of this one
  EXPECT_EQ(std::tuple(e.modification, e.ntfs_times, e.signature_length),
            std::tuple(frame::UnixToFileTime(1700000000), 0u, 0u));

  // Kind, key length, method, strong flags.
  const std::pair<Bytes, std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>> ciphers[] = {
      {Field(0x0017, {2, 0, 0x03, 0x66, 0xA8, 0, 0xFF, 0xFF, 0, 0, 0, 0}), {kStrong3Des, 21, 0, 0x4103}},
      {Field(0x0017, {2, 0, 0x10, 0x66, 0, 1, 1, 0, 0, 0, 0, 0}), {kStrongAes, 32, 0, 1}},
      {Field(0x0017, {2, 0, 0x01, 0x68, 0, 1, 1, 0, 0, 0, 0, 0}), {kStrongUnknown, 0, 0, 1}},
      {Field(0x9901, {2, 0, 'A', 'E', 3, 12, 0}), {kAe2, 32, 12, 1}},
      {Field(0x9901, {7, 0, 'A', 'E', 3, 8, 0}), {kStrongUnknown, 32, 8, 1}}};  // no such version
  for (const auto& [field, want] : ciphers) {
    ReadRecord(Record(u"n", field), e);
    EXPECT_EQ(std::tuple(e.encryption, e.key_length, e.method, e.strong_flags), want);
  }

  // Zip64: ours holds both sizes and then the offset; others only what overflowed, in order.
  const std::pair<std::tuple<uint32_t, uint32_t, uint32_t, size_t>, std::tuple<uint64_t, uint64_t, uint64_t>>
      zip64[] = {{{7, 6, 0xFFFFFFFF, 24}, {7, 6, 3}},
                 {{0xFFFFFFFF, 6, 5, 16}, {1, 6, 5}},
                 {{7, 6, 0xFFFFFFFF, 8}, {7, 6, 1}},
                 {{0xFFFFFFFF, 6, 0xFFFFFFFF, 16}, {1, 6, 2}},
                 {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 24}, {1, 2, 3}}};
  for (const auto& [fields, want] : zip64) {
    const auto [uncompressed, compressed, offset, size] = fields;
    Bytes values(size);
    for (size_t i = 0; i < size / 8; ++i) Put(values.data() + 8 * i, i + 1, 8);
    record = Record(u"n", Field(0x0001, values));
    Put(record.data() + 20, compressed, 4);
    Put(record.data() + 24, uncompressed, 4);
    Put(record.data() + 42, offset, 4);
    uint64_t read_offset = 0;
    ReadRecord(record, e, false, &read_offset);
    EXPECT_EQ(std::tuple(e.uncompressed_size, e.compressed_size, read_offset), want);
  }
}

TEST(Names, CodePage437WithoutUtf8Flag) {
  auto read = [](const Bytes& name, uint16_t flags, ZipEntryInfo& e) {
    Bytes record = Record(u"");
    record.insert(record.begin() + 46, name.begin(), name.end());
    Put(record.data() + 28, name.size(), 2);
    Put(record.data() + 8, flags, 2);
    return ReadRecord(record, e);
  };
  ASSERT_TRUE(platform::SetNameCodePage(437));  // whatever the locale of the run
  ZipEntryInfo e;
  read({0x80, 0x81, 0xE1, '.', 't'}, 0, e);
  EXPECT_EQ(Name(e), u"\u00c7\u00fc\u00df.t");
  read({0xC3, 0xA9, '/', 0xE2, 0x82, 0xAC}, 0, e);  // valid UTF-8 stays UTF-8
  EXPECT_EQ(Name(e), u"\u00e9/\u20ac");
  EXPECT_EQ(read({0x80, 'x'}, 0x0800, e), 0x1201101u);
  EXPECT_EQ(read({'a', 0, 'b'}, 0, e), 0x1201101u);  // a zero byte would make it another name
  EXPECT_EQ(read(Bytes(1024, 0x80), 0, e), 0x1201101u);
  // The whole upper half against Python's code page 437 codec.
  Bytes high(128);
  for (int b = 0; b < 128; ++b) high[b] = static_cast<uint8_t>(0x80 + b);
  ASSERT_EQ(read(high, 0, e), kOk);
  int status = -1;
  std::string expected = test::Shell(
      "/usr/bin/python3 -c \"import sys; sys.stdout.write(bytes(range(128,256)).decode('cp437')"
      ".encode('utf-16-le').hex())\"",
      &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(test::Hex(e.name.units, 256), expected);
  platform::SetNameCodePage(0);
}

}  // namespace
}  // namespace tx::zip
