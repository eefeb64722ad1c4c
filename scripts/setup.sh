#!/usr/bin/env bash
# Installs, only where missing, every Debian package the project builds and tests with.
# Safe to run again; needs root (or sudo) on a fresh Debian machine.
set -euo pipefail

PACKAGES=(
  g++ clang libclang-rt-14-dev cmake ninja-build ccache mold lld pkg-config python3
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libfreetype-dev libfontconfig-dev
  libopencv-imgproc-dev libncurses-dev libsdl2-dev libpixman-1-dev
  libgtest-dev libgmock-dev libbenchmark-dev libimagequant-dev
  unicode-data socat xvfb coreutils
  libcanberra-dev libnotify-dev libdbus-1-dev dbus-daemon python3-dbus python3-gi
  libsndfile1-dev tmux
  ttf-bitstream-vera fonts-dejavu-core
  python3-pyftpdlib curl
  libtiff-dev libwebp-dev libgif-dev
  libxtst-dev libxfixes-dev
  libsdl2-ttf-dev
  libmpg123-0 libopenmpt-dev libxmp-dev
  libcairo2-dev
  libgtk-3-dev xdotool xclip x11-utils xfonts-base
  imagemagick netpbm python3-pil
  libswscale-dev libavutil-dev ffmpeg
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
