#!/usr/bin/env bash
# Builds the shipped 32-bit cleaner (build/product) and the test tree
# (build/test): the test tree is 32-bit too where Wine can run 32-bit
# programs, and 64-bit where the kernel runs no 32-bit code.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/product -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
      -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/product -j "$jobs" -- --no-print-directory

if /usr/lib/wine/wine --version >/dev/null 2>&1; then arch=i686; else arch=x86_64; fi
product=$PWD/build/product/src/driver/VORNTarnvexEvCleaner.exe
cmake -S . -B build/test -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$arch.cmake \
      -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release -DPRODUCT_EXE="$product" >/dev/null
cmake --build build/test -j "$jobs" -- --no-print-directory
