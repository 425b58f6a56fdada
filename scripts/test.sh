#!/usr/bin/env bash
# Runs every test of velmora: installs what is missing (Debian, as root),
# then builds each preset and runs its tests.
#   host       Linux executable, unit tests, NTFS integration tests, and the
#              release (scripts/release.sh twice from fresh clones of HEAD,
#              compared byte for byte, then unpacked and checked)
#   asan       the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   mingw-x64  Windows x64 executable, unit tests and end-to-end tests under wine64
#   mingw-x86  Windows x86 executable, static checks (32-bit programs cannot run here)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang clang-tidy cppcheck googletest python3
          g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 wine64
          ntfs-3g attr python3-pefile icoutils locales libclang-rt-14-dev
          zip unzip lintian tmux)
bash scripts/install-missing.sh "${packages[@]}"

presets=(host asan fuzz mingw-x64 mingw-x86)
[ $# -gt 0 ] && presets=("$@")
for preset in "${presets[@]}"; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
