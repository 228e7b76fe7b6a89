#!/usr/bin/env bash
# Installs what building, testing and releasing need, only when something is missing: CMake, clang-format, the
# i686 and x86_64 MinGW-w64 cross compilers, Wine (32- and 64-bit, so i386 packages too), qemu-i386 to carry the
# 32-bit loader where the kernel runs no 32-bit code, tmux to run the program on a real console, osslsigncode,
# openssl, unzip and python3 for releases and their check. Nothing here needs to run 32-bit code.
set -euo pipefail

missing=0
for tool in cmake make clang-format i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32 i686-w64-mingw32-windres \
    x86_64-w64-mingw32-objdump wine wineserver qemu-i386 iconv tmux osslsigncode openssl unzip python3; do
    command -v "$tool" >/dev/null 2>&1 || missing=1
done
dpkg -s wine32:i386 wine64 >/dev/null 2>&1 || missing=1
[ "$missing" = 0 ] && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    cmake make clang-format g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
    wine wine32 wine64 qemu-user libc-bin tmux osslsigncode openssl unzip python3
