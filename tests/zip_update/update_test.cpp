// Deleting and adding ZIP members: peers accept the results, untouched members keep
// their bytes, and a failed update leaves the archive exactly as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <thread>

#include "platform/file_lock.h"
#include "zip_unpack/zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

// Each member's stored bytes (local header, data, descriptor: everything up to the next
// member or the directory), by name, as Python's zipfile locates them.
const char* kSpans = R"(
import sys, zipfile, hashlib
z = zipfile.ZipFile(sys.argv[1]); raw = open(sys.argv[1], 'rb').read()
infos = sorted(z.infolist(), key=lambda i: i.header_offset)
ends = [i.header_offset for i in infos[1:]] + [z.start_dir]
for i, e in zip(infos, ends): print(i.filename, hashlib.sha256(raw[i.header_offset:e]).hexdigest())
)";

class Update : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Path(const std::string& name) { return dir / name; }

  std::map<std::string, std::string> Spans(const std::string& archive) {
    WriteFile(Path("spans.py"), kSpans);
    std::istringstream lines(Shell("/usr/bin/python3 " + Quote(Path("spans.py")) + " " + Quote(archive)));
    std::map<std::string, std::string> out;
    for (std::string name, hash; lines >> name >> hash;) out[name] = hash;
    return out;
  }
  // unzip -t, 7zz t and Python's zipfile all accept the archive.
  void ExpectPeersAccept(const std::string& archive, const std::string& password = "") {
    int status = -1;
    // unzip does not know AES; it tests the others.
    if (password.empty()) {
      Shell("unzip -tq " + Quote(archive) + " >/dev/null 2>&1", &status);
      EXPECT_EQ(status, 0) << "unzip -t " << archive;
    }
    Shell("7zz t -bd" + (password.empty() ? std::string(" -p-") : " -p" + Quote(password)) + " " +
              Quote(archive) + " >/dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << "7zz t " << archive;
    // zipfile cannot decrypt AES members; it still reads their directory.
    std::string check = password.empty() ? "print(z.testzip())" : "print(len(z.infolist()) and None)";
    std::string out = Shell("/usr/bin/python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); " +
                            check + "\" " + Quote(archive) + " 2>&1");
    EXPECT_EQ(out, "None\n") << "zipfile " << archive;
  }
  std::vector<std::string> Names(const std::string& archive) {
    std::istringstream lines(
        Shell("/usr/bin/python3 -c \"import zipfile,sys; "
              "print('\\n'.join(zipfile.ZipFile(sys.argv[1]).namelist()))\" " +
              Quote(archive)));
    std::vector<std::string> out;
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) out.push_back(line);
    return out;
  }
  uint32_t Delete(const std::string& archive, const char* filter, uint32_t flags = 0) {
    uint32_t options[1] = {flags};
    return zip_delete(nullptr, archive.c_str(), "", filter, nullptr, options);
  }
  uint32_t Add(const std::string& to, const std::string& from, uint32_t mode, const char* filter = nullptr,
               uint32_t flags = 0) {
    uint32_t options[2] = {flags, mode};
    return zip_add(nullptr, to.c_str(), from.c_str(), nullptr, filter, nullptr, options);
  }
  // Folder "src" with three files of different kinds.
  std::string Sources() {
    std::string src = Path("src");
    fs::create_directories(src);
    WriteFile(src + "/random.bin", RandomBytes(200000, 1));
    std::string text;
    for (int i = 0; i < 20000; ++i) text += std::to_string(i) + " line\n";
    WriteFile(src + "/text.txt", text);
    WriteFile(src + "/small.txt", "small");
    return src;
  }
  std::string Ours(const std::string& name, uint32_t method, uint32_t encryption, uint32_t directory) {
    std::string archive = Path(name), source = Sources() + "/*";
    uint32_t options[15] = {0, 0, method, 6, directory, encryption, 32, 16, 16, 1, 0, 2, 0, 0, 0};
    EXPECT_EQ(zip_pack2(nullptr, archive.c_str(), source.c_str(), encryption ? "pw" : nullptr, options), 0u);
    return archive;
  }
  std::string Peer(const std::string& name, const std::string& command) {
    Sources();
    int status = -1;
    std::string line = command;
    line.replace(line.find("{}"), 2, Quote(Path(name)));
    Shell("cd " + Quote(Path("src")) + " && (" + line + ") >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0) << command;
    return Path(name);
  }
  std::vector<std::string> AllKinds() {
    return {
        Ours("store.zip", 0, 0, 0),
        Ours("deflate.zip", 8, 0, 0),
        Ours("bzip2.zip", 12, 0, 0),
        Ours("ae2.zip", 8, 2, 0),
        Peer("infozip.zip", "zip -q -fd -r {} ."),
        Peer("7z.zip", "7zz a -tzip -bd {} ."),
        Peer("python.zip",
             "/usr/bin/python3 -c \"import zipfile,sys,os; "
             "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED); "
             "[z.write(n) for n in sorted(os.listdir('.'))]; z.close()\" {}"),
        // Written to a pipe: data descriptors, sizes 0 in the local headers.
        Peer("piped.zip", "zip -q - random.bin text.txt small.txt | cat > {}"),
    };
  }
};

