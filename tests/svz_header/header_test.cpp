// 7z header bytes: numbers, folder records, main and encoded headers written and read back,
// the start-header search, and the reader's refusals of headers no writer produces.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/crc.h"
#include "svz/svz_header.h"
#include "svz/svz_index.h"

namespace tx::svz {
namespace {

Bytes Number(uint64_t v) {
  Bytes out;
  AppendNumber(out, v);
  return out;
}

TEST(SvzNumbers, ShortestFormsAndRoundTrip) {
  EXPECT_EQ(Number(0x7F), (Bytes{0x7F}));
  EXPECT_EQ(Number(0x3FFF), (Bytes{0xBF, 0xFF}));
  EXPECT_EQ(Number(0x4000), (Bytes{0xC0, 0x00, 0x40}));
  EXPECT_EQ(Number(uint64_t{1} << 56).size(), 9u);
  EXPECT_EQ(Number((uint64_t{1} << 56) - 1), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  for (int bit = 0; bit < 64; ++bit) {
    for (uint64_t v : {uint64_t{1} << bit, (uint64_t{1} << bit) - 1, ~uint64_t{0} >> bit}) {
      Bytes b = Number(v);
      uint64_t back = 0;
      size_t length = 0;
      ASSERT_TRUE(ReadNumber(b.data(), b.size(), back, length));
      EXPECT_EQ(back, v);
      EXPECT_EQ(length, b.size());
      // Cut by one byte, the number is not there.
      EXPECT_FALSE(ReadNumber(b.data(), b.size() - 1, back, length));
    }
  }
}

CoderRecord Chain(uint32_t flags, uint32_t method) {
  CoderRecord c;
  c.chain_flags = flags;
  c.method = method;
  if (method == kLzma) {
    const uint8_t props[5] = {0x5D, 0x00, 0x00, 0x10, 0x00};
    std::memcpy(c.properties, props, 5);
  }
  return c;
}

TEST(SvzCoders, WrittenRecordsParseBackToTheSameChain) {
  CoderRecord aes = Chain(kChainCompress | kChainAes | kChainBcj, kLzma);
  aes.cycles_power = 19;
  aes.salt_size = aes.iv_size = 16;
  for (int i = 0; i < 16; ++i)
    aes.salt[i] = static_cast<uint8_t>(i), aes.iv[i] = static_cast<uint8_t>(0xA0 + i);
  Bytes out;
  WriteCoders(out, aes);
  EXPECT_EQ(aes.coder_count, 3u);
  // The AES coder's properties: 34 bytes, the second one 0xFF for 16-byte salt and IV.
  ASSERT_GE(out.size(), 9u);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 0x24);
  EXPECT_EQ(out[6], 34);
  EXPECT_EQ(out[7], 0x80 | 0x40 | 19);
  EXPECT_EQ(out[8], 0xFF);
  EXPECT_EQ(Bytes(out.end() - 4, out.end()), (Bytes{0x01, 0x00, 0x02, 0x01}));

  Cursor c(out.data(), out.size());
  CoderRecord back;
  ChainLayout layout;
  ASSERT_EQ(ParseCoders(c, back, layout), kOk);
  EXPECT_EQ(c.pos(), out.size());
  EXPECT_TRUE(layout.linear);
  EXPECT_EQ(back.chain_flags, aes.chain_flags);
  EXPECT_EQ(back.method, kLzma);
  EXPECT_EQ(back.cycles_power, 19u);
  EXPECT_EQ(0, std::memcmp(back.salt, aes.salt, 16));
  EXPECT_EQ(0, std::memcmp(back.iv, aes.iv, 16));
  EXPECT_EQ(layout.aes_out, 0);
  EXPECT_EQ(layout.method_out, 1);
  EXPECT_EQ(layout.final_out, 2);

  // Without salt and IV the properties are the single cycles byte.
  CoderRecord plain = Chain(kChainAes, kCopy);
  plain.cycles_power = 6;
  out.clear();
  WriteCoders(out, plain);
  EXPECT_EQ(out, (Bytes{0x01, 0x24, 0x06, 0xF1, 0x07, 0x01, 0x01, 0x06}));
}

TEST(SvzCoders, ChainsInOtherOrdersAndShapes) {
  // As 7-Zip lists them: BCJ first, its input bound to LZMA's output, AES last.
  Bytes record = {0x03, 0x04, 0x03, 0x03, 0x01, 0x03,                 // BCJ, coder 0
                  0x23, 0x03, 0x01, 0x01, 0x05, 0x5D, 0,    0, 1, 0,  // LZMA, coder 1
                  0x24, 0x06, 0xF1, 0x07, 0x01, 0x01, 0x13,           // AES, coder 2
                  0x00, 0x01, 0x01, 0x02};                            // BCJ <- LZMA, LZMA <- AES
  Cursor c(record.data(), record.size());
  CoderRecord coder;
  ChainLayout layout;
  ASSERT_EQ(ParseCoders(c, coder, layout), kOk);
  EXPECT_TRUE(layout.linear);
  EXPECT_EQ(coder.chain_flags, kChainCompress | kChainAes | kChainBcj);
  EXPECT_EQ(layout.final_out, 0);
  EXPECT_EQ(layout.method_out, 1);
  EXPECT_EQ(layout.aes_out, 2);

  // BCJ2 has four inputs: recognised and named, but not a chain.
  Bytes bcj2 = {0x02, 0x14, 0x03, 0x03, 0x01, 0x1B, 0x04, 0x01, 0x23, 0x03, 0x01,
                0x01, 0x05, 0x5D, 0,    0,    1,    0,    0x00, 0x01,  // coder 0 input 0 <- coder 1 output
                0x01, 0x02, 0x03, 0x04};                               // packed inputs
  Cursor c2(bcj2.data(), bcj2.size());
  ASSERT_EQ(ParseCoders(c2, coder, layout), kOk);
  EXPECT_FALSE(layout.linear);
  EXPECT_TRUE(coder.chain_flags & kChainBcj2);
  EXPECT_EQ(layout.pack_streams, 4u);

  // LZMA2 (id 21) keeps its dictionary byte.
  Bytes lzma2 = {0x01, 0x21, 0x21, 0x01, 0x18};
  Cursor c3(lzma2.data(), lzma2.size());
  ASSERT_EQ(ParseCoders(c3, coder, layout), kOk);
  EXPECT_EQ(coder.method, kLzma2);
  EXPECT_EQ(coder.properties_size, 1u);
  EXPECT_EQ(coder.properties[0], 0x18);

  // Cycles power 63 and AES properties of the wrong length are refused.
  Bytes cycles63 = {0x01, 0x24, 0x06, 0xF1, 0x07, 0x01, 0x01, 0x3F};
  Cursor c4(cycles63.data(), cycles63.size());
  EXPECT_EQ(ParseCoders(c4, coder, layout), 0x00771411u);
  Bytes short_props = {0x01, 0x24, 0x06, 0xF1, 0x07, 0x01, 0x03, 0xC0, 0x00, 0x01};
  Cursor c5(short_props.data(), short_props.size());
  EXPECT_EQ(ParseCoders(c5, coder, layout), 0x00771413u);

  // Every cut of a record fails without reading past it.
  for (size_t n = 0; n < record.size(); ++n) {
    Bytes cut(record.begin(), record.begin() + static_cast<long>(n));
    Cursor cc(cut.data(), cut.size());
    EXPECT_NE(ParseCoders(cc, coder, layout), kOk) << n;
  }
}

// A main header of one folder per file, as the non-solid packer writes it.
Bytes TwoFileHeader(HeaderCounts& counts) {
  HeaderBlobs b;
  counts = HeaderCounts{2, 2, 4, 2, 1, 1};
  for (uint64_t size : {300u, 5u}) {
    AppendNumber(b.pack_sizes, size);
    CoderRecord c = Chain(kChainCompress, kCopy);
    WriteCoders(b.folders, c);
    AppendNumber(b.unpack_sizes, size);
    for (int i = 0; i < 4; ++i) b.crcs.push_back(static_cast<uint8_t>(size + i));
  }
  b.empty_stream = {0x30};  // entries 2 and 3 have no data
  b.empty_file = {0x80};    // entry 2 is an empty file, entry 3 a folder
  for (const char16_t* name : {u"a.txt", u"d/b.bin", u"e", u"d"}) {
    for (const char16_t* p = name; *p; ++p) b.names.insert(b.names.end(), {uint8_t(*p), uint8_t(*p >> 8)});
    b.names.insert(b.names.end(), {0, 0});
  }
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 8; ++k) b.modification_times.push_back(static_cast<uint8_t>(i + k));
    for (int k = 0; k < 4; ++k) b.attributes.push_back(k == 0 ? (i == 3 ? 0x10 : 0x20) : 0);
  }
  Bytes header;
  WriteMainHeader(header, counts, b);
  return header;
}

