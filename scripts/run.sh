#!/usr/bin/env bash
# Installs what is missing, builds, and starts Marrowby: scripts/run.sh [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$root/build/app/marrowby" "$@"
