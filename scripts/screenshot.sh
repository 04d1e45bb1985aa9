#!/usr/bin/env bash
# Takes a screenshot of the window under Xvfb: scripts/screenshot.sh OUT.png [ARGS...]
# Needs imagemagick (import) besides what setup.sh installs; with openbox
# installed the window gets a frame with its caption. MARROWBY_SHOT_KEYS are
# pressed (xdotool key) a second before the shot, e.g. Return to close a box.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1"); shift
export MARROWBY_SHOT_OUT=$out MARROWBY_SHOT_WAIT=${MARROWBY_SHOT_WAIT:-5} MARROWBY_SHOT_KEYS=${MARROWBY_SHOT_KEYS:-}
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$(mktemp -d)} # no address history of yours in the shot
xvfb-run -a -s "-screen 0 1024x860x24" bash -c '
  if command -v openbox >/dev/null; then openbox >/dev/null 2>&1 & sleep 1; fi
  "$0" "$@" & app=$!
  sleep "${MARROWBY_SHOT_WAIT:-5}"
  if [ -n "$MARROWBY_SHOT_KEYS" ]; then xdotool key $MARROWBY_SHOT_KEYS; sleep 1; fi
  import -window root -crop 840x720+165+130 "$MARROWBY_SHOT_OUT"
  kill $app; wait $app || true
' "${MARROWBY_BIN:-$root/build/app/marrowby}" "$@"
