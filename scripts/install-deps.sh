#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the project needs.
# Idempotent: packages already present are left alone, and apt is not touched at all when
# nothing is missing. Run as root (or through sudo) on Debian 12.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # drawing layer
  libfreetype-dev libfontconfig-dev libpng-dev libuemf-dev fonts-wqy-zenhei
  # converter and server
  libgif-dev qt6-base-dev qt6-base-dev-tools libqt6dbus6 dbus dbus-daemon dbus-bin
  # importer
  libgdal-dev libproj-dev gdal-bin
  # web map service (kserve) and its scale-out test and benchmark
  libboost-dev nginx curl wrk
  # the map viewer's browser tests (headless Debian Chromium)
  chromium
  # independent checks in the tests
  python3 python3-pil python3-dbus imagemagick xvfb xauth x11-apps libglib2.0-bin
  # manual pages and Debian packages (man/update.sh, cpack -G DEB, the package test)
  help2man lintian dpkg-dev
  # the Windows build (scripts/build-windows.sh): cross compilers, widl, the platform's IDL
  # files, GoogleTest sources, and Wine in both bitnesses to run the tests
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev googletest
  wine wine64 wine32:i386
)

# The map viewer is built with Node.js (20.19 or newer) and npm. The machine's own Node.js is
# kept when it has one; otherwise Debian's is installed (nodejs, npm).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