TEST_F(Update, DeleteKeepsOtherMembersByteForByte) {
  for (const std::string& archive : AllKinds()) {
    auto before = Spans(archive);
    ASSERT_EQ(before.size(), 3u) << archive;
    ASSERT_EQ(Delete(archive, "text.txt"), 0u) << archive;
    auto after = Spans(archive);
    before.erase("text.txt");
    EXPECT_EQ(after, before) << archive;
    ExpectPeersAccept(archive, archive.find("ae2") != std::string::npos ? "pw" : "");
    // Everything goes: an empty archive remains, its end record alone.
    ASSERT_EQ(Delete(archive, "*"), 0u);
    EXPECT_EQ(fs::file_size(archive), 22u) << archive;
    EXPECT_TRUE(Names(archive).empty());
  }
}

TEST_F(Update, CompressedDirectoryStaysCompressed) {
  std::string archive = Ours("cdir.zip", 8, 0, 1);
  ASSERT_EQ(Delete(archive, "small.txt"), 0u);
  std::string bytes = ReadFile(archive);
  // The Zip64 end record of a compressed directory names its method (8) at byte 56.
  size_t at = bytes.rfind(std::string("PK\x06\x06", 4));
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(static_cast<uint8_t>(bytes[at + 56]), 8);
  std::string out = Path("out");
  fs::create_directories(out);
  uint32_t options[2] = {0, 0};
  ASSERT_EQ(zip_unpack2(nullptr, archive.c_str(), out.c_str(), nullptr, nullptr, options), 0u);
  EXPECT_TRUE(ReadFile(out + "/text.txt") == ReadFile(Path("src/text.txt")));
  EXPECT_FALSE(fs::exists(out + "/small.txt"));
}

TEST_F(Update, AddInEveryReplacementMode) {
  auto kinds = AllKinds();
  const std::string source = Path("new.zip");
  WriteFile(Path("new.txt"), "new member");
  WriteFile(Path("small.txt"), "replacement");
  Shell("cd " + Quote(dir.path().string()) + " && zip -q -fd new.zip new.txt small.txt");
  auto offered = Spans(source);
  for (const std::string& original : kinds) {
    const bool aes = original.find("ae2") != std::string::npos;
    auto before = Spans(original);
    for (uint32_t mode : {0u, 1u, 2u}) {
      std::string archive = original + "." + std::to_string(mode);
      fs::copy_file(original, archive);
      ASSERT_EQ(Add(archive, source, mode), 0u) << archive;
      auto after = Spans(archive);
      EXPECT_EQ(after["new.txt"], offered["new.txt"]);
      EXPECT_EQ(after["text.txt"], before["text.txt"]);
      EXPECT_EQ(after["random.bin"], before["random.bin"]);
      // The source member is newer than the destination's only when our files were
      // written first; mode 1 replaces regardless, mode 0 never.
      if (mode == 0) {
        EXPECT_EQ(after["small.txt"], before["small.txt"]) << archive;
      }
      if (mode == 1) {
        EXPECT_EQ(after["small.txt"], offered["small.txt"]) << archive;
      }
      EXPECT_EQ(after.size(), 4u) << archive;
      ExpectPeersAccept(archive, aes ? "pw" : "");
    }
  }
}

TEST_F(Update, NewerModeComparesTimes) {
  // The same stamps on both sides keep the destination's member; a later one replaces it.
  Member old_member{.name = "a.txt", .data = "old"}, same{.name = "a.txt", .data = "same"},
      later{.name = "a.txt", .data = "later", .dos_date = 0x56A7};
  std::string archive = Path("d.zip"), same_zip = Path("s.zip"), later_zip = Path("l.zip");
  WriteFile(archive, BuildZip({old_member}));
  WriteFile(same_zip, BuildZip({same}));
  WriteFile(later_zip, BuildZip({later}));
  ASSERT_EQ(Add(archive, same_zip, 2), 0u);
  EXPECT_EQ(Shell("unzip -p " + Quote(archive)), "old");
  ASSERT_EQ(Add(archive, later_zip, 2), 0u);
  EXPECT_EQ(Shell("unzip -p " + Quote(archive)), "later");
  // Names meet without regard to case.
  Member upper{.name = "A.TXT", .data = "upper", .dos_date = 0x56A8};
  WriteFile(same_zip, BuildZip({upper}));
  ASSERT_EQ(Add(archive, same_zip, 1), 0u);
  EXPECT_EQ(Names(archive), std::vector<std::string>{"A.TXT"});
}

