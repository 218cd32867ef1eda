// The installed tree serves a program built against it both usual ways: pkg-config and
// CMake's find_package. One test, since every install writes the build's install manifest.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using tx::test::Shell;
using tx::test::TempDir;
using tx::test::WriteFile;

// Prints the CRC-32 of its argument, most significant byte first.
constexpr const char* kProgram = R"(#include <stdio.h>
#include <tessarex.h>

int main(int argc, char** argv) {
  unsigned char crc[4];
  if (argc != 2 || file_crc32(NULL, argv[1], 0, crc) != 0) return 1;
  printf("%02x%02x%02x%02x\n", crc[3], crc[2], crc[1], crc[0]);
  return 0;
}
)";

constexpr const char* kConsumer = R"(cmake_minimum_required(VERSION 3.16)
project(consumer C)
find_package(Tessarex 1 REQUIRED)
string(FIND "${Tessarex_DIR}" "${EXPECTED_PREFIX}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "Tessarex found outside the test prefix: ${Tessarex_DIR}")
endif()
add_executable(consumer main.c)
target_link_libraries(consumer PRIVATE Tessarex::tessarex)
)";

std::string Quoted(const std::string& s) { return std::string("'").append(s).append("'"); }

// Joins the parts by appending: GCC 12 at -O3 warns falsely on `"x" + str`.
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string s;
  (s.append(parts), ...);
  return s;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

TEST(Install, PkgConfigAndFindPackageConsumersBuildAndRun) {
  if (fs::path(TX_INSTALL_LIBDIR).is_absolute()) GTEST_SKIP() << "an absolute libdir ignores the prefix";
  TempDir dir;
  const std::string prefix = dir / "prefix";
  const std::string libdir = Cat(prefix, "/", TX_INSTALL_LIBDIR);
  const std::string includedir = Cat(prefix, "/", TX_INSTALL_INCLUDEDIR);
  int status = -1;
  std::string out = Shell(Cat(TX_CMAKE_COMMAND, " --install ", Quoted(TX_BUILD_DIR), " --prefix ", Quoted(prefix), " 2>&1"),
                          &status);
  ASSERT_EQ(status, 0) << out;

  EXPECT_TRUE(fs::is_regular_file(Cat(prefix, "/", TX_INSTALL_MANDIR, "/man1/tessarex.1")));
  EXPECT_TRUE(fs::is_regular_file(Cat(includedir, "/tessarex.h")));
  EXPECT_TRUE(fs::is_regular_file(Cat(prefix, "/", TX_INSTALL_BINDIR, "/tessarex")));
  EXPECT_TRUE(fs::exists(Cat(libdir, "/libtessarex.so.1")));

  const std::string sample = dir / "sample.txt";
  WriteFile(sample, "123456789");  // the CRC-32 check value is cbf43926
  WriteFile(dir / "main.c", kProgram);
  const std::string run = Cat("LD_LIBRARY_PATH=", Quoted(libdir), " ");

  // pkg-config: the file finds the prefix from where it lies, whatever the libdir.
  const std::string pkg = Cat("PKG_CONFIG_PATH=", Quoted(Cat(libdir, "/pkgconfig")), " pkg-config ");
  std::string pc_includedir = Trimmed(Shell(Cat(pkg, "--variable=includedir tessarex"), &status));
  ASSERT_EQ(status, 0);
  EXPECT_TRUE(fs::exists(pc_includedir) && fs::equivalent(pc_includedir, includedir)) << pc_includedir;
  std::string pc_libdir = Trimmed(Shell(Cat(pkg, "--variable=libdir tessarex"), &status));
  EXPECT_TRUE(fs::exists(pc_libdir) && fs::equivalent(pc_libdir, libdir)) << pc_libdir;
  std::string flags = Trimmed(Shell(Cat(pkg, "--cflags --libs tessarex"), &status));
  ASSERT_EQ(status, 0);
  const std::string pc_program = dir / "pc_program";
  out = Shell(Cat(TX_C_COMPILER, " ", TX_SANITIZE_FLAGS, " -o ", Quoted(pc_program), " ", Quoted(dir / "main.c"), " ",
                  flags, " 2>&1"),
              &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(Shell(Cat(run, Quoted(pc_program), " ", Quoted(sample)), &status), "cbf43926\n");
  EXPECT_EQ(status, 0);

  // find_package and the exported target, in a project of its own.
  const std::string project = dir / "consumer";
  const std::string build = dir / "consumer-build";
  fs::create_directories(project);
  WriteFile(Cat(project, "/CMakeLists.txt"), kConsumer);
  fs::copy_file(dir / "main.c", Cat(project, "/main.c"));
  out = Shell(Cat(TX_CMAKE_COMMAND, " -S ", Quoted(project), " -B ", Quoted(build), " -G ", Quoted(TX_CMAKE_GENERATOR),
                  " -DCMAKE_C_COMPILER=", Quoted(TX_C_COMPILER), " -DCMAKE_C_FLAGS=", Quoted(TX_SANITIZE_FLAGS),
                  " -DCMAKE_EXE_LINKER_FLAGS=", Quoted(TX_SANITIZE_FLAGS), " -DCMAKE_PREFIX_PATH=", Quoted(prefix),
                  " -DEXPECTED_PREFIX=", Quoted(prefix), " 2>&1 && ", TX_CMAKE_COMMAND, " --build ", Quoted(build),
                  " 2>&1"),
              &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(Shell(Cat(run, Quoted(Cat(build, "/consumer")), " ", Quoted(sample)), &status), "cbf43926\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
