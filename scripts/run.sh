#!/usr/bin/env bash
# `make run`: what the project can run today.
set -euo pipefail
build_dir=${1:-build}
if [[ -x "$build_dir/src/app/quillora" ]]; then
  exec "$build_dir/src/app/quillora"
fi
if [[ -x "$build_dir/src/server/quillora-platform" ]]; then
  echo "The desktop app is not built yet; starting the local platform server instead."
  exec "$build_dir/src/server/quillora-platform" --demo
fi
echo "The desktop app and the platform server are not built yet."
if [[ -x "$build_dir/src/cli/quillora-cli" ]]; then
  echo "The command-line tool is ready:"
  "$build_dir/src/cli/quillora-cli" --help
fi
