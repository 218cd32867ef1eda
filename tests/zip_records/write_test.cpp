// The record writers: exact bytes of headers, extra fields and end records, read back.
#include <gtest/gtest.h>

#include <tuple>

#include "records_test_util.h"
#include "test_support.h"

namespace tx::zip {
namespace {

using namespace testutil;
using test::Hex;

constexpr uint64_t kGiB = uint64_t{1} << 30;

TEST(LocalHeader, EmptyLargeAndMasked) {
  // Levels show only for Deflate and BZip2.
  ZipEntryInfo e = Named(u"a");
  e.level = 9, e.dos_time = 0x1234, e.dos_date = 0x5678;
  uint8_t out[kMaxLocalHeader];
  EXPECT_EQ(Hex(out, WriteLocalHeader(out, 0, e)),
            H("504b0304 0a00 0000 0000 34127856 00000000 00000000 00000000 "
              "0100 0000 61"));
  // 3.5 GiB deflated: a Zip64 field, and 0xFFFFFFFF in the 32-bit fields of its values.
  e.method = kDeflate;
  e.uncompressed_size = 3 * kGiB + kGiB / 2;
  e.compressed_size = 3 * kGiB;
  size_t n = WriteLocalHeader(out, 0, e);
  EXPECT_EQ(Hex(out + 4, n - 4), H("2d00 0200 0800 34127856 00000000 ffffffff ffffffff 0100 1400 61 "
                                   "0100 1000 000000e000000000 000000c000000000"));
  e.uncompressed_size = e.compressed_size = 10;  // the rewrite keeps the field
  EXPECT_EQ(WriteLocalHeader(out, 0, e), n);
  // Masked: name "1", no extra field, only the compressed size left.
  e = Named(u"x");
  e.method = kBzip2, e.level = 1, e.encryption = kAe1, e.key_length = 32, e.crc32 = 7, e.utf8_name = 1,
  e.compressed_size = 10, e.dos_time = 1;
  EXPECT_EQ(Hex(out, WriteLocalHeader(out, 2, e)),
            H("504b0304 2e00 0728 6300 00000000 00000000 0a000000 00000000 0100 0000 31"));
}

TEST(CentralHeader, ExtraFieldsInOrderAndArchiveFieldsOnce) {
  ZipEntryInfo e = Named(u"n");
  e.method = kDeflate, e.level = 9, e.encryption = kStrongAes, e.key_length = 24, e.strong_flags = 1,
  e.ntfs_times = 1, e.uncompressed_size = 6 * kGiB, e.compressed_size = 2000,
  e.modification = 0x01D0000000000001, e.creation = 0x01D0000000000003, e.access = 0x01D0000000000002,
  e.signature[0] = 0xAA, e.signature_length = 1;
  auto state = NewState();
  state->signing_flags = 3;
  state->cd_signature_length = state->certificate_store_length = 1;
  state->cd_signature[0] = 0x11;
  state->certificate_store[0] = 0x99;
  uint8_t out[kMaxCentralHeader];
  size_t n = WriteCentralHeader(out, 77, e, *state);
  EXPECT_EQ(Hex(out, n),
            H("504b0102 3e00 3300 4300 0800 00000000 00000000 ffffffff ffffffff 0100 6100 0000 0000 "
              "0000 00000000 4d000000 6e "
              "0a00 2000 00000000 0100 1800 010000000000d001 020000000000d001 030000000000d001 "
              "1700 0c00 0200 0f66 c000 0100 00000000 1500 0300 0100 aa 1600 0300 0100 11 "
              "1400 0700 0100 99 00000000 0100 1000 0000008001000000 d007000000000000"));
  EXPECT_EQ(state->signing_flags, 19u);
  // Later headers carry no archive fields; certificate mode has the recipient data.
  e = Named(u"n");
  e.method = kDeflate, e.encryption = kStrong3Des, e.key_length = 21, e.strong_flags = 0x4102;
  state->recipient_data_length = 28;
  n = WriteCentralHeader(out, 77, e, *state);
  EXPECT_EQ(Hex(out + 6, 2), "3d00");  // 61: certificates and key wrapping without OAEP
  EXPECT_EQ(Hex(out + 47, n - 47 - 28), H("1700 2400 0200 0366 a800 0241"));

  // Offset above 4 GiB with small sizes: a 24-byte field with both sizes and the offset,
  // each marked 0xFFFFFFFF in its 32-bit field.
  e = Named(u"n");
  e.method = kDeflate, e.level = 2, e.encryption = kAe2, e.key_length = 16, e.strong_flags = 1, e.crc32 = 5,
  e.attributes = 0x21, e.uncompressed_size = 10, e.compressed_size = 400;
  n = WriteCentralHeader(out, 5 * kGiB, e, *state);
  EXPECT_EQ(Hex(out + 6, n - 6),
            H("2d00 0500 6300 00000000 00000000 ffffffff ffffffff 0100 2700 0000 0000 0000 "
              "21000000 ffffffff 6e 0199 0700 0200 4145 01 0800 "
              "0100 1800 0a00000000000000 9001000000000000 0000004001000000"));
  // Archives written before kept the real sizes in the 32-bit fields; both read the same.
  Bytes old(out, out + n);
  const uint8_t sizes[8] = {0x90, 0x01, 0, 0, 0x0a, 0, 0, 0};
  for (size_t i = 0; i < sizeof sizes; ++i) old.at(20 + i) = sizes[i];
  for (const Bytes& record : {Bytes(out, out + n), old}) {
    ZipEntryInfo back;
    uint64_t offset = 0;
    size_t length = 0;
    ASSERT_EQ(ReadCentralRecord(record.data(), record.size(), offset, true, length, back, *state), kOk);
    EXPECT_EQ(offset, 5 * kGiB);
    EXPECT_EQ(back.compressed_size, 400u);
    EXPECT_EQ(back.uncompressed_size, 10u);
  }
}

TEST(EndRecords, PlainZip64AndVersion2) {
  auto state = NewState();
  state->entry_count = 70000;
  state->cd_size = 0x1000;
  state->cd_offset = 0x2000;
  uint8_t out[kMaxEndRecords];
  ZipEntryInfo last;
  last.method = kBzip2;
  size_t n = WriteEndRecords(out, last, *state);
  EXPECT_EQ(Hex(out, n), H("504b0606 2c00000000000000 3e00 2e00 00000000 00000000 7011010000000000 "
                           "7011010000000000 0010000000000000 0020000000000000 "
                           "504b0607 00000000 0030000000000000 01000000 "
                           "504b0506 0000 0000 ffff ffff 00100000 00200000 0000"));
  // Compressed and encrypted, signed: end record 0/0xFFFF, version 2 needing 62.
  state->entry_count = 2;
  state->cd_flags = 3;
  state->cd_size = 0x200 + 8 + 5;  // with a digital signature record of 5 bytes
  state->cd_original_size = 0x345;
  state->signing_flags = 1 + 16;
  state->cd_signature_length = 5;
  state->hash_algorithm = kHashMd5;
  std::memset(state->hash, 0x77, 16);
  ZipEntryInfo cipher;
  cipher.method = kDeflate, cipher.encryption = kStrongAes, cipher.key_length = 32,
  cipher.strong_flags = 0x4003;
  n = WriteEndRecords(out, cipher, *state);
  EXPECT_EQ(Hex(out, n), H("504b0606 5800000000000000 3e00 3e00 00000000 00000000 0000000000000000 "
                           "0200000000000000 0d02000000000000 0020000000000000 0800 0002000000000000 "
                           "4503000000000000 1066 0001 0340 0380 1000 77777777777777777777777777777777 "
                           "504b0607 00000000 0d22000000000000 01000000 "
                           "504b0506 0000 0000 0000 ffff 0d020000 00200000 0000"));
  ZipEntryInfo found;
  auto back = NewState();
  ASSERT_EQ(ReadTail(out, n, found, *back), kOk);
  EXPECT_EQ(std::tuple(back->entry_count, back->cd_flags, back->cd_size, back->cd_original_size,
                       Hex(back->hash, 16)),
            std::tuple(2u, 3u, 0x20du, 0x345u, Hex(state->hash, 16)));
}

TEST(ArchiveExtraData, WrittenAndReadBack) {
  auto state = NewState();
  state->cd_flags = 1;
  state->signing_flags = 1;
  std::memcpy(state->recipient_list, "RL", state->recipient_list_length = 2);
  std::memcpy(state->cd_signature, "SIG", state->cd_signature_length = 3);
  std::memcpy(state->certificate_store, "CERT", state->certificate_store_length = 4);
  uint8_t out[200];
  size_t n = ArchiveExtraData(out, *state);
  EXPECT_EQ(Hex(out, n), H("504b0608 29000000 1900 08000000 0100 524c 00000000 1600 05000000 0100 534947 "
                           "1400 0a000000 0100 43455254 00000000"));
  auto back = NewState();
  ReadArchiveExtraData(out + 8, n - 8, *back);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back->certificate_store), back->certificate_store_length),
            "CERT");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back->recipient_list), back->recipient_list_length), "RL");
  EXPECT_EQ(Hex(out, WriteSignatureRecord(out, *state)), H("504b0505 0500 0100 534947"));
  state->signing_flags = state->recipient_list_length = 0;
  EXPECT_EQ(ArchiveExtraData(out, *state), 0u);
}

TEST(Names, WrittenAsUtf8AndReadBack) {
  auto state = NewState();
  uint8_t out[kMaxCentralHeader];
  for (auto [name, utf8] : {std::pair{std::u16string(u"d\u00e9j\u00e0/\u65e5\U0001F600"), 1u},
                            {std::u16string(u"\u00e9t\u00e9"), 0u},
                            {std::u16string(1023, u'n'), 1u}}) {
    ZipEntryInfo e = Named(name), back;
    e.utf8_name = utf8;
    size_t n = WriteCentralHeader(out, 0, e, *state);
    uint64_t offset;
    ASSERT_EQ(ReadCentralRecord(out, n, offset, true, n, back, *state), kOk);
    EXPECT_EQ(std::pair(Name(back), back.utf8_name), std::pair(name, utf8));
  }
  // An unpaired surrogate, which no converted path holds, still gives valid UTF-8.
  ZipEntryInfo odd = Named(u"a\xD800z");
  EXPECT_EQ(Hex(out + 30, WriteLocalHeader(out, 0, odd) - 30), "61efbfbd7a");
}

}  // namespace
}  // namespace tx::zip
