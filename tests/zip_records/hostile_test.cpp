// Hostile input: length and size fields swept over boundary and random values, archives
// truncated at every byte and with every bit flipped. Readers get heap blocks of exactly the
// bytes they may read, so the sanitizer build sees any overread.
#include <gtest/gtest.h>

#include <random>

#include "records_test_util.h"

namespace tx::zip {
namespace {

using namespace testutil;

constexpr uint32_t kValues[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,      9,      15,    16,
                                17, 23, 24, 25, 31, 32, 33, 46, 0x7FFF, 0xFFFE, 0xFFFF};

// A central record with every extra field the reader knows.
Bytes RichRecord() {
  ZipEntryInfo e;
  SetName(e, u"dir/n\u00e9me");
  e.encryption = kAe2;
  e.key_length = 32;
  e.ntfs_times = 1;
  e.compressed_size = 6ull << 30;
  e.signature_length = 20;
  auto state = NewState();
  state->signing_flags = 3;
  state->certificate_store_length = state->cd_signature_length = 10;
  Bytes out(kMaxCentralHeader);
  out.resize(WriteCentralHeader(out.data(), 7ull << 30, e, *state));
  const Bytes more[] = {Field(0x5455, {1, 1, 2, 3, 4}),
                        Field(0x0017, {2, 0, 0x0E, 0x66, 128, 0, 1, 0, 0, 0, 0, 0})};
  for (const Bytes& f : more) out.insert(out.end(), f.begin(), f.end());
  Put(out.data() + 30, out.size() - 46 - U16(out.data() + 28), 2);
  return out;
}

TEST(Hostile, FieldSweeps) {
  auto read_copy = [](Bytes bytes, bool validate) {
    auto state = NewState();
    ZipEntryInfo entry;
    uint64_t offset = 0;
    size_t length = 0;
    if (ReadCentralRecord(bytes.data(), bytes.size(), offset, validate, length, entry, *state) == kOk) {
      EXPECT_LE(length, bytes.size());
    }
  };
  std::mt19937 random(1);
  const Bytes rich = RichRecord();
  std::vector<size_t> sizes = {28, 30, 32};  // name, extra and comment lengths, then each field's size
  for (size_t p = 46 + U16(rich.data() + 28); p + 4 <= rich.size(); p += 4 + U16(rich.data() + p + 2)) {
    sizes.push_back(p + 2);
  }
  ASSERT_EQ(sizes.size(), 3u + 8);
  for (size_t at : sizes) {
    for (uint32_t v : kValues) {
      for (uint32_t value : {v, static_cast<uint32_t>(random() & 0xFFFF)}) {
        Bytes record = rich;
        Put(record.data() + at, value, 2);
        read_copy(record, true);
        read_copy(Bytes(record.begin(), record.begin() + static_cast<ptrdiff_t>(at) + 2), false);
      }
    }
  }
  for (int i = 0; i < 3000; ++i) {  // a few random bytes anywhere
    Bytes record = rich;
    for (int k = 0; k <= i % 4; ++k) record[random() % record.size()] = static_cast<uint8_t>(random());
    read_copy(record, i % 2 == 0);
  }

  auto written = NewState();  // Zip64 version 2 with a cipher and a digest, locator, end record
  written->cd_flags = 3;
  written->hash_algorithm = kHashSha1;
  ZipEntryInfo cipher;
  cipher.encryption = kStrongAes, cipher.key_length = 16;
  Bytes tail(kMaxEndRecords);
  tail.resize(WriteEndRecords(tail.data(), cipher, *written));
  for (size_t at = 0; at + 2 <= tail.size(); ++at) {
    for (uint64_t v : kValues) {
      Bytes patched = tail;
      Put(patched.data() + at, v * 0x0001000100010001, std::min<size_t>(8, patched.size() - at));
      auto state = NewState();
      ReadTail(patched.data(), patched.size(), cipher, *state);
    }
  }

  for (int i = 0; i < 2000; ++i) {
    Bytes area(random() % 100);
    for (size_t at = 0; at + 6 <= area.size(); at += 6 + random() % 20) {
      Put(area.data() + at, i % 2 ? 0x0014 : 0x0019, 2);
      Put(area.data() + at + 2, kValues[random() % std::size(kValues)] + i % 3 * 0xFFFFFF00u, 4);
    }
    auto state = NewState();
    ReadArchiveExtraData(area.data(), area.size(), *state);
  }
}

// What an unpacker does with the readers: the tail, the central directory inside the file,
// every record validated, every local header and member inside the file.
StatusCode ReadArchive(const Bytes& file) {
  constexpr StatusCode kOutside = 0x600000;
  Bytes tail(file.end() - static_cast<ptrdiff_t>(std::min<size_t>(file.size(), 65536)), file.end());
  auto state = NewState();
  ZipEntryInfo entry;
  if (StatusCode code = ReadTail(tail.data(), tail.size(), entry, *state)) return code;
  if (state->cd_offset > file.size() || state->cd_size > file.size() - state->cd_offset) return kOutside;
  const auto begin = file.begin() + static_cast<ptrdiff_t>(state->cd_offset);
  Bytes directory(begin, begin + state->cd_size);
  for (size_t i = 0, at = 0, length = 0; i < state->entry_count; ++i, at += length) {
    uint64_t offset = 0;
    if (StatusCode code = ReadCentralRecord(directory.data() + at, directory.size() - at, offset, true,
                                            length, entry, *state)) {
      return code;
    }
    if (offset > file.size() || file.size() - offset < 30) return kOutside;
    Bytes header(file.begin() + static_cast<ptrdiff_t>(offset),
                 file.begin() + static_cast<ptrdiff_t>(offset + 30));
    size_t skip = 0;
    if (StatusCode code = ParseLocalHeader(header.data(), skip)) return code;
    if (file.size() - offset - 30 < skip + entry.compressed_size) return kOutside;
  }
  return kOk;
}

// Stored members as the packer lays them out; empty ones are folders.
Bytes Assemble(std::initializer_list<std::pair<std::u16string_view, std::string_view>> members) {
  Bytes archive, directory;
  uint8_t header[kMaxCentralHeader];
  auto state = NewState();
  for (const auto& [name, content] : members) {
    ZipEntryInfo e = Named(name);
    e.ntfs_times = 1, e.attributes = content.empty() ? 0x10 : 0x20;
    e.uncompressed_size = e.compressed_size = content.size();
    const uint64_t offset = archive.size();
    archive.insert(archive.end(), header, header + WriteLocalHeader(header, 0, e));
    archive.insert(archive.end(), content.begin(), content.end());
    directory.insert(directory.end(), header, header + WriteCentralHeader(header, offset, e, *state));
  }
  state->entry_count = static_cast<uint32_t>(members.size());
  state->cd_offset = archive.size();
  state->cd_size = static_cast<uint32_t>(directory.size());
  archive.insert(archive.end(), directory.begin(), directory.end());
  archive.insert(archive.end(), header, header + WriteEndRecords(header, Named(u""), *state));
  return archive;
}

TEST(Hostile, TruncationsFlipsAndFalseCounts) {
  const Bytes archive = Assemble({{u"a.txt", "alpha"}, {u"d/", ""}, {u"d/b", "bravo"}});
  ASSERT_EQ(ReadArchive(archive), kOk);
  for (size_t size = 0; size < archive.size(); ++size) {
    EXPECT_NE(ReadArchive(Bytes(archive.begin(), archive.begin() + static_cast<ptrdiff_t>(size))), kOk)
        << size;
  }
  size_t failed = 0;
  for (size_t bit = 0; bit < archive.size() * 8; ++bit) {
    Bytes flipped = archive;
    flipped[bit / 8] ^= static_cast<uint8_t>(1 << bit % 8);
    const StatusCode code = ReadArchive(flipped);
    failed += code != kOk;
    // The first local signature, the end record's signature and the directory's offset.
    const size_t byte = bit / 8, from_end = archive.size() - byte;
    if (byte < 4 || (from_end <= 22 && from_end > 18) || (from_end <= 6 && from_end > 2)) {
      EXPECT_NE(code, kOk);
    }
  }
  EXPECT_GT(failed, archive.size() / 2);  // the rest fall in data, times, CRCs, attributes

  Bytes claims = archive;  // 65535 entries in a directory of three
  Put(claims.data() + claims.size() - 14, 0xFFFFFFFF, 4);
  EXPECT_EQ(ReadArchive(claims), 0x711101u);
  claims = archive;
  Put(claims.data() + claims.size() - 10, 0xFFFFFFF0, 4);  // directory size beyond the file
  EXPECT_EQ(ReadArchive(claims), 0x600000u);
}

}  // namespace
}  // namespace tx::zip
