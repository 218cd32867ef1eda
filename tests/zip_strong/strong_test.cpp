// Strong encryption (3DES-168, AES) with a password: round trips over every kind, key,
// IV and validation length; an independent reader written from the published format;
// 7-Zip; wrong passwords; hostile decryption headers; the packing options.
#include <array>
#include <filesystem>

#include "zip_unpack/zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;
using Words = std::array<uint32_t, 15>;

Words Strong(uint32_t kind, uint32_t key_length, uint32_t iv, uint32_t validation, uint32_t method = 8) {
  return {0, 0, method, 6, 0, kind, key_length, iv, validation, 1};
}

// Decrypts every member of an archive as the published description says, without the
// library: prints "name crc32" for each, or the first thing that did not check out.
constexpr const char* kIndependentReader = R"PY(
import hashlib, struct, sys, zlib, bz2
from Cryptodome.Cipher import AES, DES3
data = open(sys.argv[1], 'rb').read(); password = sys.argv[2].encode()
def derive(h):
    a = bytes(x ^ 0x36 for x in h) + b'\x36' * 44
    b = bytes(x ^ 0x5C for x in h) + b'\x5C' * 44
    return hashlib.sha1(a).digest() + hashlib.sha1(b).digest()
def cipher(alg, key, iv):
    if alg == 0x6603: return DES3.new(key[:24], DES3.MODE_CBC, iv[:8])
    return AES.new(key[:{0x660E: 16, 0x660F: 24, 0x6610: 32}[alg]], AES.MODE_CBC, iv)
def unpad(b, n):
    p = b[-1]
    assert 1 <= p <= n and b[-p:] == bytes([p]) * p, 'padding'
    return b[:-p]
def decrypt(body):
    ivsize = struct.unpack_from('<H', body)[0]
    iv = body[2:2 + ivsize]; ivb = iv + bytes(16 - ivsize)
    size, fmt, alg, bits, hflags, erdsize = struct.unpack_from('<IHHHHH', body, 2 + ivsize)
    p = 2 + ivsize + 14
    erd = body[p:p + erdsize]; p += erdsize
    assert struct.unpack_from('<I', body, p)[0] == 0; p += 4
    vsize = struct.unpack_from('<H', body, p)[0]; p += 2
    assert p + vsize == 2 + ivsize + 4 + size and fmt == 3
    block = 8 if alg == 0x6603 else 16
    master = derive(hashlib.sha1(password).digest())
    rd = unpad(cipher(alg, master, ivb).decrypt(erd), block)
    plain = cipher(alg, derive(hashlib.sha1(iv + rd).digest()), ivb).decrypt(body[p:])
    assert zlib.crc32(plain[:vsize - 4]) == struct.unpack_from('<I', plain, vsize - 4)[0], 'vdata'
    return unpad(plain[vsize:], block)
def inflate(body, method):
    return zlib.decompress(body, -15) if method == 8 else bz2.decompress(body) if method == 12 else body
end = data.rindex(b'PK\x05\x06')
count, cd_size, cd_offset = struct.unpack_from('<HII', data, end + 10)
directory = data[cd_offset:cd_offset + cd_size]
if data[end - 20:end - 16] == b'PK\x06\x07':
    z = struct.unpack_from('<Q', data, end - 12)[0]
    rest, made, needed = struct.unpack_from('<QHH', data, z + 4)
    count, cd_size, cd_offset = struct.unpack_from('<QQQ', data, z + 32)
    directory = data[cd_offset:cd_offset + cd_size]
    if rest > 44:
        method, stored, original, alg = struct.unpack_from('<HQQH', data, z + 56)
        if alg: directory = decrypt(directory)
        directory = inflate(directory, method)
        assert len(directory) == original
at = 0
for _ in range(count):
    flags, method = struct.unpack_from('<HH', directory, at + 8)
    crc, csize, usize, n, m, k = struct.unpack_from('<IIIHHH', directory, at + 16)
    local = struct.unpack_from('<I', directory, at + 42)[0]
    name = directory[at + 46:at + 46 + n].decode()
    at += 46 + n + m + k
    ln, lm = struct.unpack_from('<HH', data, local + 26)
    body = data[local + 30 + ln + lm:local + 30 + ln + lm + csize]
    if flags & 0x41 == 0x41: body = decrypt(body)
    out = inflate(body, method)
    assert len(out) == usize and zlib.crc32(out) == crc, 'content'
    print(name, zlib.crc32(out))
)PY";