// A stored member written by a streaming writer: sizes 0 in the local header, then the
// data descriptor in one of its four shapes.
std::string Streamed(const std::string& name, const std::string& data, bool signature, bool wide) {
  std::string local, central, descriptor;
  uint32_t crc = Crc(data);
  std::string zip64;
  if (wide) Put16(zip64, 1), Put16(zip64, 16), Put64(zip64, 0), Put64(zip64, 0);
  Put32(local, 0x04034b50), Put16(local, wide ? 45 : 20), Put16(local, 8), Put16(local, 0);
  Put16(local, 0x6458), Put16(local, 0x56A6), Put32(local, 0), Put32(local, 0), Put32(local, 0);
  Put16(local, static_cast<uint32_t>(name.size())), Put16(local, static_cast<uint32_t>(zip64.size()));
  local += name + zip64 + data;
  if (signature) Put32(descriptor, 0x08074b50);
  Put32(descriptor, crc);
  if (wide)
    Put64(descriptor, data.size()), Put64(descriptor, data.size());
  else
    Put32(descriptor, static_cast<uint32_t>(data.size())),
        Put32(descriptor, static_cast<uint32_t>(data.size()));
  return local + descriptor;
}

TEST_F(Update, DataDescriptorsTravelWithTheirMembers) {
  for (bool signature : {true, false}) {
    for (bool wide : {true, false}) {
      std::string body, central;
      std::vector<std::pair<std::string, std::string>> members = {{"one", "first member"}, {"two", "second"}};
      for (auto& [name, data] : members) {
        uint32_t offset = static_cast<uint32_t>(body.size());
        body += Streamed(name, data, signature, wide);
        Put32(central, 0x02014b50), Put16(central, 62), Put16(central, 20), Put16(central, 8),
            Put16(central, 0);
        Put16(central, 0x6458), Put16(central, 0x56A6), Put32(central, Crc(data));
        Put32(central, static_cast<uint32_t>(data.size())),
            Put32(central, static_cast<uint32_t>(data.size()));
        Put16(central, static_cast<uint32_t>(name.size())), Put16(central, 0), Put16(central, 0);
        Put16(central, 0), Put16(central, 0), Put32(central, 0x20), Put32(central, offset);
        central += name;
      }
      std::string end;
      Put32(end, 0x06054b50), Put16(end, 0), Put16(end, 0), Put16(end, 2), Put16(end, 2);
      Put32(end, static_cast<uint32_t>(central.size())), Put32(end, static_cast<uint32_t>(body.size())),
          Put16(end, 0);
      std::string archive = Path("streamed.zip"), source = Path("source.zip");
      WriteFile(archive, body + central + end);
      WriteFile(source, body + central + end);
      std::string two = Streamed("two", "second", signature, wide);
      ASSERT_EQ(Delete(archive, "one"), 0u) << signature << wide;
      EXPECT_TRUE(ReadFile(archive).substr(0, two.size()) == two) << signature << wide;
      ExpectPeersAccept(archive);
      ASSERT_EQ(Add(archive, source, 0), 0u);
      EXPECT_EQ(Names(archive), (std::vector<std::string>{"two", "one"}));
      ExpectPeersAccept(archive);
    }
  }
}

