#!/usr/bin/env bash
# Crawl benchmarks, side by side with their peers in one run: Marrowby
# (--headless --delay 0), wget --spider -r and linkchecker (one thread, no
# per-request wait), all against the same nginx on 127.0.0.1.
#   bench/crawl.sh BUILD_DIR      prints a table and KEY=VALUE lines
# Sites: a generated one of 1,000 pages and 2,000 objects, and the Python
# documentation that Debian ships (python3.11-doc). Also the heartbeat of the
# window during a slow crawl (bench_heartbeat).
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d)
chmod 755 "$work"
trap 'nginx_stop; rm -rf "$work"' EXIT

need() {
  local missing=()
  for p in "$@"; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# A site of $1 pages and $2 objects: every page links to the next five pages
# and uses four objects, two of its own and two shared ones.
generate_site() {
  local dir=$1 pages=$2 objects=$3
  mkdir -p "$dir/img"
  python3 - "$dir" "$pages" "$objects" <<'PY'
import sys, os
d, n, m = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(m):
    with open(f"{d}/img/o{i}.gif", "wb") as f:
        f.write(b"GIF89a" + bytes(100 + i % 400))
for i in range(n):
    links = "".join(f'<li><a href="p{(i + k) % n}.html">page {(i + k) % n}</a></li>' for k in range(1, 6))
    imgs = "".join(f'<img src="img/o{j}.gif" alt="">' for j in (2 * i % m, (2 * i + 1) % m, 0, 1))
    body = f"<!DOCTYPE html><html><head><title>Page {i}</title><link rel=stylesheet href=site.css></head><body><h1>Page {i}</h1><ul>{links}</ul>{imgs}<p>{'Some text. ' * 40}</p></body></html>"
    name = "index.html" if i == 0 else f"p{i}.html"
    with open(f"{d}/{name}", "w") as f:
        f.write(body)
with open(f"{d}/site.css", "w") as f:
    f.write("body { font-family: sans-serif }\n")
PY
}

nginx_start() { # root port
  cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  server {
    listen 127.0.0.1:$2;
    root $1;
    add_header LinkChecker 1; # lets linkchecker go faster than 10 requests a second
  }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work"
}
nginx_stop() { [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -f "$work/nginx.pid"; sleep 0.2; }

seconds() { # command... : wall seconds of one run
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

crawl_site() { # name root
  local name=$1 root=$2 port=18765
  nginx_start "$root" "$port"
  local url="http://127.0.0.1:$port/"
  local pages
  printf '[checking]\nmaxrequestspersecond=100000\n' >"$work/linkcheckerrc"
  chmod 644 "$work/linkcheckerrc"
  local m w l
  m=$(seconds "$build/app/marrowby" --headless --delay 0 --report "$work/report-$name" "$url")
  pages=$(($(wc -l <"$work/report-$name/pages.csv") - 1))
  w=$(seconds wget --spider -r -l inf -np -nd -q -P "$work/wget" "$url")
  l=$(seconds linkchecker -t 1 -f "$work/linkcheckerrc" --no-status -o none "$url")
  nginx_stop
  printf '%-22s %6s pages  marrowby %7.2f s  wget %7.2f s  linkchecker %7.2f s\n' "$name" "$pages" "$m" "$w" "$l"
  echo "crawl_${name}_pages=$pages"
  echo "crawl_${name}_marrowby_s=$m"
  echo "crawl_${name}_wget_s=$w"
  echo "crawl_${name}_linkchecker_s=$l"
}

need nginx linkchecker wget bc python3.11-doc
cmake --build "$build" --target marrowby bench_heartbeat >/dev/null 2>&1
generate_site "$work/site" 1000 2000
crawl_site generated "$work/site"
crawl_site python_docs /usr/share/doc/python3.11/html
"$build/bench/bench_heartbeat" 2>/dev/null
