// Members in LZMA (14), Zstandard (93) and XZ (95), plain and behind WinZip AES: written by
// 7-Zip and Python's zipfile or built here, extracted byte for byte; sizes that disagree
// with the stream, damaged LZMA headers, windows beyond the limits, and methods refused.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include "codec/block.h"
#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

std::string Text(size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "row " + std::to_string(i * 7 % 1000) + " of text\n";
  text.resize(size);
  return text;
}

std::string Zstd(const std::string& data) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3));
  return out;
}

std::string Xz(const std::string& data) {
  std::string out(lzma_stream_buffer_bound(data.size()), '\0');
  size_t used = 0;
  lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(data.data()),
                          data.size(), reinterpret_cast<uint8_t*>(out.data()), &used, out.size());
  out.resize(used);
  return out;
}

// Method 14's data: version, property size, properties, then a stream without end marker.
std::string LzmaMember(const std::string& data, uint16_t property_size = 5) {
  std::string out(data.size() + data.size() / 2 + 1024, '\0');
  uint8_t properties[5];
  size_t used = 0;
  codec::CompressBlock(codec::Method::kLzma, {}, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                       reinterpret_cast<uint8_t*>(out.data()), used, out.size(), properties);
  std::string header;
  Put16(header, 0x0910), Put16(header, property_size);
  return header + std::string(reinterpret_cast<char*>(properties), 5) + out.substr(0, used);
}

// A member whose stored bytes are `body` (encrypted for AES, with its salt and code).
Member Coded(const std::string& name, const std::string& data, uint16_t method, const std::string& body,
             int aes = 0) {
  Member m{.name = name, .data = body, .aes = aes, .password = "pw"};
  m.stored = StoredBytes(m);
  m.data = data;
  m.method = method;
  return m;
}

class ZipMethods : public ZipScratch {
 protected:
  // Extracts `archive` and compares the files with `expected`.
  void ExpectFiles(const std::string& archive, const std::map<std::string, std::string>& expected,
                   const char* password = nullptr) {
    std::string out = Out();
    ASSERT_EQ(Unpack2(archive, out, password), 0u) << archive;
    EXPECT_EQ(Tree(out), expected) << archive;
  }
};

TEST_F(ZipMethods, PeerArchivesExtractByteForByte) {
  const std::string text = Text(700000), random = RandomBytes(150000, 3);
  WriteFile(dir_ / "text.txt", text);
  WriteFile(dir_ / "random.bin", random);
  const std::map<std::string, std::string> both{{"text.txt", text}, {"random.bin", random}};
  const std::string inputs = " " + Quote(dir_ / "text.txt") + " " + Quote(dir_ / "random.bin");
  for (const char* switches : {"-mm=LZMA", "-mm=XZ", "-mm=LZMA -mem=AES256 -ppw", "-mm=XZ -mem=AES128 -ppw",
                               "-mm=LZMA -mem=ZipCrypto -ppw"}) {
    std::string archive = dir_ / ("7z" + std::to_string(++count_) + ".zip"), log;
    ASSERT_EQ(Peer("7zz a -tzip " + std::string(switches) + " " + Quote(archive) + inputs, &log), 0) << log;
    ExpectFiles(archive, both, "pw");
  }
  // zipfile writes LZMA with an end marker, flagged by bit 1.
  std::string archive = dir_ / "python.zip", log;
  ASSERT_EQ(Peer("python3 -c 'import sys, zipfile\n"
                 "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_LZMA) as z:\n"
                 "  z.write(sys.argv[2], \"text.txt\"); z.writestr(\"empty\", b\"\")' " +
                     Quote(archive) + " " + Quote(dir_ / "text.txt"),
                 &log),
            0)
      << log;
  EXPECT_EQ(Le(ReadFile(archive), 6, 2) & 2, 2u);
  ExpectFiles(archive, {{"text.txt", text}, {"empty", ""}});
}

TEST_F(ZipMethods, HandBuiltMembersPlainAndBehindAes) {
  const std::string text = Text(200000), random = RandomBytes(70000, 4);
  for (int aes : {0, 1, 2}) {
    std::vector<Member> members = {
        Coded("lzma.txt", text, 14, LzmaMember(text), aes),
        Coded("zstd.txt", text, 93, Zstd(text), aes),
        Coded("xz.bin", random, 95, Xz(random), aes),
        Coded("zstd0", "", 93, Zstd(""), aes),
        Coded("xz0", "", 95, Xz(""), aes),
        Coded("lzma0", "", 14, LzmaMember(""), aes),
    };
    std::string archive = Archive(members);
    ExpectFiles(archive,
                {{"lzma.txt", text},
                 {"zstd.txt", text},
                 {"xz.bin", random},
                 {"zstd0", ""},
                 {"xz0", ""},
                 {"lzma0", ""}},
                "pw");
    // The fixtures are right: 7-Zip reads them too (an empty XZ member it calls data after the end).
    std::string log;
    EXPECT_EQ(Peer("7zz t -ppw " + Quote(archive) + " -x!xz0", &log), 0) << log;
  }
  // Two XZ streams, the second with padding, make one member.
  std::string two = Xz(text) + Xz(random) + std::string(4, '\0');
  ExpectFiles(Archive({Coded("two", text + random, 95, two)}), {{"two", text + random}});
}

