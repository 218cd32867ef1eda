// Whole-file digests of files spanning several read buffers: results against peers and a
// bitwise reference, progress and cancel in the middle, and a file that shrinks while read.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "frame/status.h"
#include "platform/failure.h"
#include "tessarex.h"
#include "test_support.h"
#include "ui/dialogs.h"
#include "ui/scripted_dialogs.h"

namespace {

using tx::test::Hex;
using tx::test::Shell;
using tx::test::TempDir;
using tx::test::WriteFile;

constexpr size_t kMiB = size_t{1} << 20;

std::string Digest(TessarexStatus (*function)(void*, const char*, uint32_t, void*), size_t size,
                   const std::string& path, uint32_t flags, TessarexStatus* code) {
  unsigned char out[32];
  std::memset(out, 0xA5, sizeof out);
  *code = function(nullptr, path.c_str(), flags, out);
  return Hex(out, size);
}

// The script's dialogs, and a hook run at one turn of the progress window.
class HookedDialogs : public tx::ui::ScriptedDialogs {
 public:
  unsigned hook_turn = 0;
  std::function<void()> hook;

  std::unique_ptr<tx::ui::ProgressView> OpenProgress() override {
    auto inner = ScriptedDialogs::OpenProgress();
    if (!inner) return inner;
    return std::make_unique<View>(std::move(inner), *this);
  }

 private:
  struct View : tx::ui::ProgressView {
    View(std::unique_ptr<tx::ui::ProgressView> inner, HookedDialogs& owner)
        : inner(std::move(inner)), owner(owner) {}
    void SetText(tx::ui::ProgressField field, std::string_view text) override { inner->SetText(field, text); }
    tx::ui::ProgressEvent NextEvent() override { return inner->NextEvent(); }
    void Refresh() override {
      if (++turns == owner.hook_turn && owner.hook) owner.hook();
      inner->Refresh();
    }
    void Wait(unsigned milliseconds) override { inner->Wait(milliseconds); }
    std::unique_ptr<tx::ui::ProgressView> inner;
    HookedDialogs& owner;
    unsigned turns = 0;
  };
};

class Digests : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = tx::ui::InstallDialogs(&dialogs_); }
  void TearDown() override { tx::ui::InstallDialogs(previous_); }

  TempDir dir_;
  HookedDialogs dialogs_;
  tx::ui::Dialogs* previous_ = nullptr;
};

TEST_F(Digests, FilesAroundAndAcrossTheReadBuffersMatchPeers) {
  const std::string data = tx::test::RandomBytes(7 * kMiB + 3, 21);
  for (size_t size : {kMiB - 1, kMiB, kMiB + 1, 3 * kMiB, 4 * kMiB + 1, data.size()}) {
    const std::string path = dir_ / "f";
    WriteFile(path, data.substr(0, size));
    TessarexStatus code;
    const std::string sha256 = Digest(file_sha256, 32, path, 0, &code);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(sha256, Shell("sha256sum " + tx::test::Quote(path) + " | cut -c1-64").substr(0, 64)) << size;
    // CRC-32 as zlib computes it, written little-endian.
    const std::string crc32 = Digest(file_crc32, 4, path, 0, &code);
    ASSERT_EQ(code, 0u);
    std::string python =
        "/usr/bin/python3 -c 'import sys,zlib; print(zlib.crc32(open(sys.argv[1],\"rb\").read())"
        ".to_bytes(4,\"little\").hex())' ";
    python.append(tx::test::Quote(path));
    EXPECT_EQ(crc32, Shell(python).substr(0, 8)) << size;
    uint64_t reg = ~uint64_t{0};
    for (size_t i = 0; i < size; ++i) {
      reg ^= uint64_t{static_cast<unsigned char>(data[i])} << 56;
      for (int k = 0; k < 8; ++k) reg = (reg << 1) ^ ((reg >> 63) ? 0x42F0E1EBA9EA3693ull : 0);
    }
    reg = ~reg;
    EXPECT_EQ(Digest(file_crc64, 8, path, 0, &code), Hex(&reg, 8)) << size;
    EXPECT_EQ(code, 0u);
  }
}

TEST_F(Digests, ProgressAndCancelInTheMiddleOfAFile) {
  const std::string path = dir_ / "f";
  WriteFile(path, std::string(5 * kMiB + 65536, 'p'));  // 81 blocks of 64 KiB
  TessarexStatus code;
  const std::string whole = Digest(file_sha256, 32, path, TESSAREX_FLAG_PROGRESS, &code);
  ASSERT_EQ(code, 0u);
  EXPECT_EQ(dialogs_.record().turns, 82u) << "open, then one update per block";
  EXPECT_EQ(dialogs_.record().captions.back(), "Progress  100%");
  EXPECT_EQ(whole, Digest(file_sha256, 32, path, 0, &code));

  for (unsigned turn : {2u, 17u, 40u, 82u}) {
    tx::ui::ScriptedDialogs d;
    tx::ui::InstallDialogs(&d);
    d.PressAt(turn, tx::ui::ProgressEvent::Cancel);
    const std::string result = Digest(file_sha256, 32, path, TESSAREX_FLAG_PROGRESS, &code);
    EXPECT_EQ(code, 0x00904602u) << turn;
    EXPECT_EQ(result.find_first_not_of("a5"), std::string::npos) << "result written after a cancel";
    EXPECT_EQ(d.record().turns, turn);
    EXPECT_EQ(d.record().closed, 1u);
    tx::ui::InstallDialogs(&dialogs_);
  }
  // Nothing holds the file once the call is over.
  std::filesystem::remove(path);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Digests, AFileThatShrinksWhileReadIsAReadFailure) {
  const std::string path = dir_ / "f";
  for (uint64_t keep : {uint64_t{0}, uint64_t{4 * kMiB + 17}}) {
    WriteFile(path, std::string(12 * kMiB, 's'));
    dialogs_.hook_turn = 3;
    dialogs_.hook = [&] { std::filesystem::resize_file(path, keep); };
    TessarexStatus code;
    const std::string result = Digest(file_crc64, 8, path, TESSAREX_FLAG_PROGRESS, &code);
    EXPECT_EQ(code, tx::SystemCode(tx::platform::SysCall::ReadFile, 0x42, 0x01)) << keep;
    EXPECT_EQ(result, "a5a5a5a5a5a5a5a5");
    EXPECT_NE(tx::platform::FailureText(), "") << "the failure is noted for the caller";
  }
}

}  // namespace
