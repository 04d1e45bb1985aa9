#!/usr/bin/env bash
# Takes the screenshot of the sample site's HTML report in headless Chromium:
# scripts/report-screenshot.sh [OUT.png] (docs/report.png by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/report.png}")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$root" # the site as the README names it, not where this clone lives
"${MARROWBY_BIN:-$root/build/app/marrowby}" --headless --no-external --site examples/site \
  --report "$tmp/report" --format html >/dev/null 2>&1 || true
timeout 60 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
  --user-data-dir="$tmp/chromium" --window-size=1000,1400 --screenshot="$out" \
  "file://$tmp/report/report.html" 2>/dev/null