TEST_F(ZipMethods, SizesDamageAndLimitsGiveTheirCodes) {
  const std::string text = Text(150000);
  std::string lzma = LzmaMember(text), zstd = Zstd(text), xz = Xz(text);
  std::string marked;  // an end marker after the data, as bit 1 announces
  {
    std::string out(text.size() + 1024, '\0');
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_filter chain[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    size_t used = 0;
    lzma_raw_buffer_encode(chain, nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                           reinterpret_cast<uint8_t*>(out.data()), &used, out.size());
    uint32_t props_size = 0;
    uint8_t props[5];
    lzma_properties_size(&props_size, &chain[0]);
    lzma_properties_encode(&chain[0], props);
    marked = lzma.substr(0, 4) + std::string(reinterpret_cast<char*>(props), 5) + out.substr(0, used);
  }
  auto with = [](Member m, uint64_t declared) {
    m.uncompressed = declared;
    return m;
  };
  std::string bad_props = lzma;
  bad_props[4] = static_cast<char>(225);
  std::string huge_dictionary = lzma;
  huge_dictionary.replace(5, 4, "\xFF\xFF\xFF\xFF");
  // An XZ block header asking for a 4 GiB dictionary, its CRC made right.
  std::string huge_xz = xz;
  const size_t header = 12, header_size = (static_cast<uint8_t>(huge_xz[header]) + 1) * 4;
  const size_t filter = huge_xz.find("\x21\x01", header);
  ASSERT_LT(filter, header + header_size);
  huge_xz[filter + 2] = 40;
  const uint32_t crc =
      lzma_crc32(reinterpret_cast<const uint8_t*>(huge_xz.data() + header), header_size - 4, 0);
  std::string crc_bytes;
  Put32(crc_bytes, crc);
  huge_xz.replace(header + header_size - 4, 4, crc_bytes);
  // A Zstandard frame of window 2^31 holding one raw block.
  std::string huge_zstd = "\x28\xB5\x2F\xFD";
  huge_zstd += std::string(1, '\0') + static_cast<char>(21 << 3);
  Put32(huge_zstd, 4 << 3 | 1), huge_zstd.resize(huge_zstd.size() - 1), huge_zstd += "abcd";

  const std::vector<std::pair<Member, uint32_t>> cases = {
      {with(Coded("lzma", text, 14, lzma), 1000), 0x00311903},
      {with(Coded("marked", text, 14, marked, 2), 1000), 0x00311903},
      {with(Coded("zstd", text, 93, zstd), 1000), 0x00311903},
      {with(Coded("xz", text, 95, xz, 1), 1000), 0x00311903},
      {with(Coded("lzma", text, 14, lzma), text.size() + 1), 0x00311904},
      {with(Coded("marked", text, 14, marked), text.size() + 1), 0x00311904},
      {with(Coded("zstd", text, 93, zstd, 2), text.size() + 1), 0x00311904},
      {with(Coded("xz", text, 95, xz), text.size() + 1), 0x00311904},
      {Coded("tail", text, 14, lzma + "junk"), 0x00311905},
      {Coded("tail", text, 14, marked + "junk", 1), 0x00311905},
      {Coded("cut", text, 14, lzma.substr(0, lzma.size() - 100)), 0x00311932},
      {Coded("cut", text, 93, zstd.substr(0, zstd.size() - 100)), 0x00311942},
      {Coded("cut", text, 95, xz.substr(0, xz.size() - 100)), 0x00311952},
      {Coded("junk", text, 93, zstd + "junk"), 0x00311941},
      {Coded("junk", text, 95, xz + "junk"), 0x00311952},  // it could start another stream
      {Coded("header", "ab", 14, lzma.substr(0, 8)), 0x00311931},
      {Coded("header", text, 14, LzmaMember(text, 4), 2), 0x00301931},
      {Coded("props", text, 14, bad_props), 0x00301931},
      {Coded("dictionary", text, 14, huge_dictionary, 1), 0x00301932},
      {Coded("window", "abcd", 93, huge_zstd), 0x00301942},
      {Coded("memory", text, 95, huge_xz), 0x00301952},
  };
  for (const auto& [member, code] : cases) {
    std::string out = Out();
    EXPECT_EQ(Unpack2(Archive({member}), out, "pw"), code) << member.name;
    EXPECT_TRUE(fs::is_empty(out)) << member.name;
  }
}

TEST_F(ZipMethods, OtherMethodsAreRefusedAndNamedAndTheOthersGoOn) {
  const std::string text = Text(50000);
  WriteFile(dir_ / "ppmd.txt", text);
  std::string peer = dir_ / "ppmd.zip", log;
  ASSERT_EQ(Peer("7zz a -tzip -mm=PPMd " + Quote(peer) + " " + Quote(dir_ / "ppmd.txt"), &log), 0) << log;
  std::string out = Out();
  EXPECT_EQ(Unpack2(peer, out), 0x00331901u);
  EXPECT_TRUE(fs::is_empty(out));

  std::string archive = Archive({Coded("a.txt", text, 14, LzmaMember(text)),
                                 Coded("ppmd", text, 98, text.substr(0, 100)), Coded("b", "b", 93, Zstd("b")),
                                 Coded("wav", text, 97, text.substr(0, 10)), Coded("c", "c", 95, Xz("c"))});
  ScriptedUi ui;
  ui.dialogs.AnswerNotice(1);
  ui.dialogs.AnswerNotice(1);
  EXPECT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a.txt", text}, {"b", "b"}, {"c", "c"}}));
  EXPECT_EQ(ui.dialogs.record().notices.size(), 2u);

  std::string listing;
  ASSERT_EQ(List(archive, listing), 0u);
  for (const char* column : {" LZMA    ", " PPMd    ", " Zstd    ", " WavPack ", " XZ      "})
    EXPECT_NE(listing.find(column), std::string::npos) << column;
}

}  // namespace
}  // namespace tx::test
