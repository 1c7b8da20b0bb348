#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# only those that are missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  qt6-base-dev          # the window
  fonts-noto-cjk        # the Chinese captions and log lines
  libgtest-dev          # the tests
  libcli11-dev          # command-line parsing of velkor-cli and the simulator
  nlohmann-json3-dev    # the chip catalogue listing
  libsqlite3-dev        # the line store: one station's database file
  libpq-dev             # the line store: the database several stations share
  postgresql            # initdb and pg_ctl: the line store's tests run a server of their own
  libssl-dev            # SHA-256 of images (OpenSSL's libcrypto)
  zlib1g-dev            # CRC-32 of images
  srecord               # srec_cat: object-file cross-check tests and loader benchmark
  binutils              # objcopy: the same
  help2man              # the manual pages, made from the programs' --help
  desktop-file-utils    # desktop-file-validate: the installed-tree test
  dpkg-dev file         # scripts/package.sh: dpkg-shlibdeps, for the package's dependencies
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}" >&2
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
