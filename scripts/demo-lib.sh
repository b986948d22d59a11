# Sourced by scripts/run, scripts/screenshots and scripts/soak: building a variant of the Windows program, and the
# demo news site on loopback.

# build_variant <build-folder> "<targets>" [configure settings...]: configures the folder from the win64 preset
# (BRASKO_PRESET=win32: the 32-bit one) with the settings (tests off) and builds the targets; prints the tail of what
# failed.
build_variant() {
  local build=$1 targets=$2
  shift 2
  if ! cmake --preset "${BRASKO_PRESET:-win64}" -B "$build" -DBRASKO_TESTS=OFF "$@" >"$build.configure.log" 2>&1; then
    tail -n 40 "$build.configure.log" >&2
    return 1
  fi
  # shellcheck disable=SC2086
  if ! cmake --build "$build" --target $targets >"$build.build.log" 2>&1; then
    grep -E -A12 'error|Error' "$build.build.log" | head -n 60 >&2
    return 1
  fi
}

# demo_settings <port> [poll period ms]: the configure settings of a build that polls the demo site on that port.
demo_settings() {
  echo "-DBRASKO_SITE_HOST=127.0.0.1:$1 -DBRASKO_AUTHOR_URL=http://127.0.0.1:$1 -DBRASKO_POLL_PERIOD_MS=${2:-20000}"
}

# start_demo_site <port> <log> [feed-server options...]: starts demo/feed-server in the background (its process id
# in $demo_site_pid, stopped when the calling script exits) and waits until it listens.
start_demo_site() {
  local port=$1 log=$2
  shift 2
  demo/feed-server --port "$port" "$@" >"$log" 2>&1 &
  demo_site_pid=$!
  trap 'kill $demo_site_pid 2>/dev/null; wait $demo_site_pid 2>/dev/null' EXIT
  for _ in $(seq 1 50); do
    grep -q "demo-feed-server: http" "$log" 2>/dev/null && return 0
    kill -0 "$demo_site_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the demo site could not start on 127.0.0.1:$port (another port may help)" >&2
  cat "$log" >&2
  return 1
}
