#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12: the MinGW-w64 cross
# compilers with win32 threads (i686 for the product, x86_64 for the test build
# on machines whose kernel runs no 32-bit code), Wine 8 with the i386 architecture, and the GoogleTest sources.
# Quick and silent when everything is already there.
set -euo pipefail

packages=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          googletest wine wine64 wine32:i386 cmake make python3)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
