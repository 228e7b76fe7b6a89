#!/usr/bin/env bash
# Installs what building, testing and releasing need, only when something is
# missing: CMake and g++ with GoogleTest for the host build, clang-format, the
# i686 MinGW-w64 cross compiler for the Windows program, Wine (with i386) and
# tmux to run it on a real console, osslsigncode, openssl and unzip for releases.
set -euo pipefail

missing=0
for tool in cmake g++ make clang-format i686-w64-mingw32-g++-win32 i686-w64-mingw32-windres i686-w64-mingw32-objdump \
    wine wineserver iconv tmux osslsigncode openssl unzip; do
    command -v "$tool" >/dev/null 2>&1 || missing=1
done
[ -f /usr/include/gtest/gtest.h ] || missing=1
dpkg -s wine32:i386 >/dev/null 2>&1 || missing=1
[ "$missing" = 0 ] && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo dpkg --add-architecture i386
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    cmake g++ make libgtest-dev libgmock-dev clang-format g++-mingw-w64-i686 binutils-mingw-w64-i686 \
    wine wine32 wine64 libc-bin tmux osslsigncode openssl unzip
