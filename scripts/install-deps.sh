#!/usr/bin/env bash
# Installs the Debian packages that building and testing need; quick when all are there.
# 32-bit Wine itself comes from an i386 root that scripts/wine32-root.sh makes.
set -euo pipefail
packages=(
  cmake g++ make clang llvm libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mmdebstrap arch-test mount
  python3 xvfb x11-utils imagemagick fonts-dejavu-core xz-utils gzip osslsigncode openssl
  locales  # localedef and its sources: the locales Wine runs the code-page tests in
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
