#!/usr/bin/env bash
# Installs the cross toolchain, Wine (32-bit capable), Xvfb, the locales and
# the code-signing tools (the test build signs its stand-in installers) the
# tests need. Idempotent: when everything is present it only checks and exits.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-i686
          wine wine32:i386 wine64 fonts-wine xvfb xauth imagemagick xdotool
          locales googletest cmake make python3 bc qemu-user-static
          openssl osslsigncode)
locales=(en_US.UTF-8 de_DE.UTF-8 ru_RU.UTF-8)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

need_gen=0
for l in "${locales[@]}"; do
    if ! locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}"; then
        $sudo sed -i "s/^# *\(${l} UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${l} UTF-8" /etc/locale.gen || echo "${l} UTF-8" | $sudo tee -a /etc/locale.gen >/dev/null
        need_gen=1
    fi
done
[ $need_gen -eq 0 ] || $sudo locale-gen >/dev/null
exit 0
