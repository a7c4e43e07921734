#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmark need,
# but only when one is missing, so that repeated runs cost nothing.
#
#   install-deps.sh [lint]   lint: also npx and clang-format, for make lint
set -euo pipefail

packages=(
  make
  cmake
  ninja-build
  git
  python3
  g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  wine64
  googletest
  pulseaudio
  pulseaudio-utils
  hyperfine
  time
  openssl
  osslsigncode
  libengine-pkcs11-openssl
  softhsm2
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ "${1-}" = lint ]; then
  # Any Node.js with npx will do; Debian's npm brings one.
  command -v npx >/dev/null || missing+=(npm)
  command -v clang-format >/dev/null || missing+=(clang-format)
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
