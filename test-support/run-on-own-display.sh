#!/usr/bin/env bash
# Runs one test program on an X display of its own. Window tests running side by side on one
# shared display cover each other and take each other's pointer, so a hover or a click reaches
# the wrong window. Xvfb chooses a free display number itself, which avoids the race of
# several servers starting at once.
set -uo pipefail

# Without Xvfb the program uses the display it was given.
if ! command -v Xvfb >/dev/null; then
  exec "$@"
fi

display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT

# The server writes its display number and a newline once it accepts clients.
for _ in $(seq 1 600); do
  [[ $(wc -l <"$display_file") -ge 1 ]] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
display_number=$(head -n 1 "$display_file")
if [[ -z "$display_number" ]]; then
  echo "run-on-own-display: Xvfb did not start" >&2
  exit 1
fi

DISPLAY=":$display_number" "$@"
