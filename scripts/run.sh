#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it: scripts/run.sh [ARGS...]
#
# With no arguments it crawls the sample site in examples/site in the window,
# with a short pause between pages. Without a display it says so, runs the
# same crawl headless, prints where the report is and exits with the crawl's
# exit code (4: the sample site has broken links on purpose).
#
# Only the program and its skip list are built, never the tests, benchmarks
# or fuzz targets. MARROWBY_BUILD_DIR names another build tree (default
# build/); MARROWBY_NO_SETUP=1 skips the package check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MARROWBY_BUILD_DIR:-$root/build}

[ "${MARROWBY_NO_SETUP:-}" = 1 ] || "$root/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target marrowby
program=$build/app/marrowby

if [ $# -gt 0 ]; then
  exec "$program" "$@"
fi

site=$root/examples/site
headless() {
  local report=$build/sample-report status=0
  "$program" --headless --delay 0 --site "$site" --report "$report" || status=$?
  echo "run.sh: the report is in $report (pages.csv, objects.csv, links.csv, referrers.csv)"
  exit "$status"
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display, so the sample site is crawled headless"
  headless
fi
# The program exits 1 at once, saying why, when no display answers.
status=0
"$program" --delay 1 --site "$site" || status=$?
if [ "$status" -eq 1 ]; then
  echo "run.sh: the display did not answer, so the sample site is crawled headless"
  headless
fi
exit "$status"