TEST_F(Update, FailuresLeaveTheArchiveAsItWas) {
  std::string good = Ours("good.zip", 8, 0, 0);
  const std::string original = ReadFile(good);
  auto unchanged = [&](const std::string& why) {
    EXPECT_TRUE(ReadFile(good) == original) << why;
    // No temporary file stays beside it.
    size_t files = 0;
    for (auto& e : fs::directory_iterator(dir.path())) files += e.path().filename().string()[0] == '.';
    EXPECT_EQ(files, 0u) << why;
  };
  EXPECT_EQ(Add(good, Path("missing.zip"), 0), 0x01020021u);
  unchanged("missing source");
  EXPECT_EQ(Add(good, good, 0), 0x00010001u);
  EXPECT_EQ(Add(good, Path("./good.zip"), 0), 0x00010001u);
  EXPECT_EQ(Add(good, Path("src/../good.zip"), 1), 0x00010001u);
  unchanged("same file");
  EXPECT_EQ(Add(good, Path("x.zip"), 3), 0x00020001u);
  EXPECT_EQ(Delete(Path("missing.zip"), "*"), 0x01020011u);
  {
    ScriptedUi ui;
    ui.dialogs.PressAt(3, ui::ProgressEvent::Cancel);
    EXPECT_EQ(Delete(good, "small.txt", TESSAREX_FLAG_PROGRESS) & 0xFFFF0000u, 0x00900000u);
  }
  unchanged("cancel");

  // Damaged sources are refused before anything is written.
  Member a{.name = "a", .data = std::string(100, 'a')}, b{.name = "b", .data = std::string(100, 'b')};
  std::string fine = BuildZip({a, b});
  const size_t cd = fine.size() - 22 - 2 * 47;
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t code;
  } cases[] = {
      {"truncated directory", fine.substr(0, cd + 20) + fine.substr(fine.size() - 22), 0x00600011},
      {"directory past the end", BuildZip({a, b}, {.cd_offset = 5000}), 0x00600011},
      {"overlapping members", BuildZip({a, Member{.name = "b", .data = b.data, .offset = 40}}), 0x00601601},
      {"member running into the directory",
       BuildZip({a, Member{.name = "b", .data = b.data, .compressed = 200}}), 0x00601602},
  };
  for (const Case& c : cases) {
    std::string damaged = Path("damaged.zip");
    WriteFile(damaged, c.bytes);
    EXPECT_EQ(Delete(damaged, "a"), c.code) << c.what;
    EXPECT_TRUE(ReadFile(damaged) == c.bytes) << c.what;
    EXPECT_EQ(Add(good, damaged, 1), c.code + (c.code == 0x00600011 ? 0x10 : 0)) << c.what;
    EXPECT_EQ(Add(damaged, good, 1), c.code) << c.what;
    EXPECT_TRUE(ReadFile(damaged) == c.bytes) << c.what;
    fs::remove(damaged);
  }
  unchanged("damaged");

  // An encrypted directory (AES-128 named in a version 2 Zip64 record) cannot be rebuilt yet.
  std::string encrypted = EncryptedDirectoryArchive();
  std::string locked = Path("encrypted.zip");
  WriteFile(locked, encrypted);
  // Its decryption header is too short for its fields.
  EXPECT_EQ(Delete(locked, "*"), 0x00441306u);
  EXPECT_EQ(Add(locked, good, 1), 0x00441306u);
  EXPECT_EQ(Add(good, locked, 1), 0x00441306u);
  EXPECT_TRUE(ReadFile(locked) == encrypted);
  fs::remove(locked);
  unchanged("encrypted directory");
}

TEST_F(Update, ReplacementKeepsPermissionsAndLeavesNoTemporary) {
  std::string archive = Ours("private.zip", 8, 0, 0);
  fs::permissions(archive, fs::perms::owner_read | fs::perms::owner_write);
  auto inode = fs::status(archive).permissions();
  ASSERT_EQ(Delete(archive, "small.txt"), 0u);
  EXPECT_EQ(fs::status(archive).permissions(), inode);
  Member extra{.name = "extra.txt", .data = "extra"};
  WriteFile(Path("extra.zip"), BuildZip({extra}));
  ASSERT_EQ(Add(archive, Path("extra.zip"), 0), 0u);
  EXPECT_EQ(fs::status(archive).permissions(), inode);
  for (auto& e : fs::directory_iterator(dir.path())) EXPECT_NE(e.path().filename().string()[0], '.');
}

TEST_F(Update, Zip64FieldHoldsWhatTheRecordCannot) {
  // The first record keeps its offset in a Zip64 field although it fits in 32 bits; once
  // rewritten, the offset stands in the record and the emptied field is gone.
  std::string zip64;
  Put16(zip64, 1), Put16(zip64, 8), Put64(zip64, 0);
  Member first{.name = "first", .data = "one", .central_extra = zip64, .offset = 0xFFFFFFFF};
  Member second{.name = "second", .data = "two"};
  std::string archive = Path("z64.zip");
  WriteFile(archive, BuildZip({first, second}));
  ASSERT_EQ(Delete(archive, "second"), 0u);
  std::string bytes = ReadFile(archive);
  size_t at = bytes.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(Hex(bytes.data() + at + 30, 2), "0000");      // no extra field left
  EXPECT_EQ(Hex(bytes.data() + at + 42, 4), "00000000");  // the offset itself
  ExpectPeersAccept(archive);
  EXPECT_EQ(Shell("unzip -p " + Quote(archive) + " first"), "one");
}

