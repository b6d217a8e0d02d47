#!/usr/bin/env bash
# Installs what TOBRIN needs to build and test on Debian 12, as root (or
# through sudo): compiler, CMake, GoogleTest, the Z80 assembler, the Z80
# emulation library of the virtual Einstein, the Windows cross compiler, and
# wine and tmux, which run tobrin.exe and its tests (the Windows build
# already runs its unit tests under wine to list them), clang with its
# fuzzing runtime for the disc image reader's fuzz target, libdsk's tools
# (the tests open the images that -read writes with them), what the
# packages are made and checked with, yamllint for the CI workflows, and bc
# for the benchmark scripts.
# Packages already installed are left alone.
set -euo pipefail

packages=(
  g++ cmake make pkgconf
  googletest libgtest-dev
  z80asm
  libz80ex-dev
  g++-mingw-w64-x86-64-posix
  wine wine64 tmux
  clang libclang-rt-14-dev
  libdsk-utils
  dpkg-dev man-db groff-base
  bc
  yamllint
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
