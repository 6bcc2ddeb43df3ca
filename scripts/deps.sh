#!/usr/bin/env bash
# Installs every Debian package the project needs; quiet and quick when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format clang libclang-rt-14-dev
  libsqlite3-dev sqlite3
  libcurl4-openssl-dev libssl-dev
  libicu-dev
  libxml2-dev libxml2-utils
  nlohmann-json3-dev libcli11-dev libcpp-httplib-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev ffmpeg
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng tesseract-ocr-chi-sim tesseract-ocr-chi-tra
  fonts-noto-cjk
  libzip-dev uchardet libreoffice-writer-nogui
  libgtest-dev libgmock-dev libbenchmark-dev
  espeak-ng sox
  qt6-base-dev
  help2man man-db desktop-file-utils appstream shared-mime-info file lintian
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