TEST(SvzMainHeader, WrittenHeadersIndexBack) {
  HeaderCounts counts;
  Bytes header = TwoFileHeader(counts);
  ArchiveIndex index;
  ASSERT_EQ(IndexMainHeader(header.data(), header.size(), index), kOk);
  EXPECT_EQ(index.counts.files, 4u);
  EXPECT_EQ(index.counts.folders, 2u);
  EXPECT_EQ(index.counts.unpack_streams, 2u);
  EXPECT_EQ(index.counts.empty_files, 1u);
  EXPECT_EQ(index.counts.directories, 1u);
  EXPECT_EQ(index.packed_end, 305u);
  ASSERT_EQ(index.entries.size(), 4u);
  EXPECT_EQ(std::u16string(index.name(index.entries[1])), u"d/b.bin");
  EXPECT_EQ(index.entries[1].kind, EntryKind::kData);
  EXPECT_EQ(index.entries[2].kind, EntryKind::kEmptyFile);
  EXPECT_EQ(index.entries[3].kind, EntryKind::kDirectory);
  EXPECT_EQ(index.entries[3].attributes, 0x10u);
  EXPECT_EQ(index.folders[1].pack_offset, 300u);
  EXPECT_EQ(index.streams[1].size, 5u);
  EXPECT_EQ(index.streams[1].crc, 0x08070605u);

  // One empty file: no streams information at all.
  HeaderBlobs b;
  b.empty_stream = {0x80};
  b.empty_file = {0x80};
  b.names = {'x', 0, 0, 0};
  b.modification_times.assign(8, 0);
  b.attributes = {0x20, 0, 0, 0};
  Bytes empty;
  WriteMainHeader(empty, HeaderCounts{0, 0, 1, 0, 1, 0}, b);
  EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 10),
            (Bytes{0x01, 0x05, 0x01, 0x0E, 0x01, 0x80, 0x0F, 0x01, 0x80, 0x11}));
  ASSERT_EQ(IndexMainHeader(empty.data(), empty.size(), index), kOk);
  EXPECT_EQ(index.entries[0].kind, EntryKind::kEmptyFile);
}

