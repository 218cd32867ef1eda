#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing. Safe to run again.
set -euo pipefail

packages=(
  gcc g++ cmake ninja-build pkg-config binutils   # build (pkg-config also for the install test)
  libssl-dev zlib1g-dev libbz2-dev lzma-dev liblzma-dev libzstd-dev libisal-dev   # libraries the library links or compiles in
  libgtest-dev                                # tests
  openssl python3 python3-pycryptodome 7zip zip unzip xz-utils zstd coreutils bc time  # peers the tests and benches compare with
  clang libclang-rt-14-dev                    # fuzz targets
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