class ZipStrong : public ZipScratch {
 protected:
  void SetUp() override {
    src_ = dir_ / "src";
    fs::create_directory(src_);
    // Sizes around the blocks and the 64 KiB read blocks; one empty file stays plain.
    const size_t sizes[] = {1, 7, 8, 15, 16, 17, 65536, 65536 * 2 + 9};
    for (size_t i = 0; i < std::size(sizes); ++i)
      WriteFile(src_ + "/f" + std::to_string(i), RandomBytes(sizes[i] / 2, static_cast<unsigned>(i)) +
                                                     std::string(sizes[i] - sizes[i] / 2, 'z'));
    WriteFile(src_ + "/empty", "");
  }
  std::string PackAll(const Words& w, const char* password = "secret", uint32_t* code = nullptr) {
    std::string path = dir_ / ("p" + std::to_string(++count_) + ".zip");
    uint32_t result = zip_pack2(nullptr, path.c_str(), (src_ + "/*").c_str(), password, w.data());
    if (code)
      *code = result;
    else
      EXPECT_EQ(result, 0u);
    return path;
  }
  std::map<std::string, std::string> Source() { return Tree(src_); }
  std::string src_;
};

TEST_F(ZipStrong, RoundTripsEveryKindKeyIvAndValidationLength) {
  const std::pair<uint32_t, uint32_t> ciphers[] = {{11, 21}, {12, 16}, {12, 24}, {12, 32}};
  const uint32_t methods[] = {0, 8, 12};
  std::string reader = dir_ / "reader.py";
  WriteFile(reader, kIndependentReader);
  for (uint32_t iv = 1; iv <= 16; ++iv) {
    auto [kind, key] = ciphers[iv % 4];
    uint32_t validation = 16 * (1 + (iv * 3) % 8);
    std::string archive = PackAll(Strong(kind, key, iv, validation, methods[iv % 3]));
    std::string out = Out();
    ASSERT_EQ(Unpack2(archive, out, "secret"), 0u) << iv;
    EXPECT_EQ(Tree(out), Source()) << iv;
    // The records: version 50/51, flags 0x41, the 0x0017 field with our cipher.
    std::string bytes = ReadFile(archive), text;
    size_t central = bytes.rfind("f7") - 46;  // f7's central header
    EXPECT_EQ(Le(bytes, central + 6, 2), kind == 11 ? 50u : 51u);
    EXPECT_EQ(Le(bytes, central + 8, 2) & 0x41, 0x41u);
    ASSERT_EQ(List(archive, text), 0u);
    std::string name = kind == 11 ? "3DES-168 P" : "AES-" + std::to_string(key * 8) + " P";
    EXPECT_NE(text.find(name), std::string::npos) << text;
    std::string checked;
    int status = Peer("/usr/bin/python3 " + Quote(reader) + " " + Quote(archive) + " secret", &checked);
    EXPECT_EQ(status, 0) << iv << checked;
    EXPECT_NE(checked.find("f7 "), std::string::npos) << checked;
  }
  // One member, zip_unpack1.
  std::string one = dir_ / "one.zip";
  Words w = Strong(11, 0, 8, 128);
  ASSERT_EQ(zip_pack1(nullptr, one.c_str(), (src_ + "/f5").c_str(), "pw", w.data()), 0u);
  std::string out = Out();
  ASSERT_EQ(Unpack1(one, out, "pw"), 0u);
  EXPECT_EQ(ReadFile(out + "/f5"), ReadFile(src_ + "/f5"));
  // 3DES header: Size = 144 + 8 + VSize, ErdSize 136, 128 validation bytes.
  std::string bytes = ReadFile(one);
  size_t header = 30 + 2;
  EXPECT_EQ(Le(bytes, header, 2), 8u);
  EXPECT_EQ(Le(bytes, header + 2 + 8, 4), 144u + 8 + 128);
  EXPECT_EQ(Le(bytes, header + 2 + 8 + 4 + 8, 2), 136u);
}

