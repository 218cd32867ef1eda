// Certificates and RSA keys made with the openssl command: enough RSA-1024 and RSA-2048
// keys for the fullest recipient lists and one more, two RSA-4096, one EC key. They are
// made once per build folder (ctest runs every test in its own process) under a lock.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tx::test {

struct CertKey {
  std::string cert, key;  // PEM files
  std::string name;       // the subject's common name
};

class CertKeys {
 public:
  static CertKeys& Get() {
    static CertKeys keys;
    return keys;
  }
  std::vector<CertKey> rsa1024, rsa2048, rsa4096;
  CertKey ec;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  CertKeys() : dir_(std::filesystem::path(TX_CLI_PATH).parent_path() / "test-certificates") {
    std::filesystem::create_directories(dir_);
    const int lock = ::open((dir_ / "lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
      throw std::runtime_error("cannot lock the test certificates");
    // Generated in parallel, a few at a time: both cores, without starving the others.
    std::string script = "set -e\ncd " + Quote(dir_.string()) + "\n";
    auto make = [&](std::vector<CertKey>* list, const std::string& name, const std::string& algorithm) {
      CertKey k{(dir_ / (name + ".crt")).string(), (dir_ / (name + ".key")).string(), name};
      script.append("openssl req -x509 -newkey ").append(algorithm).append(" -nodes -days 365 -subj '/CN=");
      script.append(name).append("/O=Tessarex Tests' -keyout ").append(name).append(".key -out ");
      script.append(name).append(".crt 2>/dev/null &\n");
      if (list != nullptr)
        list->push_back(k);
      else
        ec = k;
    };
    for (int i = 0; i < 26; ++i) make(&rsa1024, "r1024-" + std::to_string(i), "rsa:1024");
    script.append("wait\n");
    for (int i = 0; i < 15; ++i) {
      make(&rsa2048, "r2048-" + std::to_string(i), "rsa:2048");
      if (i % 4 == 3) script.append("wait\n");
    }
    for (int i = 0; i < 2; ++i) make(&rsa4096, "r4096-" + std::to_string(i), "rsa:4096");
    make(nullptr, "ec", "ec -pkeyopt ec_paramgen_curve:prime256v1");
    script.append("wait\nchmod 600 *.key\n");
    script.append("touch done\n");
    int status = 0;
    if (!std::filesystem::exists(dir_ / "done")) {
      WriteFile((dir_ / "make.sh").string(), script);
      Shell("bash " + Quote((dir_ / "make.sh").string()) + " 2>&1", &status);
    }
    ::close(lock);
    if (status != 0) throw std::runtime_error("openssl could not make the test certificates");
  }
  std::filesystem::path dir_;
};

}  // namespace tx::test
