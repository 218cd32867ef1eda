// The tessarex command and the shared library as users and peers see them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "tessarex.h"
#include "test_support.h"

namespace {

using tx::test::Shell;
using tx::test::TempDir;
using tx::test::WriteFile;

const std::string kCli = TX_CLI_PATH;

std::string FirstField(const std::string& line) { return line.substr(0, line.find_first_of(" \t\n")); }

std::string Ours(const std::string& algo, const std::string& path) {
  int status;
  std::string out = Shell(kCli + " digest " + algo + " '" + path + "'", &status);
  EXPECT_EQ(status, 0) << algo << " " << path;
  EXPECT_EQ(out.substr(out.find("  ") + 2), path + "\n");
  return FirstField(out);
}

std::string Peer(const std::string& algo, const std::string& path) {
  const std::string q = "'" + path + "'";
  if (algo == "crc32")
    return FirstField(
        Shell("/usr/bin/python3 -c \"import sys,zlib\nc=0\nf=open(sys.argv[1],'rb')\n"
              "while b:=f.read(1<<20): c=zlib.crc32(b,c)\nprint('%08x'%c)\" " +
              q));
  if (algo == "ripemd160" || algo == "whirlpool") {
    std::string out = Shell("openssl dgst -provider default -provider legacy -" + algo + " -r " + q);
    return FirstField(out);
  }
  return FirstField(Shell(algo + "sum " + q));
}

TEST(Cli, DigestsAgreeWithTheUsualTools) {
  TempDir dir;
  std::string random = tx::test::RandomBytes(5 * 1024 * 1024 + 11, 3);
  for (size_t size : {size_t{0}, size_t{3}, size_t{65535}, size_t{65536}, size_t{65537}, random.size()}) {
    std::string path = dir / std::string("f").append(std::to_string(size));
    WriteFile(path, random.substr(0, size));
    for (const char* algo : {"crc32", "md5", "ripemd160", "sha1", "sha256", "sha512", "whirlpool"})
      EXPECT_EQ(Ours(algo, path), Peer(algo, path)) << algo << " on " << size << " bytes";
  }
  WriteFile(dir / "digits", "123456789");
  EXPECT_EQ(Ours("crc64", dir / "digits"), "62ec59e3f1a4f00a");
  EXPECT_EQ(Ours("crc32", dir / "digits"), "cbf43926");
}

TEST(Cli, HundredsOfMegabytes) {
  TempDir dir;
  std::string path = dir / "big";
  WriteFile(path, tx::test::RandomBytes(1 << 20, 9));
  Shell("truncate -s 314572803 '" + path + "' && head -c 1048576 /dev/urandom >> '" + path + "'");
  for (const char* algo : {"crc32", "sha256", "md5"}) EXPECT_EQ(Ours(algo, path), Peer(algo, path)) << algo;
}

TEST(Cli, FailuresPrintTheDecodedStatusAndExitNonZero) {
  TempDir dir;
  WriteFile(dir / "ok", "abc");
  int status;
  std::string out = Shell(kCli + " digest sha256 '" + dir.path().string() + "' '" + (dir / "ok") + "' '" +
                              (dir / "missing") + "' '' 2>&1",
                          &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("0x01024601 system call failed: opening or creating a file"), std::string::npos) << out;
  EXPECT_NE(out.find("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad  " + (dir / "ok")),
            std::string::npos)
      << "the other files are still digested";
  EXPECT_NE(out.find((dir / "missing") + ": 0x01024601"), std::string::npos) << out;
  EXPECT_NE(out.find(": 0x00013202 BadArgument; place 0x32 (argument conversion); occurrence 2"),
            std::string::npos)
      << out;

  Shell(kCli + " digest sha999 x 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  Shell(kCli + " frobnicate 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  out = Shell(kCli + " --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("digest ALGO FILE..."), std::string::npos);
  EXPECT_NE(out.find("status CODE"), std::string::npos);
  EXPECT_NE(out.find("--progress"), std::string::npos);
}

TEST(Cli, StatusDecodesAnyCode) {
  int status;
  EXPECT_EQ(Shell(kCli + " status 0x00904602", &status),
            "0x00904602 Cancelled; place 0x46 (file_sha256); occurrence 2\n");
  EXPECT_EQ(
      Shell("LC_ALL=C " + kCli + " status 00314401"),
      "0x00314401 CoderFailed; place 0x44 (file_ripemd160); occurrence 1: Compression or decompression is "
      "failed. This archive may be corrupted, or entered password might be wrong.\n");
  EXPECT_EQ(
      Shell("LANG=ja_JP.UTF-8 LC_ALL= " + kCli + " status 0x00440000"),
      "0x00440000 UnknownCipher; place 0x00 (export body); occurrence 0: 未対応の暗号アルゴリズムです。\n");
  EXPECT_EQ(Shell(kCli + " status 0x01203201"),
            "0x01203201 system call failed: converting text to UTF-16 (not valid UTF-8, or too long); "
            "place 0x32 (argument conversion); occurrence 1\n");
  EXPECT_EQ(Shell(kCli + " status 0"), "0x00000000 success\n");
  Shell(kCli + " status 0x100000000 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  Shell(kCli + " status nonsense 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

TEST(Cli, ProgressWithoutATerminalIsACancel) {
  TempDir dir;
  WriteFile(dir / "f", "abc");
  int status;
  // setsid leaves the command without a controlling terminal.
  std::string out =
      Shell("setsid " + kCli + " --progress digest md5 '" + (dir / "f") + "' 2>&1 < /dev/null", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("0x00904301 Cancelled"), std::string::npos) << out;
}

TEST(SharedLibrary, ExportsExactlyTheBuiltFunctions) {
  std::istringstream symbols(Shell("nm -D --defined-only '" TX_SHARED_PATH "'"));
  std::set<std::string> exported;
  for (std::string line; std::getline(symbols, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (type == "T" || type == "W" || type == "D" || type == "B" || type == "R") exported.insert(name);
  }
  std::set<std::string> extensions;
  for (auto it = exported.begin(); it != exported.end();)
    it = it->rfind("tessarex_", 0) == 0 ? (extensions.insert(*it), exported.erase(it)) : std::next(it);
  EXPECT_EQ(exported, (std::set<std::string>{"file_crc32", "file_crc64",  "file_md5",    "file_ripemd160",
                                             "file_sha1",  "file_sha256", "file_sha512", "file_whirlpool",
                                             "pea_pack1",  "pea_pack2",   "pea_unpack1", "pea_unpack2",
                                             "pea_list",   "pea_split",   "pea_join",    "zip_pack1",
                                             "zip_pack2",  "zip_unpack1", "zip_unpack2", "zip_list",
                                             "zip_add",    "zip_delete",  "svz_pack1",   "svz_pack2",
                                             "svz_pack3",  "svz_unpack1", "svz_unpack2", "svz_unpack3",
                                             "svz_list",   "svz_split",   "svz_join",    "svz_add",
                                             "svz_add2",   "svz_delete",  "svz_delete2"}));
  // The Linux extensions, each named in the public header.
  EXPECT_EQ(extensions, (std::set<std::string>{"tessarex_status_text", "tessarex_failure_text",
                                               "tessarex_remove_temporaries", "tessarex_set_code_page",
                                               "tessarex_cert_import", "tessarex_cert_list", "tessarex_cert_remove",
                                               "tessarex_choose_certificates", "tessarex_zip_verify"}));
  std::string header = tx::test::ReadFile(TX_INCLUDE_DIR "/tessarex.h");
  for (const std::string& name : extensions) EXPECT_NE(header.find(name + "("), std::string::npos) << name;
  EXPECT_NE(Shell("objdump -p '" TX_SHARED_PATH "'").find("SONAME               libtessarex.so.1"),
            std::string::npos);
}

// A failed system call is reported with the path and the system's reason, and the
// extension texts fit or are cut with their code.
TEST(Cli, FailuresNameThePathAndTheReason) {
  TempDir dir;
  int status;
  std::string text =
      Shell("cd " + dir.path().string() + " && " + kCli + " zip pack q.zip nothere 2>&1", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find(dir.path().string() + "/nothere: No such file or directory"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("FindFirstFile"), std::string::npos) << text;
  char small[8];
  EXPECT_EQ(tessarex_status_text(0x00904602, TESSAREX_LANGUAGE_ENGLISH, small, sizeof small), 0x00280000u);
  EXPECT_STREQ(small, "0x00904");
  EXPECT_EQ(tessarex_status_text(0, 7, small, sizeof small), 0x00020001u);
  EXPECT_EQ(tessarex_failure_text(nullptr, 0), 0x00010001u);
  WriteFile(dir / "f", "abc");
  uint8_t digest[4];
  EXPECT_EQ(file_crc32(nullptr, (dir / "f").c_str(), 0, digest), 0u);
  char none[64] = "x";
  EXPECT_EQ(tessarex_failure_text(none, sizeof none), 0u);
  EXPECT_STREQ(none, "");
}

// What people type: a folder with the "/" tab completion adds, an output folder that does
// not exist yet, the version.
TEST(Cli, CommandLinesAsPeopleTypeThem) {
  TempDir dir;
  std::filesystem::create_directories(dir / "proj/sub");
  WriteFile(dir / "proj/sub/a.txt", "alpha");
  std::string in = "cd " + dir.path().string() + " && " + kCli;
  for (const char* family : {"zip", "pea"}) {
    int status = -1;
    std::string text = Shell(in + " " + family + " pack p." + family + " proj/ 2>&1", &status);
    EXPECT_EQ(status, 0) << text;
    text = Shell(in + " " + family + " unpack p." + family + " --to new/" + family + " 2>&1", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(tx::test::ReadFile(dir.path() / "new" / family / "proj/sub/a.txt"), "alpha");
  }
  int status = -1;
  WriteFile(dir / "file", "");
  std::string text = Shell(in + " zip unpack p.zip --to file/x 2>&1", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(text.find("file/x: "), std::string::npos) << text;
  EXPECT_EQ(Shell(kCli + " --version"), "tessarex 1.0.0\n");
  Shell(kCli + " zip pack 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  text = Shell(kCli + " zip frobnicate x 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(text.find("unknown zip command frobnicate"), std::string::npos);
  text = Shell(kCli + " pea pack a b --compression fastest 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(text.find("unknown value fastest for --compression"), std::string::npos);
}

TEST(SharedLibrary, LoadsCallsAndUnloadsRepeatedly) {
  TempDir dir;
  WriteFile(dir / "f", "abc");
  for (int round = 0; round < 3; ++round) {
    void* lib = ::dlopen(TX_SHARED_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    using Fn = uint32_t (*)(void*, const char*, uint32_t, void*);
    auto whirlpool = reinterpret_cast<Fn>(::dlsym(lib, "file_whirlpool"));
    ASSERT_NE(whirlpool, nullptr);
    unsigned char out[64];
    EXPECT_EQ(whirlpool(nullptr, (dir / "f").c_str(), 0, out), 0u);
    EXPECT_EQ(tx::test::Hex(out, 4), "4e2448a4");
    EXPECT_EQ(::dlclose(lib), 0);
  }
}

}  // namespace

namespace {

// The archive subcommands reach every export with the options their flags name.
TEST(Cli, ArchiveCommandsRoundTrip) {
  TempDir dir;
  std::filesystem::create_directories(dir / "src/sub");
  WriteFile(dir / "src/sub/a.txt", std::string(100000, 'a'));
  WriteFile(dir / "src/b.bin", tx::test::RandomBytes(70000, 5));
  const std::string d = std::string("'").append(dir.path().string()).append("/");
  int status;
  auto run = [&](const std::string& args) { return Shell(kCli + " " + args + " 2>&1", &status); };

  std::string out = run("pea pack " + d + "a.pea' " + d + "src' --password pw --key-file " + d +
                        "src/b.bin' --compression better --volume-check crc64 --stream-check eax256 "
                        "--object-check whirlpool --time dos");
  ASSERT_EQ(status, 0) << out;
  std::string listing = run("pea list " + d + "a.pea' --password pw --key-file " + d + "src/b.bin'");
  EXPECT_NE(listing.find("Better       100000"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Volume  : Volume control tag (CRC64) is OK"), std::string::npos);
  EXPECT_NE(listing.find("Stream  : Stream control tag (AES-256 & OMAC-AES) is OK"), std::string::npos);
  EXPECT_NE(listing.find("Object  : Object control tag (Whirlpool)"), std::string::npos);
  run("pea split " + d + "a.pea' 50000 --to " + d + "'");
  ASSERT_EQ(status, 0);
  std::filesystem::rename(dir / "a.pea", dir / "original.pea");
  run("pea join " + d + "a.000002.pea' --delete");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Shell("cmp " + d + "a.pea' " + d + "original.pea' && echo same"), "same\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "a.000001.pea"));
  std::filesystem::create_directories(dir / "out");
  std::filesystem::create_directories(dir / "zout");
  run("pea unpack " + d + "a.pea' --to " + d + "out' --password pw --key-file " + d +
      "src/b.bin' --filter '*.txt'");
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "out/src/sub/a.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out/src/b.bin"));

  run("zip pack " + d + "a.zip' " + d +
      "src/*' --method bzip2 --level 9 --encryption ae1 --key-length 192 "
      "--password pw --ntfs-times --utf8-names");
  ASSERT_EQ(status, 0);
  listing = run("zip list " + d + "a.zip'");
  EXPECT_NE(listing.find("BZip2   AE-1 192"), std::string::npos) << listing;
  run("zip unpack " + d + "a.zip' --to " + d + "zout' --password pw");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Shell("diff -r " + d + "src' " + d + "zout' && echo same"), "same\n");

  run("7z pack-solid " + d + "a.7z' " + d +
      "src' --password pw --level 9 --grouping none --cycles-power 8 "
      "--salt-size 16 --creation-times");
  ASSERT_EQ(status, 0);
  listing = run("7z list " + d + "a.7z' --password pw");
  EXPECT_NE(listing.find("Header  : Compress (LZMA) & Encrypt (8 16 16)"), std::string::npos) << listing;
  run("7z unpack-nonsolid " + d + "a.7z' --to " + d + "sout' --password pw");
  EXPECT_EQ(status, 1);  // two files in one block: for svz_unpack3
  run("7z unpack " + d + "a.7z' --to " + d + "sout' --password pw");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Shell("diff -r " + d + "src' " + d + "sout/src' && echo same"), "same\n");
  run("7z pack1 " + d + "b.7z' " + d + "src/b.bin' --method deflate --bcj always --plain-header");
  ASSERT_EQ(status, 0);
  run("7z unpack1 " + d + "b.7z' --to " + d + "one'");
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Shell("cmp " + d + "src/b.bin' " + d + "one/b.bin' && echo same"), "same\n");

  run("zip pack " + d + "b.zip' x --level nine");
  EXPECT_EQ(status, 2);
  run("7z pack " + d + "c.7z' x --method ppmd");
  EXPECT_EQ(status, 2);
  run("pea pack " + d + "b.pea' x --stream-check rot13");
  EXPECT_EQ(status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "b.pea"));
}

}  // namespace

namespace {

// A C program of a front end builds against the public header alone and calls the library.
TEST(SharedLibrary, PublicHeaderServesCPrograms) {
  TempDir dir;
  WriteFile(dir / "use.c",
            "#include <tessarex.h>\n#include <stdio.h>\n"
            "int main(int argc, char** argv) {\n"
            "  unsigned char crc[4];\n"
            "  uint32_t options[3] = {0};\n"
            "  options[TESSAREX_PEA_VOLUME_SIZE] = 1024;\n"
            "  if (argc < 2) return 3;\n"
            "  if (pea_split(NULL, \"missing.pea\", NULL, options) == 0) return 4;\n"
            "  if (file_crc32(NULL, argv[1], 0, crc) != 0) return 5;\n"
            "  printf(\"%02x%02x%02x%02x\\n\", crc[3], crc[2], crc[1], crc[0]);\n"
            "  return 0;\n}\n");
  WriteFile(dir / "digits", "123456789");
  std::string lib = std::filesystem::path(TX_SHARED_PATH).parent_path().string();
  int status;
  std::string out =
      Shell("gcc " TX_SANITIZE_FLAGS " -std=c99 -Wall -Wextra -Werror -pedantic -I'" TX_INCLUDE_DIR "' '" +
                (dir / "use.c") + "' -o '" + (dir / "use") + "' -L'" + lib + "' -ltessarex -Wl,-rpath,'" +
                lib + "' 2>&1 && '" + (dir / "use") + "' '" + (dir / "digits") + "'",
            &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "cbf43926\n");
}

}  // namespace