TEST_F(Update, NamesDifferingInCaseAreDifferentFiles) {
  std::string upper = Ours("A.zip", 8, 0, 0);
  Member extra{.name = "extra.txt", .data = "extra"};
  std::string lower = Path("a.zip");
  WriteFile(lower, BuildZip({extra}));
  ASSERT_EQ(Add(upper, lower, 0), 0u);
  EXPECT_EQ(Names(upper).size(), 4u);
}

TEST_F(Update, ConcurrentUpdatesBothLand) {
  std::string archive = Ours("shared.zip", 8, 0, 0);
  // Held by this process, the lock makes an update wait.
  platform::FileLock held;
  std::u16string wide(archive.begin(), archive.end());
  ASSERT_TRUE(held.Acquire(wide.c_str()));
  std::string before = ReadFile(archive);
  std::thread waiting([&] { EXPECT_EQ(Delete(archive, "small.txt"), 0u); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(ReadFile(archive) == before);
  held.Release();
  waiting.join();
  EXPECT_EQ(Names(archive).size(), 2u);

  // Two processes adding different members at once: neither change is lost.
  for (int round = 0; round < 4; ++round) {
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i) {
      std::string name = "m";
      name += std::to_string(round);
      name += '_';
      name += std::to_string(i);
      WriteFile(Path(name + ".zip"), BuildZip({Member{.name = name, .data = std::string(50000, 'x')}}));
      pid_t pid = ::fork();
      if (pid == 0) ::_exit(Add(archive, Path(name + ".zip"), 0) == 0 ? 0 : 1);
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = -1;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  EXPECT_EQ(Names(archive).size(), 10u);
  ExpectPeersAccept(archive);
}

// Killed at any moment, an update leaves the old archive or the new one, never a mix.
TEST_F(Update, AKillAtAnyMomentLeavesTheOldOrTheNewArchive) {
  std::string src = Path("big");
  fs::create_directories(src);
  for (int i = 0; i < 6; ++i) WriteFile(src + "/m" + std::to_string(i), RandomBytes(8 << 20, 40 + i));
  std::string archive = Path("big.zip"), model = Path("model.zip");
  const uint32_t store[16] = {0, 0, 0, 6};
  ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (src + "/*").c_str(), nullptr, store), 0u);
  const std::string before = ReadFile(archive);
  WriteFile(model, before);
  ASSERT_EQ(Delete(model, "m2"), 0u);
  const std::string after = ReadFile(model);
  ASSERT_NE(before, after);
  for (int delay_us : {0, 2000, 10000, 30000, 60000, 120000, 250000}) {
    WriteFile(archive, before);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(TX_CLI_PATH, "tessarex", "zip", "delete", "--filter", "m2", archive.c_str(), nullptr);
      ::_exit(127);
    }
    ::usleep(static_cast<useconds_t>(delay_us));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::string now = ReadFile(archive);
    EXPECT_TRUE(now == before || now == after) << "killed after " << delay_us << " us";
  }
}

TEST_F(Update, CommandLine) {
  std::string archive = Ours("cli.zip", 8, 0, 0), cli = TX_CLI_PATH;
  WriteFile(Path("small.txt"), "replacement");
  Shell("cd " + Quote(dir.path().string()) + " && zip -q -fd more.zip small.txt");
  int status = -1;
  Shell(cli + " zip add " + Quote(archive) + " " + Quote(Path("more.zip")) + " >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Shell("unzip -p " + Quote(archive) + " small.txt"), "small");
  Shell(cli + " zip add --replace-always " + Quote(archive) + " " + Quote(Path("more.zip")) +
            " >/dev/null 2>&1",
        &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Shell("unzip -p " + Quote(archive) + " small.txt"), "replacement");
  Shell(cli + " zip delete " + Quote(archive) + " >/dev/null 2>&1", &status);
  EXPECT_NE(status, 0);  // no filter: nothing is deleted by accident
  Shell(cli + " zip delete --filter '*.txt' --work-folder " + Quote(dir.path().string()) + " " +
            Quote(archive) + " >/dev/null 2>&1",
        &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Names(archive), std::vector<std::string>{"random.bin"});
  Shell(cli + " zip delete --filter x --work-folder " + Quote(Path("none")) + " " + Quote(archive) + " 2>&1",
        &status);
  EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace tx::test
