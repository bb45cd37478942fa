#!/usr/bin/env bash
# Starts the built VexiloDesktop on the display the test run provides, waits for its window by
# title, and takes a screenshot of the screen into the test output folder.
# Usage: desktop_window_screenshot.sh <VexiloDesktop> <output folder> [seconds to wait]
set -euo pipefail
desktop=$1
output_dir=$2
wait_seconds=${3:-60}
title="Vexilo Desktop"

if [ -z "${DISPLAY:-}" ]; then
  echo "no X display: run under xvfb-run" >&2
  exit 1
fi
mkdir -p "$output_dir"
config_dir=$(mktemp -d)
log_file="$output_dir/desktop_window_screenshot.log"
# The display a whole parallel test run shares now and then refuses a connection for a moment;
# that is not the program failing to start, so such a start is tried again, a few times.
connect_attempts=3
start_desktop() {
  XDG_CONFIG_HOME="$config_dir" QT_QPA_PLATFORM=xcb "$desktop" >"$log_file" 2>&1 &
  desktop_pid=$!
}
start_desktop
cleanup() {
  kill "$desktop_pid" 2>/dev/null || true
  wait "$desktop_pid" 2>/dev/null || true
  rm -rf "$config_dir"
}
trap cleanup EXIT

window_id=""
deadline=$((SECONDS + wait_seconds))
while [ "$SECONDS" -lt "$deadline" ]; do
  if ! kill -0 "$desktop_pid" 2>/dev/null; then
    wait "$desktop_pid" 2>/dev/null || true
    if grep -q "could not connect to display" "$log_file" && [ "$connect_attempts" -gt 1 ]; then
      connect_attempts=$((connect_attempts - 1))
      echo "the display refused VexiloDesktop's connection; starting it again" >&2
      sleep 1
      start_desktop
      continue
    fi
    echo "VexiloDesktop exited before its window appeared; its output:" >&2
    cat "$log_file" >&2
    exit 1
  fi
  # By process as well as title: other tests may show windows of the same title on this display.
  window_id=$(xdotool search --pid "$desktop_pid" --name "^${title}\$" 2>/dev/null | head -n 1 || true)
  [ -n "$window_id" ] && break
  sleep 0.5
done
if [ -z "$window_id" ]; then
  echo "no window titled \"$title\" within ${wait_seconds} s" >&2
  exit 1
fi

# Give the first paint a moment to land on the screen.
sleep 2
xwininfo -id "$window_id" | grep -E "Width|Height" || true
import -window root "$output_dir/desktop_window.png"
test -s "$output_dir/desktop_window.png"
echo "window $window_id shown; screenshot in $output_dir/desktop_window.png"
