#!/usr/bin/env bash
# Installs the Debian packages the build and tests need; safe to run again.
set -euo pipefail
pkgs=(cmake g++ make pkg-config flatbuffers-compiler libflatbuffers-dev libfmt-dev libspdlog-dev
      libjsoncpp-dev zlib1g-dev libisal-dev libgtest-dev jq python3 python3-jsonschema llvm-14-tools)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
