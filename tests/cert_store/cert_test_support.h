// Keys and certificates made by openssl once per test binary, and stores in a temporary
// data folder (XDG_DATA_HOME points there for each test).
#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "test_support.h"

namespace tx::test {

inline constexpr const char* kPassphrase = "correct horse";

struct TestIdentity {
  std::string cert_pem, cert_der, key_pem, cert_and_key, cert_and_encrypted_key, p12_empty, p12_password;
  std::string fingerprint;  // SHA-1, upper-case hex
  std::string serial;       // upper-case hex
  std::string files;        // folder of the files above (cert.pem, key.pem, ...)
};

// Sets (or, with null, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline const TestIdentity& Identity(const std::string& name) {
  static TempDir folder;
  static std::map<std::string, TestIdentity> made;
  auto it = made.find(name);
  if (it != made.end()) return it->second;
  TestIdentity id;
  id.files = folder / name;
  std::filesystem::create_directory(id.files);
  const std::string f = id.files + "/";
  id.serial = "1A2B3C0" + std::to_string(made.size() + 1);
  std::string run =
      "cd " + Quote(f) + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem" +
      " -subj '/CN=" + name + "/O=Tessarex Test' -days 365 -set_serial 0x" + id.serial +
      " && openssl x509 -in cert.pem -outform DER -out cert.der" +
      " && openssl pkey -in key.pem -aes256 -passout pass:'" + kPassphrase + "' -out key.enc.pem" +
      " && openssl pkcs12 -export -in cert.pem -inkey key.pem -passout pass: -out empty.p12" +
      " && openssl pkcs12 -export -in cert.pem -inkey key.pem -passout pass:'" + kPassphrase +
      "' -out password.p12";
  int status = -1;
  Shell("(" + run + ") >/dev/null 2>&1", &status);
  if (status != 0) throw std::runtime_error("openssl could not make " + name);
  id.cert_pem = ReadFile(f + "cert.pem");
  id.cert_der = ReadFile(f + "cert.der");
  id.key_pem = ReadFile(f + "key.pem");
  id.cert_and_key = id.cert_pem + id.key_pem;
  id.cert_and_encrypted_key = id.cert_pem + ReadFile(f + "key.enc.pem");
  id.p12_empty = ReadFile(f + "empty.p12");
  id.p12_password = ReadFile(f + "password.p12");
  std::string print = Shell("openssl x509 -in " + Quote(f + "cert.pem") + " -noout -fingerprint -sha1");
  for (char c : print.substr(print.find('=') + 1))
    if (std::isxdigit(static_cast<unsigned char>(c)))
      id.fingerprint.push_back(static_cast<char>(std::toupper(c)));
  return made.emplace(name, std::move(id)).first->second;
}

inline std::string UserDatabaseHome() {
  struct passwd* pw = ::getpwuid(::getuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

class CertStoreTest : public ::testing::Test {
 protected:
  std::string Data() const { return dir_ / "data"; }
  std::string Folder(const std::string& store) const { return Data() + "/tessarex/certificates/" + store; }
  std::string Put(const std::string& store, const std::string& name, const std::string& content,
                  mode_t mode) {
    std::filesystem::create_directories(Folder(store));
    std::string path = Folder(store) + "/" + name;
    WriteFile(path, content);
    ::chmod(path.c_str(), mode);
    return path;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  TempDir dir_;
  ScopedEnv xdg_{"XDG_DATA_HOME", Data().c_str()};
};

}  // namespace tx::test