TEST_F(ZipStrong, EncryptedDirectoriesAloneAndCompressed) {
  std::string reader = dir_ / "reader.py";
  WriteFile(reader, kIndependentReader);
  const std::pair<uint32_t, uint32_t> ciphers[] = {{11, 21}, {12, 16}, {12, 24}, {12, 32}};
  for (uint32_t directory : {2u, 3u}) {
    for (auto [kind, key] : ciphers) {
      Words w = Strong(kind, key, 3 + key % 14, 32, directory == 3 ? 12 : 8);
      w[4] = directory;
      std::string archive = PackAll(w), text;
      std::string out = Out();
      ASSERT_EQ(Unpack2(archive, out, "secret"), 0u) << kind << " " << key;
      EXPECT_EQ(Tree(out), Source());
      // Local headers are masked: name "1", no time, no CRC.
      std::string bytes = ReadFile(archive);
      EXPECT_EQ(Le(bytes, 26, 2), 1u);
      EXPECT_EQ(bytes[30], '1');
      EXPECT_EQ(Le(bytes, 10, 8), 0u);
      ASSERT_EQ(zip_list(nullptr, archive.c_str(), "secret", text.assign(1 << 16, '\0').data(), 1 << 16,
                         std::array<uint32_t, 1>{0}.data()),
                0u);
      EXPECT_NE(text.find(directory == 3 ? "Compress (BZip2) & Encrypt (" : "Header  : Encrypt ("),
                std::string::npos)
          << text;
      std::string checked;
      EXPECT_EQ(Peer("/usr/bin/python3 " + Quote(reader) + " " + Quote(archive) + " secret", &checked), 0)
          << checked;
      EXPECT_NE(checked.find("f7 "), std::string::npos) << checked;
      // The directory's password check comes first: nothing is made.
      std::string none = Out();
      uint32_t code = Unpack2(archive, none, "wrong");
      EXPECT_TRUE(code == 0x00411301u || code == 0x00411302u) << std::hex << code;
      EXPECT_TRUE(fs::is_empty(none));
      EXPECT_EQ(Unpack2(archive, none, "secret", 0, nullptr, 1), 0u);  // demanded encryption is met
    }
  }
}

TEST_F(ZipStrong, HostileEncryptedDirectories) {
  Words w = Strong(12, 32, 16, 16, 0);
  w[4] = 2;
  const std::string good = ReadFile(PackAll(w));
  const size_t end = good.size() - 22, zip64 = Le(good, end - 12, 8), directory = Le(good, zip64 + 48, 8);
  const size_t size = Le(good, zip64 + 40, 8);
  auto attempt = [&](const std::string& bytes) {
    std::string out = Out(), text;
    uint32_t code = Unpack2(Save(bytes), out, "secret");
    EXPECT_TRUE(fs::is_empty(out)) << std::hex << code;
    return code;
  };
  std::string b = good;
  b[directory] = b[directory + 1] = '\xFF';  // IV size 65535
  EXPECT_EQ(attempt(b), 0x00441401u);
  b = good;
  b.replace(directory + 18, 4, "\xFF\xFF\xFF\x00");  // header size beyond the block
  EXPECT_EQ(attempt(b), 0x00441402u);
  b = good;
  b[directory + size - 17] ^= '\x80';  // the last plain byte: padding 0x8?
  EXPECT_EQ(attempt(b), 0x00441403u);
  // One byte less of directory everywhere its size is recorded: not whole blocks.
  b = good;
  for (size_t at : {zip64 + 40, zip64 + 58, end + 12}) b[at] = static_cast<char>(b[at] - 1);
  EXPECT_EQ(attempt(b), 0x00441406u);
  // The directory's cipher named in the Zip64 record must be the header's.
  b = good;
  b.replace(zip64 + 74, 4, std::string("\x0E\x66\x80\x00", 4));
  EXPECT_EQ(attempt(b), 0x00441307u);
}

// The decryption header of an encrypted directory: everything but IV and validation data.
std::string KeptPart(const std::string& archive) {
  const size_t end = archive.size() - 22, zip64 = Le(archive, end - 12, 8);
  const size_t at = Le(archive, zip64 + 48, 8), iv = Le(archive, at, 2);
  const size_t erd = Le(archive, at + 2 + iv + 4 + 8, 2);
  return archive.substr(at + 2 + iv, 4 + 10 + erd + 4) + std::to_string(iv);
}

