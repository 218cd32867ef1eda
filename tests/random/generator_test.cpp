// The pool, the measurements behind it, and the generator's use of its keystream within
// a process, across processes and across unloading and reloading the library.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/library.h"
#include "frame/random.h"
#include "paths/support.h"
#include "platform/entropy.h"
#include "tessarex.h"
#include "test_support.h"

namespace {

using tx::test::Hex;

TEST(EntropyPool, LayoutOfTheMeasurements) {
  tx::platform::EntropySample sample;
  sample.file_time = 0x0102030405060708;
  sample.monotonic_ns = 0x1112131415161718;
  sample.boot_ms = 0x21222324;
  sample.process_id = 0x10;
  sample.module_address = 0x00007F00FFFFFFF8;  // the 32-bit sum with the id carries out
  sample.memory_known = true;
  sample.ram_total = 0x0000FFFF00000000;
  sample.ram_free = 0x0001000000000005;  // the sum keeps its low 48 bits
  sample.swap_total = 0x31;
  sample.swap_free = 0x32;
  sample.commit_known = true;
  sample.commit_limit = 0x123456789ABC;
  sample.commit_free = 1;
  sample.disk_known = true;
  sample.disk_total = 0xFFFFFFFFFFFF;
  sample.disk_free = 1;
  uint8_t pool[tx::frame::kPoolSize];
  tx::frame::BuildPool(sample, pool);
  EXPECT_EQ(Hex(pool, sizeof pool),
            "0807060504030201"  // 0-7 file time
            "1817161514131211"  // 8-15 monotonic counter
            "24232221"          // 16-19 milliseconds since boot
            "08000000"          // 20-23 process id + module address
            "05000000ffff"      // 24-29 memory
            "630000000000"      // 30-35 swap
            "bd9a78563412"      // 36-41 commit
            "000000000000");    // 42-47 disk

  sample.memory_known = sample.commit_known = sample.disk_known = false;
  std::memset(pool, 0xEE, sizeof pool);
  tx::frame::BuildPool(sample, pool);
  EXPECT_EQ(Hex(pool + 24, 24), std::string(48, '0')) << "failed queries leave zeros";
}

TEST(EntropyPool, MeasurementsDescribeThisProcessAndMachine) {
  tx::platform::EntropySample first, second;
  tx::platform::MeasureEntropy(first);
  tx::platform::MeasureEntropy(second);
  auto unix_us = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  int64_t now = static_cast<int64_t>(unix_us.count()) * 10 + 11644473600LL * 10000000LL;
  EXPECT_LT(std::abs(static_cast<int64_t>(first.file_time) - now), 600LL * 10000000LL);
  EXPECT_GE(second.monotonic_ns, first.monotonic_ns);
  EXPECT_GT(first.boot_ms, 0u);
  EXPECT_EQ(first.process_id, static_cast<uint32_t>(::getpid()));
  EXPECT_NE(first.module_address, 0u);
  ASSERT_TRUE(first.memory_known);
  EXPECT_GT(first.ram_total, 0u);
  EXPECT_LE(first.ram_free, first.ram_total);
  EXPECT_LE(first.swap_free, first.swap_total);
  ASSERT_TRUE(first.commit_known);
  EXPECT_GT(first.commit_limit, 0u);
  EXPECT_LE(first.commit_free, first.commit_limit);
  ASSERT_TRUE(first.disk_known);
  EXPECT_GT(first.disk_total, 0u);
  EXPECT_LE(first.disk_free, first.disk_total);
}

TEST(EntropyPool, SystemRandomFillsBeyondOneKernelCall) {
  // The kernel hands out at most 32 MiB - 1 per call.
  std::vector<uint8_t> big((32u << 20) + 64, 0);
  ASSERT_TRUE(tx::platform::SystemRandom(big.data(), big.size()));
  EXPECT_NE(Hex(big.data() + big.size() - 64, 64), std::string(128, '0'));
  uint8_t a[48], b[48];
  ASSERT_TRUE(tx::platform::SystemRandom(a, sizeof a));
  ASSERT_TRUE(tx::platform::SystemRandom(b, sizeof b));
  EXPECT_NE(Hex(a, sizeof a), Hex(b, sizeof b));
}

// A pool that keys the generator with the 256-bit key 80 00 .. 00 and IV0..IV3 = 1..4,
// whose keystream is published: 7861080D 5755E90B 736F1091 6ED519B1 2C1A3A42.
void KeyWithPublishedPool() {
  uint8_t pool[tx::frame::kPoolSize] = {0x80};
  for (int i = 0; i < 4; ++i) pool[32 + 4 * i] = static_cast<uint8_t>(i + 1);
  tx::frame::KeyGenerator(pool);
}

TEST(RandomBytes, WordsAreUsedWholeOrStartFresh) {
  KeyWithPublishedPool();
  ASSERT_TRUE(tx::frame::GeneratorSeeded());
  ASSERT_EQ(tx::frame::RandomBytes(nullptr, 0), 0u);  // draws nothing
  uint8_t five[8];
  std::memset(five, 0xEE, sizeof five);
  ASSERT_EQ(tx::frame::RandomBytes(five, 5), 0u);
  EXPECT_EQ(Hex(five, 8), "0d0861780beeeeee") << "word 1 whole, the low byte of word 2, nothing beyond";
  ASSERT_EQ(tx::frame::GatherEntropy(), 0u);  // already keyed: the keystream runs on
  uint8_t two[2], four[4], one[1];
  ASSERT_EQ(tx::frame::RandomBytes(two, 2), 0u);
  ASSERT_EQ(tx::frame::RandomBytes(four, 4), 0u);
  ASSERT_EQ(tx::frame::RandomBytes(one, 1), 0u);
  EXPECT_EQ(Hex(two, 2), "9110") << "a fresh word for each call";
  EXPECT_EQ(Hex(four, 4), "b119d56e");
  EXPECT_EQ(Hex(one, 1), "42");
}

TEST(RandomBytes, AnUnkeyedGeneratorGathersFirst) {
  tx::frame::WipeGenerator();
  EXPECT_FALSE(tx::frame::GeneratorSeeded());
  uint8_t a[16], b[16];
  ASSERT_EQ(tx::frame::RandomBytes(a, sizeof a), 0u);
  EXPECT_TRUE(tx::frame::GeneratorSeeded());
  tx::frame::WipeGenerator();
  ASSERT_EQ(tx::frame::RandomBytes(b, sizeof b), 0u);
  EXPECT_NE(Hex(a, sizeof a), Hex(b, sizeof b));
}

// Runs GatherEntropy and RandomBytes in a forked child and returns its bytes.
std::string DrawInChild() {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    uint8_t bytes[32];
    if (tx::frame::GatherEntropy() != 0 || tx::frame::RandomBytes(bytes, sizeof bytes) != 0) ::_exit(1);
    ssize_t written = ::write(fds[1], bytes, sizeof bytes);
    ::_exit(written == static_cast<ssize_t>(sizeof bytes) ? 0 : 1);
  }
  ::close(fds[1]);
  uint8_t bytes[32];
  size_t got = 0;
  ssize_t n;
  while (got < sizeof bytes && (n = ::read(fds[0], bytes + got, sizeof bytes - got)) > 0) got += n;
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (got != sizeof bytes || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return Hex(bytes, sizeof bytes);
}

TEST(RandomBytes, SeparateProcessesDrawDifferentBytes) {
  tx::frame::WipeGenerator();
  std::string first = DrawInChild(), second = DrawInChild();
  EXPECT_EQ(first.size(), 64u) << first;
  EXPECT_NE(first, second);

  // A child forked from a keyed process must not repeat what its parent draws next.
  ASSERT_EQ(tx::frame::GatherEntropy(), 0u);
  uint8_t before[32], parent[32];
  ASSERT_EQ(tx::frame::RandomBytes(before, sizeof before), 0u);
  std::string child = DrawInChild();
  ASSERT_EQ(tx::frame::RandomBytes(parent, sizeof parent), 0u);
  EXPECT_EQ(child.size(), 64u) << child;
  EXPECT_NE(child, Hex(parent, sizeof parent));
  EXPECT_NE(child, Hex(before, sizeof before));
  EXPECT_TRUE(tx::frame::GeneratorSeeded());
}

TEST(RandomBytes, LibraryUnloadAndLoadLeaveTheGeneratorUnkeyed) {
  KeyWithPublishedPool();
  tx::frame::OnLibraryUnload();
  EXPECT_FALSE(tx::frame::GeneratorSeeded());
  KeyWithPublishedPool();
  tx::frame::OnLibraryLoad();
  EXPECT_FALSE(tx::frame::GeneratorSeeded());
  uint8_t word[4];
  ASSERT_EQ(tx::frame::RandomBytes(word, sizeof word), 0u);
  EXPECT_NE(Hex(word, sizeof word), "0d086178") << "gathered afresh, not the old key";
}

#ifdef TX_PROBE_PATH
TEST(RandomBytes, UnloadingAndReloadingTheLibraryGathersAfresh) {
  using DrawFn = void (*)(unsigned char*, unsigned long);
  using SeededFn = int (*)();
  std::string draws[3];
  for (int load = 0; load < 2; ++load) {
    void* module = ::dlopen(TX_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << ::dlerror();
    auto draw = reinterpret_cast<DrawFn>(::dlsym(module, "tessarex_probe_random"));
    auto seeded = reinterpret_cast<SeededFn>(::dlsym(module, "tessarex_probe_seeded"));
    ASSERT_NE(draw, nullptr);
    ASSERT_NE(seeded, nullptr);
    EXPECT_EQ(seeded(), 0) << "load " << load;
    unsigned char bytes[32];
    draw(bytes, sizeof bytes);
    EXPECT_EQ(seeded(), 1);
    draws[load] = Hex(bytes, sizeof bytes);
    if (load == 0) {
      draw(bytes, sizeof bytes);
      draws[2] = Hex(bytes, sizeof bytes);
    }
    ASSERT_EQ(::dlclose(module), 0);
    void* stuck = ::dlopen(TX_PROBE_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(stuck, nullptr) << "the module could not be unloaded";
    if (stuck != nullptr) ::dlclose(stuck);
  }
  EXPECT_NE(draws[0], draws[2]) << "the keystream runs on within one load";
  EXPECT_NE(draws[0], draws[1]);
  EXPECT_NE(draws[1], draws[2]);
}
#endif

// Without the kernel's random source nothing is keyed from the measurements alone: the
// generator says so, and every packing call that needs a salt fails with its code and
// leaves no archive.
TEST(RandomBytes, AFailingKernelSourceIsReportedNotPapered) {
  tx::test::TempDir dir;
  tx::test::WriteFile(dir / "data.txt", "some data to encrypt");
  const std::string source = dir / "data.txt", pea = dir / "a.pea", zip = dir / "a.zip";
  EXPECT_EQ(tx::test::InChild([&] {
              tx::test::RefuseSyscall(SYS_getrandom);
              uint8_t salt[8] = {};
              if (tx::frame::RandomBytes(salt, sizeof salt) != tx::frame::kRandomSourceFailed) return 1u;
              if (tx::frame::GeneratorSeeded() || salt[0] != 0) return 2u;
              return tx::frame::GatherEntropy();
            }),
            0x01303E01u);
  const std::array<uint32_t, 8> pea_options = {0, 0, 0, 0, 48, 0, 48, 0};
  EXPECT_EQ(tx::test::InChild([&] {
              tx::test::RefuseSyscall(SYS_getrandom);
              return pea_pack1(nullptr, pea.c_str(), source.c_str(), "pw", nullptr, pea_options.data());
            }),
            0x01303E01u);
  const std::array<uint32_t, 15> zip_options = {0, 0, 8, 6, 0, 1, 16};
  EXPECT_EQ(tx::test::InChild([&] {
              tx::test::RefuseSyscall(SYS_getrandom);
              return zip_pack1(nullptr, zip.c_str(), source.c_str(), "pw", zip_options.data());
            }),
            0x01303E01u);
  EXPECT_FALSE(std::filesystem::exists(pea));
  EXPECT_FALSE(std::filesystem::exists(zip));
  // Without a password no salt is drawn, and packing goes on as before.
  const std::array<uint32_t, 15> plain = {0, 0, 8, 6};
  EXPECT_EQ(tx::test::InChild([&] {
              tx::test::RefuseSyscall(SYS_getrandom);
              return zip_pack1(nullptr, zip.c_str(), source.c_str(), nullptr, plain.data());
            }),
            0u);
}

}  // namespace
