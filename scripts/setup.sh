#!/usr/bin/env bash
# Installs what building, testing and releasing need, only what is missing, and says what: CMake, clang-format, the
# i686 and x86_64 MinGW-w64 cross compilers, Wine (32- and 64-bit, so i386 packages too), qemu-i386 to carry the
# 32-bit loader where the kernel runs no 32-bit code, tmux to run the program on a real console, ShellCheck for the
# scripts, osslsigncode, openssl, zip and unzip for releases, python3 for their check. Then checks that every tool is
# on the PATH. Nothing here needs to run 32-bit code.
set -euo pipefail

# Each tool and the Debian package that brings it.
declare -A package_of=(
    [cmake]=cmake [make]=make [clang-format]=clang-format [flock]=util-linux [setsid]=util-linux
    [i686-w64-mingw32-g++-win32]=g++-mingw-w64-i686 [x86_64-w64-mingw32-g++-win32]=g++-mingw-w64-x86-64
    [i686-w64-mingw32-windres]=binutils-mingw-w64-i686 [x86_64-w64-mingw32-objdump]=binutils-mingw-w64-x86-64
    [wine]=wine [wineserver]=wine [/usr/lib/wine/wine64]=wine64 [/usr/lib/wine/wine]=wine32:i386
    [qemu-i386]=qemu-user [iconv]=libc-bin [tmux]=tmux [osslsigncode]=osslsigncode [openssl]=openssl
    [shellcheck]=shellcheck [zip]=zip [unzip]=unzip [python3]=python3
)
missing=()
for tool in "${!package_of[@]}"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        missing+=("${package_of[$tool]}")
    fi
done
if [ ${#missing[@]} = 0 ]; then
    exit 0
fi
mapfile -t packages < <(printf '%s\n' "${missing[@]}" | sort -u)
echo "Installing what is missing: ${packages[*]}"
sudo=
if [ "$(id -u)" != 0 ]; then
    sudo=sudo
fi
if [[ " ${packages[*]} " == *:i386* ]]; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
for tool in "${!package_of[@]}"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "Still missing after the installation: $tool (${package_of[$tool]})."
        exit 1
    fi
done