TEST_F(ZipStrong, UpdatesRebuildAnEncryptedDirectoryWithItsRandomData) {
  Words w = Strong(12, 24, 7, 48, 8);
  w[4] = 3;
  std::string archive = PackAll(w);
  const std::string before = ReadFile(archive);
  uint32_t options[2] = {0, 0};
  ASSERT_EQ(zip_delete(nullptr, archive.c_str(), nullptr, "f7", "secret", options), 0u);
  std::string after = ReadFile(archive);
  // The same random data and its encrypted form, the same IV length; a new IV.
  EXPECT_EQ(KeptPart(after), KeptPart(before));
  std::string out = Out();
  ASSERT_EQ(Unpack2(archive, out, "secret"), 0u);
  auto expected = Source();
  expected.erase("f7");
  EXPECT_EQ(Tree(out), expected);
  // Adding a plain archive's members; the destination stays encrypted.
  std::string plain = dir_ / "plain.zip";
  Words p = {0, 0, 8, 6};
  ASSERT_EQ(zip_pack1(nullptr, plain.c_str(), (src_ + "/f7").c_str(), nullptr, p.data()), 0u);
  uint32_t add[2] = {0, 0};
  ASSERT_EQ(zip_add(nullptr, archive.c_str(), plain.c_str(), nullptr, nullptr, "secret", add), 0u);
  EXPECT_EQ(KeptPart(ReadFile(archive)), KeptPart(before));
  out = Out();
  ASSERT_EQ(Unpack2(archive, out, "secret"), 0u);
  EXPECT_EQ(Tree(out), Source());
  std::string text;
  ASSERT_EQ(List(archive, text), 0x00411301u);  // no password: the random data does not decrypt
  std::string reader = dir_ / "reader.py", checked;
  WriteFile(reader, kIndependentReader);
  EXPECT_EQ(Peer("/usr/bin/python3 " + Quote(reader) + " " + Quote(archive) + " secret", &checked), 0)
      << checked;
  // A wrong password changes nothing.
  const std::string now = ReadFile(archive);
  uint32_t code = zip_delete(nullptr, archive.c_str(), nullptr, "f1", "wrong", options);
  EXPECT_TRUE(code == 0x00411301u || code == 0x00411302u) << std::hex << code;
  EXPECT_TRUE(ReadFile(archive) == now);
}

TEST_F(ZipStrong, SevenZipReadsAes256WithA16ByteIv) {
  if (Peer("command -v 7zz") != 0) GTEST_SKIP() << "7zz missing";
  for (uint32_t method : {0u, 8u}) {
    std::string archive = PackAll(Strong(12, 32, 16, 16, method));
    std::string said;
    EXPECT_EQ(Peer("7zz t -psecret " + Quote(archive), &said), 0) << said;
  }
}

TEST_F(ZipStrong, WrongPasswordsFailBeforeAnyFileIsMade) {
  for (auto [kind, key] : {std::pair{11u, 21u}, std::pair{12u, 32u}}) {
    std::string archive = PackAll(Strong(kind, key, 16, 64));
    std::string out = Out();
    uint32_t code = Unpack2(archive, out, "wrong");
    EXPECT_TRUE(code == 0x00411301u || code == 0x00411302u) << std::hex << code;
    EXPECT_EQ(Tree(out).size(), 1u);  // the empty file, which is stored plain, came first
    // The prompt is asked once and its answer kept.
    ScriptedUi ui;
    ui.dialogs.AnswerPassword("secret");
    EXPECT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0u);
    EXPECT_EQ(ui.dialogs.record().password_prompts, 1u);
    ui.dialogs.CancelPassword();
    EXPECT_EQ(Unpack2(archive, Out(), nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0x00901301u);
  }
}

// One stored member re-assembled around a changed decryption header or data.
class StrongHostile : public ZipStrong {
 protected:
  void SetUp() override {
    ZipStrong::SetUp();
    WriteFile(dir_ / "one.bin", std::string(40, 'q'));
    std::string packed = dir_ / "one.zip";
    Words w = Strong(12, 16, 16, 16, 0);
    ASSERT_EQ(zip_pack1(nullptr, packed.c_str(), (dir_ / "one.bin").c_str(), "pw", w.data()), 0u);
    std::string bytes = ReadFile(packed);
    size_t central = bytes.find("PK\x01\x02");
    size_t stored = Le(bytes, central + 20, 4);
    size_t name = Le(bytes, central + 28, 2);
    std::string extra = bytes.substr(central + 46 + name, Le(bytes, central + 30, 2));
    body_ = bytes.substr(30 + 7, stored);  // "one.bin", no local extra
    // Only the strong field; BuildZip writes its own sizes.
    for (size_t at = 0; at + 4 <= extra.size(); at += 4 + Le(extra, at + 2, 2))
      if (Le(extra, at, 2) == 0x0017) field_ = extra.substr(at, 4 + Le(extra, at + 2, 2));
  }
  uint32_t Try(const std::string& body, std::optional<uint64_t> compressed = {}) {
    Member m{.name = "one.bin",
             .data = std::string(40, 'q'),
             .flags = 0x41,
             .central_extra = field_,
             .compressed = compressed,
             .stored = body};
    std::string out = Out();
    uint32_t code = Unpack2(Archive({m}), out, "pw");
    if (code != 0) {
      EXPECT_TRUE(fs::is_empty(out)) << std::hex << code;
    }
    return code;
  }
  // Field offsets of a header with a 16-byte IV.
  static constexpr size_t kSize = 18, kAlg = 24, kErd = 32, kRecipients = 32 + 144, kVSize = 180;
  std::string body_, field_;
};

