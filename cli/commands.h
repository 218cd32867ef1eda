// The subcommands of the tessarex command. Each returns the process exit status:
// 0 success, 1 a failed operation (its status decoded on stderr), 2 a usage error.
#pragma once

#include <cstdint>
#include <string>

namespace tx::cli {

struct CommonOptions {
  uint32_t flags = 0;  // the flag word bits chosen by --progress and kin
};

int DigestCommand(const CommonOptions& options, int argc, char** argv);
int StatusCommand(int argc, char** argv);
int PeaCommand(const CommonOptions& options, int argc, char** argv);
int ZipCommand(const CommonOptions& options, int argc, char** argv);
int SvzCommand(const CommonOptions& options, int argc, char** argv);
int CertCommand(const CommonOptions& options, int argc, char** argv);

// Prints a failed call's status to stderr: "tessarex: WHAT: <decoded status>".
void ReportFailure(const char* what, uint32_t code);
// The line that describes a status code, as the library words it.
std::string StatusText(uint32_t code);

}  // namespace tx::cli
