#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine; does nothing that is already done.
set -euo pipefail

pkgs=(cmake ninja-build python3 git
      mingw-w64 mingw-w64-tools
      gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix
      gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
      wine wine64 wine32:i386 libwine-dev:i386
      googletest clang clang-format libclang-rt-14-dev
      xvfb xauth x11-utils imagemagick
      rsyslog bsdutils util-linux procps iproute2
      wixl msitools)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  # A mirror caught mid-sync fails one index for a while: try again, then install from what was
  # fetched; the install itself still fails on a package it cannot find.
  for try in 1 2 3; do
    apt-get update -q && break
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ "$try" -lt 3 ] && sleep $((try * 10))
  done
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