TEST_F(StrongHostile, HeadersGiveCodesAndNoFile) {
  ASSERT_EQ(Try(body_), 0u);
  std::string b = body_;
  b[0] = '\xFF', b[1] = '\xFF';  // IV size 65535
  EXPECT_EQ(Try(b), 0x00441301u);
  b = body_, b[0] = 0;  // IV size 0
  EXPECT_EQ(Try(b), 0x00441301u);
  b = body_;
  b.replace(kSize, 4, "\xFF\xFF\xFF\x7F");  // beyond any header
  EXPECT_EQ(Try(b), 0x00441306u);
  b = body_;
  b.replace(kSize, 4, std::string("\x00\x10\x00\x00", 4));  // legal size, beyond this member
  EXPECT_EQ(Try(b), 0x00441308u);
  b = body_;
  b.replace(kAlg, 2, "\x10\x66");  // AES-256 where the directory says AES-128
  EXPECT_EQ(Try(b), 0x00441307u);
  b = body_;
  b[kAlg + 2] = 0;  // bit length
  EXPECT_EQ(Try(b), 0x00441303u);
  b = body_;
  b[kErd - 2] = 0x20;  // ErdSize
  EXPECT_EQ(Try(b), 0x00441304u);
  b = body_;
  b.replace(kVSize, 2, std::string("\x18\x00", 2));  // 24: not a multiple of AES's block
  EXPECT_EQ(Try(b), 0x00441305u);
  // 2^32 - 1 recipients, with and without a valid hash description; the walk stops at the header's end.
  b = body_;
  b.replace(kRecipients, 4, "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(Try(b), 0x00501301u);
  b = body_;
  b.replace(kRecipients, 8, std::string("\xFF\xFF\xFF\xFF\x04\x80\x14\x00", 8));
  EXPECT_EQ(Try(b), 0x00441306u);
  // Data: too short for one block after the header, not whole blocks, wrong padding.
  EXPECT_EQ(Try(body_.substr(0, body_.size() - 48)), 0x00431901u);
  EXPECT_EQ(Try(body_.substr(0, body_.size() - 1)), 0x00431901u);
  b = body_;
  b[b.size() - 17] ^= '\x80';  // flips the last plain byte: padding 0x88
  EXPECT_EQ(Try(b), 0x00431903u);
  // A compressed size below the header.
  EXPECT_EQ(Try(body_.substr(0, 170)), 0x00441308u);
}

TEST_F(ZipStrong, PackingOptionsAndTheEmptyPassword) {
  const uint32_t cases[][3] = {{7, 0, 0x20007},      {7, 17, 0x20007},     {8, 8, 0x20008},
                               {8, 100, 0x20008},    {8, 144, 0x20008},    {9, 0, 0x20009},
                               {9, 0x4000, 0x20009}, {9, 0x0100, 0x20009}};
  for (auto [word, value, code] : cases) {
    Words w = Strong(12, 32, 16, 16);
    w[word] = value;
    uint32_t result = 0;
    std::string archive = PackAll(w, "secret", &result);
    EXPECT_EQ(result, code) << word << " " << value;
    EXPECT_FALSE(fs::exists(archive));
  }
  // Flags beyond the password bit are dropped with the password bit there.
  Words w = Strong(11, 0, 3, 32);
  w[9] = 0x4101;
  std::string archive = PackAll(w);
  ASSERT_EQ(Unpack2(archive, Out(), "secret"), 0u);
  // Demanded encryption with nothing to encrypt with.
  for (uint32_t kind : {1u, 2u, 11u, 12u}) {
    w = Strong(kind, 32, 16, 16);
    w[0] = 1;
    uint32_t result = 0;
    archive = PackAll(w, "", &result);
    EXPECT_EQ(result, 0x00400003u) << kind;
    EXPECT_FALSE(fs::exists(archive));
  }
}

TEST_F(ZipStrong, CommandLineFlags) {
  const std::string cli = TX_CLI_PATH, archive = dir_ / "cli.zip", out = Out();
  std::string said;
  ASSERT_EQ(Peer(Quote(cli) + " zip pack " + Quote(archive) + " " + Quote(src_ + "/f*") +
                     " --password pw --encryption 3des --iv-length 5 --validation-length 48 --strong-flags 1",
                 &said),
            0)
      << said;
  ASSERT_EQ(
      Peer(Quote(cli) + " zip unpack " + Quote(archive) + " --to " + Quote(out) + " --password pw", &said), 0)
      << said;
  auto source = Source();
  source.erase("empty");
  EXPECT_EQ(Tree(out), source);
}

}  // namespace
}  // namespace tx::test