TEST(SvzMainHeader, SevenZipVariantsAreRead) {
  HeaderCounts counts;
  Bytes header = TwoFileHeader(counts);
  // Padding and access times between the names and the modification times, as 7-Zip
  // writes them; a property's data must fill exactly its declared size.
  size_t mtime = 0;
  for (size_t i = header.size() - 2; i-- > 0;)
    if (header[i] == kMTime && header[i + 1] == 34) mtime = i;
  ASSERT_NE(mtime, 0u);
  Bytes extra = {kDummy, 3, 0, 0, 0, kATime, 34, 1, 0};
  extra.resize(extra.size() + 32, 7);
  header.insert(header.begin() + static_cast<long>(mtime), extra.begin(), extra.end());
  ArchiveIndex index;
  ASSERT_EQ(IndexMainHeader(header.data(), header.size(), index), kOk);
  EXPECT_EQ(index.counts.files, 4u);
}

TEST(SvzMainHeader, HostileHeadersAreRefusedWithoutReadingPastThem) {
  HeaderCounts counts;
  Bytes header = TwoFileHeader(counts);
  ArchiveIndex index;
  // Every cut and every single-bit flip either reads or fails; none runs past the buffer
  // (the sanitizer build checks that).
  for (size_t n = 0; n < header.size(); ++n) {
    Bytes cut(header.begin(), header.begin() + static_cast<long>(n));
    EXPECT_NE(IndexMainHeader(cut.data(), cut.size(), index), kOk) << n;
    for (int bit = 0; bit < 8; ++bit) {
      Bytes flipped = header;
      flipped[n] ^= static_cast<uint8_t>(1 << bit);
      IndexMainHeader(flipped.data(), flipped.size(), index);
    }
  }
  // 2^32 files in a short header are refused before anything is allocated for them.
  Bytes many = {0x01, 0x05, 0xF1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_NE(IndexMainHeader(many.data(), many.size(), index), kOk);
  // Substream sizes larger than their folder.
  Bytes over = {0x01, 0x04, 0x06, 0x00, 0x01, 0x09, 0x0A, 0x00, 0x07, 0x0B, 0x01, 0x00, 0x01,
                0x01, 0x00, 0x0C, 0x0A, 0x00, 0x08, 0x0D, 0x02, 0x09, 0x0B, 0x00, 0x00};
  EXPECT_EQ(IndexMainHeader(over.data(), over.size(), index), 0x00751623u);
  // An anti item is not understood.
  Bytes anti = {0x01, 0x05, 0x01, 0x10, 0x01, 0x80, 0x00, 0x00};
  EXPECT_EQ(IndexMainHeader(anti.data(), anti.size(), index), 0x00751621u);
}

TEST(SvzEncodedHeader, WrittenAndParsed) {
  for (uint32_t flags : {kChainCompress, kChainAes, kChainCompress | kChainAes}) {
    CoderRecord coder = Chain(flags, kLzma);
    coder.cycles_power = 19;
    coder.iv_size = 16;
    EncodedSizes sizes{0xDEADBEEF, 1000, 400, 416};
    if (!(flags & kChainCompress)) sizes.compressed = 1000, sizes.packed = 1008;
    if (!(flags & kChainAes)) sizes.packed = sizes.compressed;
    Bytes out;
    WriteEncodedHeader(out, 12345, sizes, coder);
    uint64_t position = 0;
    EncodedSizes back;
    CoderRecord parsed;
    ASSERT_EQ(ParseEncodedHeader(out.data(), out.size(), position, back, parsed), kOk) << flags;
    EXPECT_EQ(position, 12345u);
    EXPECT_EQ(back.crc, sizes.crc);
    EXPECT_EQ(back.plain, 1000u);
    EXPECT_EQ(back.compressed, sizes.compressed);
    EXPECT_EQ(back.packed, sizes.packed);
    EXPECT_EQ(parsed.chain_flags, flags);
  }
}

TEST(SvzSignature, FoundWholeAndChecked) {
  std::vector<uint8_t> buffer(400, 0x37);
  WriteSignatureHeader(buffer.data() + 100, 77, 88, 0x12345678);
  SignatureInfo info;
  ASSERT_EQ(FindSignatureHeader(buffer.data(), buffer.size(), info), kOk);
  EXPECT_EQ(info.offset, 100u);
  EXPECT_EQ(info.next_offset, 77u);
  EXPECT_EQ(info.next_size, 88u);
  EXPECT_EQ(info.next_crc, 0x12345678u);
  // Version bytes are not examined.
  buffer[107] = 4;
  EXPECT_EQ(FindSignatureHeader(buffer.data(), buffer.size(), info), kOk);
  // Altered fields fail the start-header CRC.
  buffer[120] ^= 1;
  EXPECT_EQ(FindSignatureHeader(buffer.data(), buffer.size(), info), 0x00851301u);
  // A signature whose header the buffer cuts is not read.
  std::vector<uint8_t> tail(40, 0);
  std::memcpy(tail.data() + 20, kSignature, 6);
  EXPECT_EQ(FindSignatureHeader(tail.data(), tail.size(), info), 0x00841301u);
  EXPECT_EQ(FindSignatureHeader(tail.data(), 5, info), 0x00841301u);
}

}  // namespace
}  // namespace tx::svz
