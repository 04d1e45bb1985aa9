#!/usr/bin/env bash
# Takes a screenshot of the window under Xvfb: scripts/screenshot.sh OUT.png [ARGS...]
# Needs imagemagick (import) besides what setup.sh installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1"); shift
xvfb-run -a -s "-screen 0 1024x800x24" bash -c '
  "$0" "$@" & app=$!
  sleep 4
  import -window root -crop 830x700+170+150 "'"$out"'"
  kill $app; wait $app || true
' "${MARROWBY_BIN:-$root/build/app/marrowby}" "$@"
