#!/usr/bin/env bash
# Builds the shipped 32-bit cleaner (build/product) and the test tree that
# runs here (build/test): 32-bit where Wine runs 32-bit programs, 64-bit where
# the kernel runs no 32-bit code. On such a machine the 32-bit test tree is
# still compiled (build/test-i686, not run), so that a fault only the 32-bit
# build shows (calling conventions, pointer sizes, layouts) fails here too.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/product -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
      -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/product -j "$jobs" -- --no-print-directory

if python3 -c 'import sys; sys.path.insert(0, "scripts"); import wineprefix; sys.exit(0 if wineprefix.WINE_32BIT else 1)'
then arch=i686; else arch=x86_64; fi
product=$PWD/build/product/src/driver/VORNTarnvexEvCleaner.exe

# test_tree <dir> <arch>: configured afresh when it was made for the other arch.
test_tree() {
    local dir=$1 tree_arch=$2
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "toolchain-mingw-$tree_arch.cmake" "$dir/CMakeCache.txt"; then
        rm -rf "$dir"
    fi
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$tree_arch.cmake \
          -DBUILD_TESTING=ON -DCMAKE_BUILD_TYPE=Release -DPRODUCT_EXE="$product" >/dev/null
    cmake --build "$dir" -j "$jobs" -- --no-print-directory
}

echo "test tree: $arch (build/test)"
test_tree build/test $arch
if [ "$arch" != i686 ]; then
    echo "32-bit test tree, compiled only: no 32-bit code runs here (build/test-i686)"
    test_tree build/test-i686 i686
fi
