#!/usr/bin/env bash
# `make run`: the desktop client. With a display it starts the local reference platform server
# in the background when nothing answers at the configured platform address, runs `quillora`
# against it, and stops that server when the window closes. Without a display it serves the
# platform alone, for the command line.
set -euo pipefail
build_dir=${1:-build}
app="$build_dir/src/app/quillora"
server="$build_dir/src/server/quillora-platform"
api_url=${QUILLORA_API_URL:-http://127.0.0.1:8750}

hostport=${api_url#*://}
hostport=${hostport%%/*}
host=${hostport%:*}
port=${hostport##*:}
[[ "$port" == "$hostport" ]] && port=80

answers() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): serving only the platform on $host:$port for quillora-cli."
  exec "$server" --demo --listen "$host:$port"
fi

server_pid=""
stop_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

if ! answers; then
  echo "Starting the local platform server on $host:$port (demo account demo / demo1234)."
  "$server" --demo --listen "$host:$port" &
  server_pid=$!
  for _ in $(seq 1 100); do
    answers && break
    kill -0 "$server_pid" 2>/dev/null || { echo "The platform server did not start."; exit 1; }
    sleep 0.1
  done
fi

QUILLORA_API_URL="$api_url" QUILLORA_TASK_URL="${QUILLORA_TASK_URL:-$api_url}" "$app"
