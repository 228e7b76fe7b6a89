#!/usr/bin/env bash
# Installs what building and testing need, only when something is missing:
# CMake and g++ with GoogleTest for the host build, the i686 MinGW-w64 cross
# compiler for the Windows program, and Wine (with i386) to run it.
set -euo pipefail

missing=0
for tool in cmake g++ make i686-w64-mingw32-g++-win32 i686-w64-mingw32-windres i686-w64-mingw32-objdump wine wineserver iconv; do
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
    cmake g++ make libgtest-dev libgmock-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32 wine64 libc-bin
